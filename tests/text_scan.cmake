# The text scan primitive behind the match positions.
vm_add_gtest(text_scan_test SOURCES text_scan_test.cpp LIBS vm_platform)
