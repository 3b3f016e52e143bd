fx_bench(NAME bench_urlloading SOURCES ${CMAKE_CURRENT_LIST_DIR}/UrlLoadingBench.cc DEPS platform_net PkgConfig::CURL)
