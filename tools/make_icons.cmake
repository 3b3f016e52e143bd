# make_icons: the app's small icons ("icon_velmor_..." and "backBtn") drawn with cairo as @2x PNGs.
add_executable(make_icons ${CMAKE_CURRENT_LIST_DIR}/MakeIcons.cc)
target_compile_options(make_icons PRIVATE ${FX_WARNINGS})
target_link_libraries(make_icons PRIVATE PkgConfig::CAIRO)
