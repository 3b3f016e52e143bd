fx_fuzz(NAME fuzz_json SOURCES ${CMAKE_CURRENT_LIST_DIR}/JsonFuzz.cc DEPS platform_foundation)
