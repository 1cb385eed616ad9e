# Peak memory and time of getRegPos and of a whole styling run on large
# texts; prints its figures (scripts/bench.sh runs it with the others).
add_executable(memory_bench memory_bench.cpp)
target_link_libraries(memory_bench PRIVATE vm_app)
target_compile_definitions(memory_bench PRIVATE VM_RECORDER_PATH="$<TARGET_FILE:vm_test_recorder>")
add_dependencies(memory_bench vm_test_recorder)
