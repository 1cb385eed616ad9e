# The two matchers against PCRE2 asked directly: a short form of the
# positions fuzz target.
vm_add_gtest(match_oracle_test SOURCES match_oracle_test.cpp LIBS vm_engine vm_regex_binding)
