fx_fuzz(NAME fuzz_klinepacket SOURCES ${CMAKE_CURRENT_LIST_DIR}/KLinePacketFuzz.cc DEPS kline)
