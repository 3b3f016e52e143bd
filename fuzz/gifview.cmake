fx_fuzz(NAME fuzz_gifview SOURCES ${CMAKE_CURRENT_LIST_DIR}/GifViewFuzz.cc DEPS widgets platform_ui platform_foundation)
