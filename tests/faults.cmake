# The whole program under bad input, failing host scripts, unreadable and
# unwritable files, and inputs of unusual size.
vm_add_gtest(faults_test
  SOURCES faults_test.cpp faults_scripts_test.cpp faults_files_test.cpp
  LIBS vm_app_fixture
  TIMEOUT 300)
target_compile_definitions(faults_test PRIVATE VM_TEST_RECORDER="$<TARGET_FILE:vm_test_recorder>")
add_dependencies(faults_test vm_test_recorder)
