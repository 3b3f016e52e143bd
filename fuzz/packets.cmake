fx_fuzz(NAME fuzz_packets SOURCES ${CMAKE_CURRENT_LIST_DIR}/PacketFuzz.cc DEPS container)
