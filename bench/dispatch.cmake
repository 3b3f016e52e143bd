fx_bench(NAME bench_dispatch SOURCES ${CMAKE_CURRENT_LIST_DIR}/DispatchBench.cc DEPS platform_foundation)
