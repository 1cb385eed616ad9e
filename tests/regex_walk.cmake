# RegEx::NextMatches: the walk over a text's matches that positions are read from.
vm_add_gtest(regex_walk_test SOURCES regex_walk_test.cpp LIBS vm_platform vm_regex_binding)
