# Host script calls as the host sees them: long style requests, and the busy
# cursor while a styling run waits for its scripts.
vm_add_gtest(host_requests_test
  SOURCES busy_cursor_test.cpp long_requests_test.cpp
  LIBS vm_app_fixture vm_standin_core)
target_compile_definitions(host_requests_test PRIVATE
  VM_TEST_RECORDER="$<TARGET_FILE:vm_test_recorder>"
  VM_STANDIN_HOST="$<TARGET_FILE:vm-standin-host>"
  VM_STANDIN_SCRIPT="$<TARGET_FILE:vm-standin-script>")
add_dependencies(host_requests_test vm_test_recorder vm-standin-host vm-standin-script)

if(VM_WITH_QT)
  vm_add_gtest(qt_busy_cursor_test SOURCES qt/qt_busy_cursor_test.cpp
    LIBS vm_qt vm_platform Qt6::Widgets
    ENV QT_QPA_PLATFORM=offscreen)
endif()
