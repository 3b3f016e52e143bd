# bench/run_all.sh against stand-in programs: a peer left running, the time limit, a signal, a failed
# row, an unsettled verdict, a program not built and a misspelt BENCH_ONLY.
add_test(NAME bench_run_all_check
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run_all_check.sh ${CMAKE_CURRENT_LIST_DIR}/run_all.sh ${CMAKE_CURRENT_BINARY_DIR})
set_tests_properties(bench_run_all_check PROPERTIES TIMEOUT 300 LABELS bench)
