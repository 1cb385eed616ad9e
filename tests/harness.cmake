# The window harness itself: a helper process (the stand-in host, the X
# server) that ends under a test fails it at once, with its standard error.
# Skips (77) while the X tools are missing.
if(VM_WITH_QT)
  add_test(NAME window_harness_helper_deaths
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/window/test_harness.py
      ${CMAKE_BINARY_DIR}/test-tmp)
  set_tests_properties(window_harness_helper_deaths PROPERTIES
    SKIP_RETURN_CODE 77
    TIMEOUT 60)
endif()
