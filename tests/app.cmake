# The program's own subsystems, run in-process on the headless backend.
add_executable(vm_test_recorder support/recorder.cpp)
add_library(vm_app_fixture STATIC support/app_fixture.cpp)
target_link_libraries(vm_app_fixture PUBLIC vm_app GTest::gtest)
target_include_directories(vm_app_fixture PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(vm_app_fixture PRIVATE VM_RECORDER_PATH="$<TARGET_FILE:vm_test_recorder>")
add_dependencies(vm_app_fixture vm_test_recorder)

vm_add_gtest(app_shell_test SOURCES app_shell_test.cpp LIBS vm_app_fixture)
