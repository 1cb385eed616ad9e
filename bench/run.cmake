# A styling run of 50 pieces and 100 rules against a bare spawn-and-wait of
# the same script. The script lives outside bench/, where scripts/bench.sh
# would take it for a benchmark.
add_executable(vm_bench_script styling_run_script.cpp)
set_target_properties(vm_bench_script PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench-support)

add_executable(styling_run_bench styling_run_bench.cpp)
target_link_libraries(styling_run_bench PRIVATE vm_app benchmark::benchmark)
target_compile_definitions(styling_run_bench PRIVATE
  VM_BENCH_SCRIPT="$<TARGET_FILE:vm_bench_script>")
add_dependencies(styling_run_bench vm_bench_script)
