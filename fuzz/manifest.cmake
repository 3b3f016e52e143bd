fx_fuzz(NAME fuzz_manifest SOURCES ${CMAKE_CURRENT_LIST_DIR}/ManifestFuzz.cc DEPS container)
