fx_fuzz(NAME fuzz_zip SOURCES ${CMAKE_CURRENT_LIST_DIR}/ZipFuzz.cc DEPS platform_foundation)
