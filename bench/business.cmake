fx_bench(NAME bench_business SOURCES ${CMAKE_CURRENT_LIST_DIR}/BusinessBench.cc DEPS container fx_testsupport PkgConfig::CURL)
