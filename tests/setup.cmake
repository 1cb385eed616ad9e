# The set-up script of the README, as a user without root or sudo meets it.
add_test(NAME install_deps_message
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/setup/test_install_deps.py
    --script ${CMAKE_SOURCE_DIR}/scripts/install-deps.sh)
set_tests_properties(install_deps_message PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
