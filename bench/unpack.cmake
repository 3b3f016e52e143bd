fx_bench(NAME bench_unpack SOURCES ${CMAKE_CURRENT_LIST_DIR}/UnpackBench.cc DEPS container fx_testsupport PkgConfig::MINIZIP)
# One repetition as a test: the row fails when a road's set-up leaves its tree for the timed flush.
add_test(NAME bench_unpack_check COMMAND bench_unpack --benchmark_repetitions=1)
set_tests_properties(bench_unpack_check PROPERTIES TIMEOUT 300 LABELS bench)
