fx_bench(NAME bench_screens SOURCES ${CMAKE_CURRENT_LIST_DIR}/ScreensBench.cc DEPS app PkgConfig::CAIRO)
