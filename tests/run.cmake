# The styling run, the rule-set list, the preferences and the host check,
# each through the whole program in-process.
vm_add_gtest(styling_run_test SOURCES styling_run_test.cpp LIBS vm_app_fixture)
vm_add_gtest(rule_list_test SOURCES rule_list_test.cpp LIBS vm_app_fixture)
vm_add_gtest(window_prefs_test SOURCES window_prefs_test.cpp LIBS vm_app_fixture)
vm_add_gtest(host_check_test SOURCES host_check_test.cpp LIBS vm_app_fixture Threads::Threads)
