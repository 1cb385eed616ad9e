# The set-up script of the README: the packages `make run` and `make test`
# ask for, and how users with and without root or sudo meet it.
add_test(NAME install_deps_message
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/setup/test_install_deps.py
    --script ${CMAKE_SOURCE_DIR}/scripts/install-deps.sh --makefile ${CMAKE_SOURCE_DIR}/Makefile)
set_tests_properties(install_deps_message PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
