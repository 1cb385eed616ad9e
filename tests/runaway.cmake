# Runaway patterns end with the limit outcome, and long ordinary searches
# finish whole. A regression shows as a hang: the timeout ends it.
vm_add_gtest(runaway_test SOURCES runaway_test.cpp LIBS vm_engine vm_regex_binding)
set(runaway_timeout_file ${CMAKE_CURRENT_BINARY_DIR}/runaway_test_timeout.cmake)
file(WRITE ${runaway_timeout_file}
  "if(runaway_test_TESTS)\n"
  "  set_tests_properties(\${runaway_test_TESTS} PROPERTIES TIMEOUT 300)\n"
  "endif()\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${runaway_timeout_file})
