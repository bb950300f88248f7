# The test programs of the Windows cross build: the end-to-end suite, run under
# wine64 with a fresh prefix in the build folder and no display.
#
# GoogleTest is built from the source Debian's googletest package ships.
set(OSTRAND_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree (Debian package googletest)")
if(NOT EXISTS ${OSTRAND_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest source in ${OSTRAND_GOOGLETEST_SOURCE}: install googletest")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${OSTRAND_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

add_executable(e2e_tests ${OSTRAND_E2E_TEST_SOURCES})
target_link_libraries(e2e_tests PRIVATE GTest::gtest_main)
# Only the host-side headers of the test support are used here.
ostrand_include_root(e2e_tests PRIVATE tests/support)
ostrand_hosting_executable(e2e_tests)

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  message(WARNING "wine64 not found: the Windows tests are built but not registered")
  return()
endif()

# Every test process shares one prefix, made once before the first of them.
set(OSTRAND_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(wine_environment
  WINEPREFIX=${OSTRAND_WINEPREFIX} WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=)
add_test(NAME wine_prefix COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot --init)
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${wine_environment}"
  ENVIRONMENT_MODIFICATION "DISPLAY=unset:;WAYLAND_DISPLAY=unset:" LABELS e2e)

# The whole suite in one process: starting a program under wine costs more
# than most tests. The comparison with the Linux build has a test of its own.
add_test(NAME e2e COMMAND e2e_tests --gtest_filter=-*.AgreesWithAnotherBuild)
set(e2e_tests e2e)

# The same calculation through the Linux build (its end-to-end program) and
# through this one: the Windows run compares the two weights files and
# deformed meshes.
set(OSTRAND_LINUX_E2E_TESTS ${PROJECT_SOURCE_DIR}/build/default/tests/e2e_tests
  CACHE FILEPATH "The Linux build's end-to-end program, for the agreement test")
set(agreement ${CMAKE_BINARY_DIR}/agreement)
if(EXISTS ${OSTRAND_LINUX_E2E_TESTS})
  add_test(NAME e2e.linux_reference COMMAND ${CMAKE_COMMAND} -E env OSTRAND_REFERENCE_OUT=${agreement}/linux
    ${OSTRAND_LINUX_E2E_TESTS} --gtest_filter=ReferenceRun.WritesWeightsAndDeformedPoints)
  set_tests_properties(e2e.linux_reference PROPERTIES FIXTURES_SETUP linux_reference LABELS e2e)
  add_test(NAME e2e.AgreesWithAnotherBuild COMMAND e2e_tests --gtest_filter=ReferenceRun.AgreesWithAnotherBuild)
  list(APPEND e2e_tests e2e.AgreesWithAnotherBuild)
else()
  message(STATUS "No Linux build at ${OSTRAND_LINUX_E2E_TESTS}: the agreement test is left out")
endif()

set_tests_properties(${e2e_tests} PROPERTIES FIXTURES_REQUIRED wine LABELS e2e
  ENVIRONMENT "${wine_environment}" ENVIRONMENT_MODIFICATION "DISPLAY=unset:;WAYLAND_DISPLAY=unset:")
if(TEST e2e.AgreesWithAnotherBuild)
  set_property(TEST e2e.AgreesWithAnotherBuild APPEND PROPERTY FIXTURES_REQUIRED linux_reference)
  set_property(TEST e2e.AgreesWithAnotherBuild APPEND PROPERTY ENVIRONMENT
    OSTRAND_REFERENCE_IN=Z:${agreement}/linux OSTRAND_REFERENCE_OUT=Z:${agreement}/windows)
endif()
