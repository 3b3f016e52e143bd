fx_fuzz(NAME fuzz_menu SOURCES ${CMAKE_CURRENT_LIST_DIR}/MenuFuzz.cc DEPS app)
