# Through the real window under a virtual X server: a rule set whose name
# ends in capitals and rule sets saved as UTF-16, each run by a click on
# its row. Skips (77) while the program or a tool it needs is missing.
if(VM_WITH_QT)
  add_test(NAME e2e_real_files
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/e2e/test_real_files.py
      --program ${VM_BUNDLE_MACOS}/Vellowmark
      --host $<TARGET_FILE:vm-standin-host>
      --sample ${CMAKE_SOURCE_DIR}/standin/sample
      --artifacts ${VM_ARTIFACTS}
      --tmp ${CMAKE_BINARY_DIR}/test-tmp)
  set_tests_properties(e2e_real_files PROPERTIES
    SKIP_RETURN_CODE 77
    TIMEOUT 240
    LABELS e2e
    ENVIRONMENT "QT_QPA_PLATFORM=xcb")
endif()
