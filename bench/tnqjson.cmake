fx_bench(NAME bench_tnq_json SOURCES ${CMAKE_CURRENT_LIST_DIR}/TnqJsonBench.cc DEPS app)
