fx_bench(NAME bench_widgets SOURCES ${CMAKE_CURRENT_LIST_DIR}/WidgetsBench.cc DEPS widgets platform_ui platform_foundation)
target_include_directories(bench_widgets PRIVATE ${CMAKE_SOURCE_DIR}/tests/widgets)
