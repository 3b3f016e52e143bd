# render_screens: the watch-list and currency search screens as PNG files.
add_executable(render_screens ${CMAKE_CURRENT_LIST_DIR}/RenderScreens.cc ${CMAKE_CURRENT_LIST_DIR}/ScreenScenes.cc)
target_include_directories(render_screens PRIVATE ${FX_SOURCE_ROOT} ${CMAKE_CURRENT_LIST_DIR})
target_compile_options(render_screens PRIVATE ${FX_WARNINGS})
target_compile_definitions(render_screens PRIVATE FX_APP_IMAGES="${CMAKE_SOURCE_DIR}/src/app/images")
target_link_libraries(render_screens PRIVATE app)
