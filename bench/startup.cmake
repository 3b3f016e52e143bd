fx_bench(NAME bench_startup SOURCES ${CMAKE_CURRENT_LIST_DIR}/StartupBench.cc DEPS app fx_testsupport PkgConfig::CURL PkgConfig::MINIZIP)
