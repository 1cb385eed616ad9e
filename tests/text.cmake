# Text functions, the pattern component and the two matchers.
vm_add_gtest(text_test SOURCES text_test.cpp LIBS vm_engine vm_regex_binding)
vm_add_gtest(regex_test SOURCES regex_test.cpp LIBS vm_engine vm_regex_binding)
vm_add_gtest(match_positions_test SOURCES match_positions_test.cpp LIBS vm_engine vm_regex_binding)
