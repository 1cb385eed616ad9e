# Where the Qt backend meets the real world: starting without a display, the
# click that activates the window, a saved frame off every screen. The real
# program under a virtual X server (or none); each test skips (77) while the
# program or a tool it needs is missing.
if(VM_WITH_QT)
  # vm_program_test(<name> <script> [<extra arguments...>])
  function(vm_program_test name script)
    add_test(NAME ${name}
      COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/${script}
        --program ${VM_BUNDLE_MACOS}/Vellowmark
        --tmp ${CMAKE_BINARY_DIR}/test-tmp
        ${ARGN})
    set_tests_properties(${name} PROPERTIES
      SKIP_RETURN_CODE 77
      TIMEOUT 240
      ENVIRONMENT "QT_QPA_PLATFORM=xcb")
  endfunction()

  vm_program_test(window_no_display window/test_no_display.py)
  vm_program_test(window_off_screen_frame window/test_off_screen_frame.py)
  # With the stand-in host answering for the host application.
  vm_program_test(e2e_activating_click e2e/test_activating_click.py
    --host $<TARGET_FILE:vm-standin-host>
    --sample ${CMAKE_SOURCE_DIR}/standin/sample
    --artifacts ${VM_ARTIFACTS})
  set_tests_properties(e2e_activating_click PROPERTIES LABELS e2e)
endif()
