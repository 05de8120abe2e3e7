cmake_minimum_required(VERSION 3.16)
# The include order check on small engines made here: one that keeps the
# order passes; each way of closing a circle across folders is caught, by the
# line that names it.
set(failures "")

# check_case(NAME EXPECT [FILE TEXT...]): an engine whose stages hold one
# header each, the facade running them, with the files given written over;
# EXPECT: "" to pass, else what the check's failure must say.
function(check_case name expect)
    set(root ${WORK}/${name})
    file(REMOVE_RECURSE ${root})
    file(WRITE ${root}/Vocabulary.h "#include <QtGlobal>\n")
    file(WRITE ${root}/MergeJob.h "#include \"Vocabulary.h\"\n")
    file(WRITE ${root}/MergeJob.cpp "#include \"MergeJob.h\"\n#include \"stream/Walk.h\"\n#include \"output/Pass.h\"\n")
    file(WRITE ${root}/fields/Kind.h "#include \"Vocabulary.h\"\n#include \"platform/Io.h\"\n")
    file(WRITE ${root}/platform/Io.h "#include <sys/types.h>\n")
    file(WRITE ${root}/stream/Walk.h "#include \"fields/Kind.h\"\n#include <QtCore/QString>\n")
    file(WRITE ${root}/stream/Walk.cpp "#include \"Walk.h\"\n#include \"stream/Walk.h\"\n")
    file(WRITE ${root}/output/Pass.h "#include \"stream/Walk.h\"\n#include <fields/Kind.h>\n")
    set(pairs ${ARGN})
    while(pairs)
        list(POP_FRONT pairs path text)
        file(WRITE ${root}/${path} "${text}\n")
    endwhile()
    execute_process(COMMAND ${CMAKE_COMMAND} -DENGINE=${root} -P ${CHECK} RESULT_VARIABLE code OUTPUT_VARIABLE out
                    ERROR_VARIABLE out)
    if(expect STREQUAL "")
        if(NOT code EQUAL 0)
            set(failures "${failures}\n  ${name}: refused an engine in order: ${out}" PARENT_SCOPE)
        endif()
    elseif(code EQUAL 0)
        set(failures "${failures}\n  ${name}: passed" PARENT_SCOPE)
    elseif(NOT out MATCHES "${expect}")
        set(failures "${failures}\n  ${name}: not \"${expect}\" in: ${out}" PARENT_SCOPE)
    endif()
endfunction()

check_case(in_order "")
check_case(stage_reaches_forward "stream/Walk.h includes output/"
           stream/Walk.h "#include \"output/Pass.h\"")
check_case(forward_in_angle_brackets "stream/Walk.cpp includes writers/"
           stream/Walk.cpp "#include <writers/Writer.h>" writers/Writer.h "#include <QtGlobal>")
check_case(stage_includes_the_facade "stream/Walk.cpp includes the facade MergeJob.h"
           stream/Walk.cpp "#include \"MergeJob.h\"")
check_case(climbs_out_of_its_folder "stream/Walk.h includes ../output/Pass.h, out of its folder"
           stream/Walk.h "#include \"../output/Pass.h\"")
check_case(root_includes_a_stage "Vocabulary.h includes stream/"
           Vocabulary.h "#include \"stream/Walk.h\"")
check_case(indented_directive "fields/Kind.h includes stream/"
           fields/Kind.h "  #  include \"stream/Walk.h\"")

if(failures)
    message(FATAL_ERROR "the include order check:${failures}")
endif()
message(STATUS "the include order check catches every circle tried")
