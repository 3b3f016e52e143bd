fx_fuzz(NAME fuzz_klinegzip SOURCES ${CMAKE_CURRENT_LIST_DIR}/KLineGzipFuzz.cc DEPS kline)
