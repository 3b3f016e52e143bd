fx_bench(NAME bench_rlsocket SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/RlSocketBench.cc DEPS container)
