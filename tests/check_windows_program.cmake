cmake_minimum_required(VERSION 3.16)
# Reads a built Windows program with objdump: a 32-bit PE of the given
# subsystem (2 GUI, 3 console) that needs no DLL beyond Windows' own, and, for
# the window program, two icon images, the group icon and the asInvoker
# manifest in its resources.
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} RESULT_VARIABLE rc OUTPUT_VARIABLE headers ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump cannot read ${PROGRAM}: ${err}")
endif()
if(NOT headers MATCHES "file format pei-i386")
    message(FATAL_ERROR "${PROGRAM} is not a 32-bit Windows program")
endif()
if(NOT headers MATCHES "Subsystem[\t ]+0000000${SUBSYSTEM}")
    message(FATAL_ERROR "${PROGRAM} is not of subsystem ${SUBSYSTEM}")
endif()

# Only DLLs that every Windows has: no Qt, no compiler runtime beside the program.
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
set(system advapi32 comdlg32 crypt32 dwmapi gdi32 imm32 kernel32 mpr msvcrt netapi32 ole32 oleaut32 shell32 user32
           userenv uxtheme version winmm ws2_32 wtsapi32 winspool.drv)
foreach(import IN LISTS imports)
    string(REGEX REPLACE "DLL Name: ([^ \r]+)" "\\1" dll "${import}")
    string(TOLOWER "${dll}" dll)
    string(REGEX REPLACE "\\.dll$" "" dll "${dll}")
    if(NOT dll IN_LIST system)
        message(FATAL_ERROR "${PROGRAM} needs ${dll}, which Windows does not bring")
    endif()
endforeach()

if(RESOURCES)
    # Types 3 (icon), 14 (group icon) and 24 (manifest) at the top of the tree.
    foreach(type 000003 00000e 000018)
        if(NOT headers MATCHES "\n[0-9a-f]+   Entry: ID: 0x${type},")
            message(FATAL_ERROR "${PROGRAM} lacks resources of type 0x${type}")
        endif()
    endforeach()
    string(REGEX MATCH "\n[0-9a-f]+   Entry: ID: 0x000003,.*\n[0-9a-f]+   Entry: ID: 0x00000e," icons "${headers}")
    string(REGEX MATCHALL "Leaf:" leaves "${icons}")
    list(LENGTH leaves count)
    if(NOT count EQUAL 2)
        message(FATAL_ERROR "${PROGRAM} holds ${count} icon images, not 2")
    endif()
    file(STRINGS ${PROGRAM} manifest REGEX "requestedExecutionLevel")
    if(NOT manifest MATCHES "level=\"asInvoker\" uiAccess=\"false\"")
        message(FATAL_ERROR "${PROGRAM} has no asInvoker manifest")
    endif()
endif()
list(LENGTH imports dllCount)
message(STATUS "${PROGRAM}: PE32, subsystem ${SUBSYSTEM}, ${dllCount} system DLLs")
