# A styling run of 50 pieces and 100 rules against a bare spawn-and-wait of
# the same script: the tests' recording script, which answers at once and
# logs nothing while VM_RECORD_LOG is unset.
add_executable(styling_run_bench styling_run_bench.cpp)
target_link_libraries(styling_run_bench PRIVATE vm_app benchmark::benchmark)
target_compile_definitions(styling_run_bench PRIVATE
  VM_BENCH_SCRIPT="$<TARGET_FILE:vm_test_recorder>")
add_dependencies(styling_run_bench vm_test_recorder)
