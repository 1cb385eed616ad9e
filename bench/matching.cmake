# getRegPos and getRegParaPos against the strong baseline on the same texts.
add_executable(matching_bench matching_bench.cpp)
target_link_libraries(matching_bench PRIVATE vm_engine vm_regex_binding benchmark::benchmark)
# The baseline's character count is a plain loop left to the vectoriser.
set_source_files_properties(matching_bench.cpp PROPERTIES COMPILE_OPTIONS "-O3")
