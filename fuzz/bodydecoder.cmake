fx_fuzz(NAME fuzz_bodydecoder SOURCES ${CMAKE_CURRENT_LIST_DIR}/BodyDecoderFuzz.cc DEPS platform_net)
