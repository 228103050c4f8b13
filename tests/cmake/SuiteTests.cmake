# One ctest test per GoogleTest suite instead of one per case: the cases of a suite share one
# process, so what a suite builds once (tiles, their models) is built once per run, not per case.
# The suites are listed when ctest starts, so a new suite needs no change here.
#
#   hgtfill_add_suite_tests(<target> [LABELS <label>...] [TIMEOUT <seconds>] [ENVIRONMENT <var=value>...])
function(hgtfill_add_suite_tests target)
    cmake_parse_arguments(ARG "" "TIMEOUT" "LABELS;ENVIRONMENT" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 600)
    endif()
    set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}_suites.cmake")
    file(GENERATE OUTPUT "${script}" CONTENT "\
set(executable [==[$<TARGET_FILE:${target}>]==])
set(labels [==[${ARG_LABELS}]==])
set(environment [==[${ARG_ENVIRONMENT}]==])
if(NOT EXISTS \"\${executable}\")
    add_test([==[${target}_NOT_BUILT]==] [==[${target}_NOT_BUILT]==])
    return()
endif()
execute_process(COMMAND \"\${executable}\" --gtest_list_tests
    OUTPUT_VARIABLE listing RESULT_VARIABLE status TIMEOUT 60)
if(NOT status EQUAL 0)
    message(FATAL_ERROR \"\${executable} --gtest_list_tests failed: \${status}\")
endif()
string(REPLACE \"\\n\" \";\" lines \"\${listing}\")
foreach(line IN LISTS lines)
    # A suite's line is its name and a dot at the start of the line; its cases are indented.
    if(line MATCHES \"^([^ #][^ ]*)\\\\.\")
        set(suite \"\${CMAKE_MATCH_1}\")
        add_test(\"\${suite}\" \"\${executable}\" \"--gtest_filter=\${suite}.*\")
        set_tests_properties(\"\${suite}\" PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS \"\${labels}\" ENVIRONMENT \"\${environment}\")
    endif()
endforeach()
")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
endfunction()
