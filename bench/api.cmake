fx_bench(NAME bench_api SOURCES ${CMAKE_CURRENT_LIST_DIR}/ApiBench.cc DEPS app)
