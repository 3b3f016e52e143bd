fx_fuzz(NAME fuzz_plist SOURCES ${CMAKE_CURRENT_LIST_DIR}/PlistFuzz.cc DEPS platform_foundation)
