# The real program's size limits and its quit shortcut, with the stand-in
# host up. Skips (77) while the program or a tool it needs is missing.
if(VM_WITH_QT)
  add_test(NAME e2e_quit_shortcut
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/test_quit_shortcut.py
      --program ${VM_BUNDLE_MACOS}/Vellowmark
      --host $<TARGET_FILE:vm-standin-host>
      --sample ${CMAKE_SOURCE_DIR}/standin/sample
      --artifacts ${VM_ARTIFACTS}
      --tmp ${CMAKE_BINARY_DIR}/test-tmp)
  set_tests_properties(e2e_quit_shortcut PROPERTIES
    SKIP_RETURN_CODE 77
    TIMEOUT 240
    LABELS e2e
    ENVIRONMENT "QT_QPA_PLATFORM=xcb")
endif()
