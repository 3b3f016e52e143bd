fx_bench(NAME bench_kvstore SOURCES ${CMAKE_CURRENT_LIST_DIR}/KvstoreBench.cc DEPS kvstore PkgConfig::SQLITE3)
