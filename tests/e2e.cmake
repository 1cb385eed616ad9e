# End-to-end tests: the real program in its Qt window under a virtual X
# server, driven by real clicks and close requests, with the stand-in host
# answering for the host application. Each one skips (77) while the program
# or a tool it needs is missing.
if(VM_WITH_QT)
  set(VM_E2E_TESTS
    rule_set_rows
    styling_run
    clearing_overrides
    window_prefs
    without_host
    closed_stderr   # standard error a pipe without a reader
    screenshots
    quit_shortcut   # size limits against outside resizes, and Ctrl+Q
    quit_signals    # SIGTERM, SIGHUP, SIGINT take the quit item's road
    real_files)     # a capitalised extension and UTF-16 rule sets
  foreach(name ${VM_E2E_TESTS})
    set(script ${CMAKE_CURRENT_SOURCE_DIR}/e2e/test_${name}.py)
    add_test(NAME e2e_${name}
      COMMAND /usr/bin/python3 ${script}
        --program ${VM_BUNDLE_MACOS}/Vellowmark
        --host $<TARGET_FILE:vm-standin-host>
        --sample ${CMAKE_SOURCE_DIR}/standin/sample
        --artifacts ${VM_ARTIFACTS}
        --tmp ${CMAKE_BINARY_DIR}/test-tmp)
    set_tests_properties(e2e_${name} PROPERTIES
      SKIP_RETURN_CODE 77
      TIMEOUT 240
      LABELS e2e
      ENVIRONMENT "QT_QPA_PLATFORM=xcb")
  endforeach()
endif()
