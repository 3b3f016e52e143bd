fx_bench(NAME bench_httpclient SOURCES ${CMAKE_CURRENT_LIST_DIR}/HttpClientBench.cc DEPS appnet PkgConfig::CURL)
