# Draws the README's example picture with MergeFileCli itself: the README's
# STM32 layout (a header sector with the application's length and CRC-32, the
# application in a slot, padding to the end of a 256 KiB flash of 2 KiB
# sectors), as a dry run.
#   cmake -DPROGRAM=MergeFileCli -DOUT=stm32-layout.svg -P readme_picture.cmake
get_filename_component(work "${OUT}" DIRECTORY)
set(work "${work}/readme-picture")
file(REMOVE_RECURSE "${work}")
file(MAKE_DIRECTORY "${work}")
# 30,000 bytes of application: what they are does not show in the picture.
string(REPEAT "application " 2500 app)
file(WRITE "${work}/app.bin" "${app}")
execute_process(COMMAND "${PROGRAM}" --dry-run --base 08000000 --pad-to 40000 --flash 08000000,40000 --sector-size 800
                        --field length@08000000,08000800-08040000 --field crc32@08000004,08000800-08040000
                        --picture "${OUT}" -o flash.bin 08000800:3F800 app.bin
                WORKING_DIRECTORY "${work}" RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "MergeFileCli could not draw the example: ${out}${err}")
endif()
file(REMOVE_RECURSE "${work}")
# With COMPARE, the picture the README shows must be the one drawn now.
if(COMPARE)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${OUT}" "${COMPARE}" RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "${COMPARE} is not what MergeFileCli draws now: draw it again with "
                            "cmake -DPROGRAM=<MergeFileCli> -DOUT=${COMPARE} -P docs/readme_picture.cmake")
    endif()
endif()
