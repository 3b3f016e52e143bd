# render_chart: the chart scenes (100 rows, zoomed, cross-hair) as PNG files.
add_executable(render_chart ${CMAKE_CURRENT_LIST_DIR}/RenderChart.cc ${CMAKE_CURRENT_LIST_DIR}/ChartScenes.cc)
target_include_directories(render_chart PRIVATE ${FX_SOURCE_ROOT} ${CMAKE_CURRENT_LIST_DIR})
target_compile_options(render_chart PRIVATE ${FX_WARNINGS})
target_link_libraries(render_chart PRIVATE kline widgets platform_ui platform_foundation)
