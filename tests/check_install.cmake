cmake_minimum_required(VERSION 3.16)
# "cmake --install" with a prefix and DESTDIR, as a packager runs it: the
# programs, the manual pages, the desktop entry (which desktop-file-validate
# must accept), the icon at every hicolor size and scalable, the AppStream
# metainfo, bash's completion and the package's documents land where a Linux
# desktop looks for them, and nowhere else.
set(work ${WORK})
file(REMOVE_RECURSE ${work})
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${work} ${CMAKE_COMMAND} --install ${BUILD} --prefix /opt/mf
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${out}${err}")
endif()

set(expected bin/MergeFile bin/MergeFileCli share/applications/mergefile.desktop
             share/man/man1/MergeFileCli.1.gz share/man/man1/MergeFile.1.gz
             share/doc/mergefile/copyright share/doc/mergefile/changelog.Debian.gz
             share/doc/mergefile/changelog.gz share/doc/mergefile/README.md.gz
             share/icons/hicolor/scalable/apps/mergefile.svg share/lintian/overrides/mergefile
             share/bash-completion/completions/MergeFileCli
             share/metainfo/example.c_seed_23f80df2.MergeFile.metainfo.xml)
foreach(size 16 32 48 64 128 256)
    list(APPEND expected share/icons/hicolor/${size}x${size}/apps/mergefile.png)
endforeach()
file(GLOB_RECURSE installed RELATIVE ${work}/opt/mf ${work}/*)
list(SORT installed)
list(SORT expected)
if(NOT installed STREQUAL expected)
    message(FATAL_ERROR "installed:\n  ${installed}\nexpected:\n  ${expected}")
endif()
# The manual page says this version and every option of --help.
execute_process(COMMAND gzip -dc ${work}/opt/mf/share/man/man1/MergeFileCli.1.gz OUTPUT_VARIABLE page RESULT_VARIABLE rc)
execute_process(COMMAND ${work}/opt/mf/bin/MergeFileCli --help OUTPUT_VARIABLE help)
string(REGEX MATCHALL "\n  (-[a-z], )?--[a-z-]+" options "${help}")
foreach(option IN LISTS options)
    string(REGEX REPLACE ".*(--[a-z-]+)" "\\1" option "${option}")
    string(REPLACE "-" "\\\\-" escaped "${option}")
    if(NOT option STREQUAL "--help-all" AND NOT page MATCHES "${escaped}[^a-z\\]")
        message(FATAL_ERROR "the manual page does not tell ${option}")
    endif()
endforeach()
execute_process(COMMAND ${work}/opt/mf/bin/MergeFileCli --version OUTPUT_VARIABLE version)
string(REGEX REPLACE "MergeFileCli ([^\n]+)\n" "\\1" version "${version}")
if(NOT page MATCHES "MergeFileCli ${version}")
    message(FATAL_ERROR "the manual page is not for ${version}")
endif()

if(VALIDATE)
    execute_process(COMMAND ${VALIDATE} ${work}/opt/mf/share/applications/mergefile.desktop
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0 OR NOT "${out}${err}" STREQUAL "")
        message(FATAL_ERROR "desktop-file-validate: ${out}${err}")
    endif()
else()
    message(STATUS "desktop-file-validate is not here; the desktop entry was not validated")
endif()
file(REMOVE_RECURSE ${work})
message(STATUS "the install tree holds the programs, pages, entry and icons")
