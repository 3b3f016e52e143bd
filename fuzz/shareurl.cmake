fx_fuzz(NAME fuzz_share_url SOURCES ${CMAKE_CURRENT_LIST_DIR}/ShareUrlFuzz.cc DEPS share)
