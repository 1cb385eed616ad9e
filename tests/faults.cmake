# The whole program under bad input, failing host scripts, unreadable and
# unwritable files, and inputs of unusual size.
vm_add_gtest(faults_test
  SOURCES faults_test.cpp faults_scripts_test.cpp faults_files_test.cpp
  LIBS vm_app_fixture)
target_compile_definitions(faults_test PRIVATE VM_TEST_RECORDER="$<TARGET_FILE:vm_test_recorder>")
add_dependencies(faults_test vm_test_recorder)
# A runaway pattern or a script that never ends must fail the test, not
# stall the whole suite.
set(faults_timeout_file ${CMAKE_CURRENT_BINARY_DIR}/faults_test_timeout.cmake)
file(WRITE ${faults_timeout_file}
  "if(faults_test_TESTS)\n"
  "  set_tests_properties(\${faults_test_TESTS} PROPERTIES TIMEOUT 300)\n"
  "endif()\n")
set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${faults_timeout_file})
