fx_bench(NAME bench_json SOURCES ${CMAKE_CURRENT_LIST_DIR}/JsonBench.cc DEPS platform_foundation)
