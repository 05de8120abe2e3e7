# Run by CPack on the staged files before it packs them: the programs lose
# the compiler's .comment and .note sections, as Debian's own packages do.
find_program(objcopy NAMES objcopy REQUIRED)
file(GLOB_RECURSE programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/bin/*" "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/bin/*")
foreach(program IN LISTS programs)
    execute_process(COMMAND ${objcopy} --remove-section=.comment --remove-section=.note ${program}
                    RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "objcopy could not strip ${program}")
    endif()
endforeach()
