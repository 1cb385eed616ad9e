# RegEx::Matches and CheckedText: the paragraph search's yes-or-no question.
vm_add_gtest(regex_matches_test SOURCES regex_matches_test.cpp LIBS vm_platform vm_regex_binding)
