# Rule sets as users keep them: names with the ending in capitals, files in
# UTF-16, each run by a click on its row through the whole program.
vm_add_gtest(real_files_test SOURCES real_files_test.cpp LIBS vm_app_fixture)
target_compile_definitions(real_files_test PRIVATE VM_TEST_RECORDER="$<TARGET_FILE:vm_test_recorder>")
add_dependencies(real_files_test vm_test_recorder)
