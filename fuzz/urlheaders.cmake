fx_fuzz(NAME fuzz_urlheaders SOURCES ${CMAKE_CURRENT_LIST_DIR}/UrlHeadersFuzz.cc DEPS platform_net)
