fx_bench(NAME bench_render
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RenderBench.cc ${CMAKE_SOURCE_DIR}/tools/WidgetScenes.cc
  DEPS widgets platform_ui platform_foundation)
target_include_directories(bench_render PRIVATE ${CMAKE_SOURCE_DIR}/tools ${CMAKE_SOURCE_DIR}/tests/widgets)
