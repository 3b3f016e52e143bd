fx_fuzz(NAME fuzz_wsframe SOURCES ${CMAKE_CURRENT_LIST_DIR}/WsFrameFuzz.cc DEPS appnet)
