fx_bench(NAME bench_compressor SOURCES ${CMAKE_CURRENT_LIST_DIR}/CompressorBench.cc DEPS container ZLIB::ZLIB)
