fx_fuzz(NAME fuzz_rsa SOURCES ${CMAKE_CURRENT_LIST_DIR}/RsaFuzz.cc DEPS container platform_security ARGS -max_len=520)
