fx_fuzz(NAME fuzz_apiresponse SOURCES ${CMAKE_CURRENT_LIST_DIR}/ApiResponseFuzz.cc DEPS app)
