fx_bench(NAME bench_kline
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/KLineBench.cc ${CMAKE_SOURCE_DIR}/tools/ChartScenes.cc
  DEPS kline widgets platform_ui platform_foundation ZLIB::ZLIB)
target_include_directories(bench_kline PRIVATE ${CMAKE_SOURCE_DIR}/tools ${CMAKE_SOURCE_DIR}/tests)
