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

  add_test(NAME window_off_screen_frame
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/window/test_off_screen_frame.py
      --program ${VM_BUNDLE_MACOS}/Vellowmark
      --tmp ${CMAKE_BINARY_DIR}/test-tmp)
  set_tests_properties(window_off_screen_frame PROPERTIES
    SKIP_RETURN_CODE 77
    TIMEOUT 240
    ENVIRONMENT "QT_QPA_PLATFORM=xcb")
endif()

if(VM_WITH_QT)
  # With the stand-in host answering for the host application.
  add_test(NAME e2e_activating_click
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/test_activating_click.py
      --program ${VM_BUNDLE_MACOS}/Vellowmark
      --host $<TARGET_FILE:vm-standin-host>
      --sample ${CMAKE_SOURCE_DIR}/standin/sample
      --artifacts ${VM_ARTIFACTS}
      --tmp ${CMAKE_BINARY_DIR}/test-tmp)
  set_tests_properties(e2e_activating_click PROPERTIES
    SKIP_RETURN_CODE 77
    TIMEOUT 240
    LABELS e2e
    ENVIRONMENT "QT_QPA_PLATFORM=xcb")
endif()
