fx_bench(NAME bench_screens
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ScreensBench.cc ${CMAKE_SOURCE_DIR}/tools/ScreenScenes.cc
  DEPS app PkgConfig::CAIRO)
target_include_directories(bench_screens PRIVATE ${CMAKE_SOURCE_DIR}/tools)
