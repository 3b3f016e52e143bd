# render_widgets: every progress overlay mode and glossy button style as PNG files.
add_executable(render_widgets ${CMAKE_CURRENT_LIST_DIR}/RenderWidgets.cc ${CMAKE_CURRENT_LIST_DIR}/WidgetScenes.cc)
target_include_directories(render_widgets PRIVATE ${FX_SOURCE_ROOT} ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_SOURCE_DIR}/tests/widgets)
target_compile_options(render_widgets PRIVATE ${FX_WARNINGS})
target_link_libraries(render_widgets PRIVATE widgets platform_ui platform_foundation)
