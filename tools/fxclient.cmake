# fxclient: the headless app runner against the loopback demo bank (startup.log and PNGs).
add_executable(fxclient ${CMAKE_CURRENT_LIST_DIR}/FxClient.cc)
target_include_directories(fxclient PRIVATE ${FX_SOURCE_ROOT})
target_compile_options(fxclient PRIVATE ${FX_WARNINGS})
target_compile_definitions(fxclient PRIVATE FX_TOOLS_DIR="${CMAKE_CURRENT_LIST_DIR}")
target_link_libraries(fxclient PRIVATE app)
add_test(NAME fxclient_scenarios
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/fxclient_check.sh $<TARGET_FILE:fxclient> ${CMAKE_CURRENT_BINARY_DIR}/fxclient_check)
