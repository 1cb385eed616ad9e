# Runaway patterns end with the limit outcome, and long ordinary searches
# finish whole. A regression shows as a hang: the timeout ends it.
vm_add_gtest(runaway_test SOURCES runaway_test.cpp LIBS vm_engine vm_regex_binding TIMEOUT 300)
