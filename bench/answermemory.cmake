fx_bench(NAME bench_answermemory SOURCES ${CMAKE_CURRENT_LIST_DIR}/AnswerMemoryBench.cc DEPS app kline container appnet fx_testsupport ZLIB::ZLIB)
