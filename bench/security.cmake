fx_bench(NAME bench_security SOURCES ${CMAKE_CURRENT_LIST_DIR}/SecurityBench.cc DEPS container platform_security)
