fx_bench(NAME bench_startup SOURCES ${CMAKE_CURRENT_LIST_DIR}/StartupBench.cc DEPS app fx_testsupport PkgConfig::CURL PkgConfig::MINIZIP)
target_include_directories(bench_startup PRIVATE ${CMAKE_SOURCE_DIR}/tools)
