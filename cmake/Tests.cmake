# Test harness. Cross builds run every test binary under Wine, in one fresh prefix per ctest run:
# the fixture test "wine_prefix_setup" boots it (and installs the stand-ins for outside programs),
# "wine_prefix_cleanup" stops its server and removes it. Windows are drawn on the run's own X
# server (Xvfb), which the fixture "xvfb" starts before the prefix and stops after it; no test uses
# the display of the person running them. Native builds run the portable tests directly.
include(GoogleTest)

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

set(TAVRO_TEST_RUN_DIR ${CMAKE_BINARY_DIR}/test-run)
# The fixed local ports of the tests whose program links its server list (window, startup and
# end-to-end tests): BASE+1..BASE+6 and BASE+11..BASE+17. Two build trees on one machine run their
# tests side by side when their bases differ.
set(TAVRO_TEST_PORT_BASE 47300 CACHE STRING "Base of the fixed local ports some tests listen on")
math(EXPR TAVRO_WINDOW_TEST_FIRST_PORT "${TAVRO_TEST_PORT_BASE} + 1")
math(EXPR TAVRO_E2E_BASE_PORT "${TAVRO_TEST_PORT_BASE} + 10")
set(TAVRO_STANDIN_DIR ${CMAKE_BINARY_DIR}/tools)
set(TAVRO_TEST_DISPLAY_DIR ${CMAKE_BINARY_DIR}/test-display)
# Prefixed to a test's own driver script that starts Wine programs itself: they see the run's
# display (see cmake/with-test-display.sh).
set(TAVRO_WITH_TEST_DISPLAY ${CMAKE_SOURCE_DIR}/cmake/with-test-display.sh)
set(TAVRO_DISPLAY_FILE ${TAVRO_TEST_DISPLAY_DIR}/display)
# The environment of everything that runs under Wine in a test run.
set(TAVRO_WINE_TEST_ENVIRONMENT
    "WINEPREFIX=${TAVRO_TEST_RUN_DIR}/prefix;HOME=${TAVRO_TEST_RUN_DIR}/home;WINEDEBUG=-all;TAVRO_DISPLAY_FILE=${TAVRO_DISPLAY_FILE}")

if(CMAKE_CROSSCOMPILING)
    add_test(NAME xvfb_setup COMMAND ${CMAKE_SOURCE_DIR}/cmake/xvfb.sh setup ${TAVRO_TEST_DISPLAY_DIR})
    set_tests_properties(xvfb_setup PROPERTIES FIXTURES_SETUP xvfb TIMEOUT 60)
    add_test(NAME xvfb_cleanup COMMAND ${CMAKE_SOURCE_DIR}/cmake/xvfb.sh cleanup ${TAVRO_TEST_DISPLAY_DIR})
    set_tests_properties(xvfb_cleanup PROPERTIES FIXTURES_CLEANUP xvfb TIMEOUT 60)

    add_test(NAME wine_prefix_setup
             COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-prefix.sh setup ${TAVRO_TEST_RUN_DIR} ${TAVRO_STANDIN_DIR}
                     ${CMAKE_BINARY_DIR}/test-signing/ca.pem)
    set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP wine_prefix FIXTURES_REQUIRED xvfb
                         TIMEOUT 300 ENVIRONMENT "TAVRO_DISPLAY_FILE=${TAVRO_DISPLAY_FILE}")
    add_test(NAME wine_prefix_cleanup
             COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-prefix.sh cleanup ${TAVRO_TEST_RUN_DIR})
    set_tests_properties(wine_prefix_cleanup PROPERTIES FIXTURES_CLEANUP wine_prefix FIXTURES_REQUIRED xvfb
                         TIMEOUT 120)

    # A copy of the prefix for the tests at other DPIs (tavro_add_dpi_test).
    add_test(NAME dpi_prefix_setup
             COMMAND ${CMAKE_SOURCE_DIR}/cmake/dpi-prefix.sh setup ${TAVRO_TEST_RUN_DIR} ${TAVRO_STANDIN_DIR})
    set_tests_properties(dpi_prefix_setup PROPERTIES FIXTURES_SETUP dpi_prefix
                         FIXTURES_REQUIRED "xvfb;wine_prefix" TIMEOUT 120
                         ENVIRONMENT "TAVRO_DISPLAY_FILE=${TAVRO_DISPLAY_FILE};HOME=${TAVRO_TEST_RUN_DIR}/home")
    add_test(NAME dpi_prefix_cleanup COMMAND ${CMAKE_SOURCE_DIR}/cmake/dpi-prefix.sh cleanup ${TAVRO_TEST_RUN_DIR})
    # Required like the setup, so it runs before the shared prefix's cleanup removes the whole
    # run folder (and with it this prefix, whose server would then never be told to end).
    set_tests_properties(dpi_prefix_cleanup PROPERTIES FIXTURES_CLEANUP dpi_prefix
                         FIXTURES_REQUIRED "xvfb;wine_prefix" TIMEOUT 120
                         ENVIRONMENT "HOME=${TAVRO_TEST_RUN_DIR}/home")
endif()

# tavro_add_dpi_test(NAME DPI [LOCKS lock...] [ENVIRONMENT var=value...] COMMAND command...)
# A test that runs its command in the DPI prefix with LogPixels set to DPI (and
# TAVRO_EXPECTED_DPI=DPI in its environment); such tests take turns in that prefix. They also
# hold install_root, as the window and end-to-end tests of the shared prefix do: a window that
# opens on the run's display takes the X keyboard focus from the one being typed into.
function(tavro_add_dpi_test name dpi)
    cmake_parse_arguments(T "" "" "LOCKS;ENVIRONMENT;COMMAND" ${ARGN})
    add_test(NAME ${name}
             COMMAND ${CMAKE_SOURCE_DIR}/cmake/dpi-prefix.sh run ${TAVRO_TEST_RUN_DIR} ${dpi} -- ${T_COMMAND})
    set_tests_properties(${name} PROPERTIES TIMEOUT 240 RESOURCE_LOCK "dpi_prefix;install_root;${T_LOCKS}"
                         FIXTURES_REQUIRED "xvfb;wine_prefix;dpi_prefix"
                         ENVIRONMENT "${TAVRO_WINE_TEST_ENVIRONMENT};${T_ENVIRONMENT}")
endfunction()

# tavro_add_test(NAME SOURCES ... LIBS ... [TIMEOUT s] [LOCKS lock...])
# One test binary; every TEST() in its sources becomes its own ctest test, so tests run in
# separate processes. LOCKS names shared resources (e.g. the fixed install root) that tests of
# different binaries must not use at the same time.
function(tavro_add_test name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LOCKS" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} tavro_test_files GTest::gtest_main)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    tavro_warnings(${name})
    gtest_add_tests(TARGET ${name} SOURCES ${T_SOURCES} TEST_LIST discovered)
    set_tests_properties(${discovered} PROPERTIES TIMEOUT ${T_TIMEOUT})
    if(T_LOCKS)
        set_tests_properties(${discovered} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
    endif()
    if(CMAKE_CROSSCOMPILING)
        set_tests_properties(${discovered} PROPERTIES
            FIXTURES_REQUIRED "xvfb;wine_prefix"
            ENVIRONMENT "${TAVRO_WINE_TEST_ENVIRONMENT}")
    endif()
endfunction()

# tavro_add_linked_test(NAME TARGET binary LINKS KIND:PATH... [TIMEOUT s])
# Runs the test NAME (Suite.Case) of a test binary with links planted in the test prefix first
# (cmake/plant-links.sh, which also fails the test when what a link points to has changed).
# Such a binary is not registered with tavro_add_test: its tests only make sense with the links.
# They hold the install_root lock, since the links lie below the install root's parent.
function(tavro_add_linked_test name)
    cmake_parse_arguments(T "" "TARGET;TIMEOUT" "LINKS" ${ARGN})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 60)
    endif()
    add_test(NAME ${name}
             COMMAND ${CMAKE_SOURCE_DIR}/cmake/plant-links.sh ${T_LINKS} --
                     ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${T_TARGET}>
                     --gtest_filter=${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} RESOURCE_LOCK install_root
                         FIXTURES_REQUIRED "xvfb;wine_prefix"
                         ENVIRONMENT "${TAVRO_WINE_TEST_ENVIRONMENT}")
endfunction()
