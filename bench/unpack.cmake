fx_bench(NAME bench_unpack SOURCES ${CMAKE_CURRENT_LIST_DIR}/UnpackBench.cc DEPS container fx_testsupport PkgConfig::MINIZIP)
