cmake_minimum_required(VERSION 3.16)
# The Windows MergeFileCli writes Intel HEX, S-records, TI-TXT and Verilog
# memory words that srec_cat, a
# reader that runs only here, turns back into the very image the same program
# writes as bin. The layout has gaps, a file across a 64 KiB boundary and one
# at an odd address; the record size is odd too. Then it reads record files
# that srec_cat made.
set(work ${WORK})
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work})

set(layout)
foreach(piece "a.bin;1000;0x1000" "b.bin;70000;0x1FFF0" "c.bin;5;0x40001")
    list(GET piece 0 name)
    list(GET piece 1 size)
    list(GET piece 2 address)
    execute_process(COMMAND head -c ${size} /dev/urandom OUTPUT_FILE ${work}/${name} RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "cannot make ${name}")
    endif()
    list(APPEND layout ${address} ${name})
endforeach()

# Paths relative to the work folder: an absolute Linux path means nothing to Windows.
function(merge format)
    set(options --format ${format})
    if(format STREQUAL "hex" OR format STREQUAL "srec")
        list(APPEND options --record-size 7)
    elseif(format STREQUAL "vmem")
        list(APPEND options --word-bits 32)
    endif()
    execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${options} -o out.${format} ${layout}
                    WORKING_DIRECTORY ${work} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0 OR NOT out MATCHES "Merge success!")
        message(FATAL_ERROR "${PROGRAM} --format ${format} failed (${rc}): ${out}${err}")
    endif()
endfunction()

merge(bin)
file(SIZE ${work}/out.bin imageSize)
math(EXPR end "0x1000 + ${imageSize}")
foreach(format hex srec ti-txt vmem)
    merge(${format})
    set(type -${format})
    if(format STREQUAL "hex")
        set(type -intel)
    elseif(format STREQUAL "srec")
        set(type -motorola)
    endif()
    # A word's fill past the image's end is cropped away.
    execute_process(COMMAND ${SREC_CAT} out.${format} ${type} -crop 0x1000 ${end} -fill 0xFF 0x1000 ${end}
                            -offset -0x1000 -o back.${format}.bin -binary
                    WORKING_DIRECTORY ${work} RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "srec_cat cannot read the ${format} output: ${err}")
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${work}/out.bin ${work}/back.${format}.bin
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "the ${format} output does not read back as the bin image")
    endif()
endforeach()
message(STATUS "hex, srec, ti-txt and vmem read back as the ${imageSize}-byte image")

# And the other way round: record files that srec_cat makes, read by the
# Windows program at their own addresses, give the image srec_cat makes.
function(tool)
    execute_process(COMMAND ${SREC_CAT} ${ARGN} WORKING_DIRECTORY ${work} RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "srec_cat ${ARGN} failed: ${err}")
    endif()
endfunction()
tool(a.bin -binary -offset 0x08000000 -o in.hex -intel)
tool(b.bin -binary -offset 0x08020000 -o in.s19 -motorola)
tool(c.bin -binary -offset 0x08040000 -o in.txt -ti-txt)
tool("(" in.hex -intel in.s19 -motorola in.txt -ti-txt ")" -fill 0xFF 0x08000000 0x08040005 -offset -0x08000000
     -o expected.bin -binary)
execute_process(COMMAND ${EMULATOR} ${PROGRAM} --base 8000000 -o records.bin - in.hex - in.s19 - in.txt
                WORKING_DIRECTORY ${work} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} cannot merge record inputs (${rc}): ${out}${err}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${work}/expected.bin ${work}/records.bin RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the record inputs do not merge into srec_cat's image")
endif()
message(STATUS "Intel HEX, S-record and TI-TXT inputs merge into srec_cat's image")
file(REMOVE_RECURSE ${work})
