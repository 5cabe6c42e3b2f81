# cadmo_add_test(name SOURCES a.cpp b.cpp LIBS x y [LABELS l])
# Builds one GoogleTest binary, cadmo-test-<name>, and registers its cases with CTest.
function(cadmo_add_test name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    # Every program we build is called cadmo-...: the binary of
    # engine_movie_test is cadmo-test-engine-movie, of cadmo_avi_tests
    # cadmo-test-avi. The target keeps its name, and CTest names the cases.
    string(REGEX REPLACE "^cadmo_" "" program ${name})
    string(REGEX REPLACE "_tests?$" "" program ${program})
    string(REPLACE "_" "-" program ${program})
    set_target_properties(${name} PROPERTIES OUTPUT_NAME cadmo-test-${program})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
    # The properties travel as one flat list, so a list of labels would split
    # into pairs; they are joined into one label instead. ctest matches -L and
    # -LE as regular expressions, so `-L tsan` still finds "engine,tsan".
    set(props ENVIRONMENT "CADMO_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
    if(T_LABELS)
        string(REPLACE ";" "," labels "${T_LABELS}")
        list(APPEND props LABELS "${labels}")
    endif()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
endfunction()
