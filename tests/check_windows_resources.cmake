# Compiles MergeFile.rc with windres and reads it back: two icon images and a
# manifest that asks for asInvoker without UI access.
execute_process(
    COMMAND ${WINDRES} --preprocessor=${CPP} MergeFile.rc -O res -o ${WORK_DIR}/MergeFile.res
    WORKING_DIRECTORY ${SOURCE_DIR}
    RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "windres failed: ${err}")
endif()
execute_process(
    COMMAND ${WINDRES} -J res ${WORK_DIR}/MergeFile.res -O rc
    RESULT_VARIABLE rc OUTPUT_VARIABLE decompiled ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "windres could not read the compiled resources back: ${err}")
endif()
string(REGEX MATCHALL "RT_ICON" icons "${decompiled}")
list(LENGTH icons iconCount)
if(NOT iconCount EQUAL 2)
    message(FATAL_ERROR "expected 2 icon images, found ${iconCount}")
endif()
if(NOT decompiled MATCHES "RT_GROUP_ICON")
    message(FATAL_ERROR "the program icon is missing")
endif()
if(NOT decompiled MATCHES "RT_MANIFEST")
    message(FATAL_ERROR "the manifest is missing")
endif()
message(STATUS "resources: ${iconCount} icon images, group icon and manifest")
