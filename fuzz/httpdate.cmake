fx_fuzz(NAME fuzz_httpdate SOURCES ${CMAKE_CURRENT_LIST_DIR}/HttpDateFuzz.cc DEPS container)
