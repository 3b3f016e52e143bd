fx_fuzz(NAME fuzz_klinetext SOURCES ${CMAKE_CURRENT_LIST_DIR}/KLineTextFuzz.cc DEPS kline)
