fx_fuzz(NAME fuzz_kvstore SOURCES ${CMAKE_CURRENT_LIST_DIR}/KvstoreFuzz.cc DEPS kvstore)
