# The Qt window backend: unit tests on Qt's offscreen platform, and the real
# program's window under a virtual X server.
if(VM_WITH_QT)
  vm_add_gtest(qt_backend_test SOURCES qt/qt_backend_test.cpp
    LIBS vm_qt vm_platform Qt6::Widgets Qt6::Test
    ENV QT_QPA_PLATFORM=offscreen VM_ARTIFACTS=${VM_ARTIFACTS})

  # Skips (77) while the program is not built or the X tools are missing.
  add_test(NAME window_real_smoke
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/window/test_main_window.py
      --program ${VM_BUNDLE_MACOS}/Vellowmark
      --artifacts ${VM_ARTIFACTS}
      --tmp ${CMAKE_BINARY_DIR}/test-tmp)
  set_tests_properties(window_real_smoke PROPERTIES
    SKIP_RETURN_CODE 77
    TIMEOUT 60
    ENVIRONMENT "QT_QPA_PLATFORM=xcb")
endif()
