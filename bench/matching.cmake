# getRegPos and getRegParaPos against bare PCRE2 loops on the same texts.
add_executable(matching_bench matching_bench.cpp)
target_link_libraries(matching_bench PRIVATE vm_engine vm_regex_binding benchmark::benchmark)
