# Run by ctest after the unit tests' discovery scripts (TEST_INCLUDE_FILES):
# the tests of unit_thread_tests, which its discovery listed in
# threaded_unit_tests, get the label "threads" beside "unit". The label list
# cannot go through gtest_discover_tests' PROPERTIES, which splits it into
# separate arguments. Nothing is listed while unit_thread_tests is not built.
if(threaded_unit_tests)
  set_tests_properties(${threaded_unit_tests} PROPERTIES LABELS "unit;threads")
endif()
