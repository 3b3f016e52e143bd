fx_bench(NAME bench_ziplimits SOURCES ${CMAKE_CURRENT_LIST_DIR}/ZipLimitsBench.cc DEPS platform_foundation fx_testsupport)
