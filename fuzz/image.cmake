fx_fuzz(NAME fuzz_image SOURCES ${CMAKE_CURRENT_LIST_DIR}/ImageFuzz.cc DEPS platform_ui platform_foundation)
