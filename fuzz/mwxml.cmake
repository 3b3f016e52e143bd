fx_fuzz(NAME fuzz_mwxml SOURCES ${CMAKE_CURRENT_LIST_DIR}/MwXmlFuzz.cc DEPS container)
