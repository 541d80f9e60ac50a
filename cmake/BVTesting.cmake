# bv_add_test(NAME SOURCES ... LIBS ...)
# Every test binary uses the shared test main, which gives each process its own temporary HOME and
# XDG folders and the offscreen Qt platform. Tests are discovered when CTest runs, not at build time.
function(bv_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE bv_testmain ${ARG_LIBS} GTest::gtest GTest::gmock)
    bv_target_defaults(${name})
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES TIMEOUT ${ARG_TIMEOUT}
            ENVIRONMENT "BV_SOURCE_DIR=${PROJECT_SOURCE_DIR};BV_BINARY_DIR=${PROJECT_BINARY_DIR};LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1;TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp:die_after_fork=0:second_deadlock_stack=1")
endfunction()
