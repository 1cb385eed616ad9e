# Where the Qt backend meets the real world: starting without a display, the
# click that activates the window, a saved frame off every screen. The real
# program's window under a virtual X server; each test skips (77) while the
# program or a tool it needs is missing.
if(VM_WITH_QT)
  add_test(NAME window_no_display
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/window/test_no_display.py
      --program ${VM_BUNDLE_MACOS}/Vellowmark
      --tmp ${CMAKE_BINARY_DIR}/test-tmp)
  set_tests_properties(window_no_display PROPERTIES
    SKIP_RETURN_CODE 77
    TIMEOUT 120)
endif()
