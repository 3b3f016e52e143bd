fx_bench(NAME bench_menucompare SOURCES ${CMAKE_CURRENT_LIST_DIR}/MenuCompareBench.cc DEPS app fx_testsupport PkgConfig::LIBXML2)
