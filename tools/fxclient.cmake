# fxclient: the headless app runner against the loopback demo bank (startup.log and PNGs).
add_executable(fxclient ${CMAKE_CURRENT_LIST_DIR}/FxClient.cc ${CMAKE_CURRENT_LIST_DIR}/FxOutFolder.cc
                        ${CMAKE_CURRENT_LIST_DIR}/FxTour.cc)
target_include_directories(fxclient PRIVATE ${FX_SOURCE_ROOT})
target_compile_options(fxclient PRIVATE ${FX_WARNINGS})
target_compile_definitions(fxclient PRIVATE FX_TOOLS_DIR="${CMAKE_CURRENT_LIST_DIR}"
                                           FX_APP_IMAGES="${CMAKE_SOURCE_DIR}/src/app/images")
target_link_libraries(fxclient PRIVATE app)
add_test(NAME fxclient_scenarios
         COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/fxclient_check.sh $<TARGET_FILE:fxclient> ${CMAKE_CURRENT_BINARY_DIR}/fxclient_check)
# The tour: every step must see what it expects, and its pictures are probed by what they show.
add_test(NAME fxclient_tour
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/tour_check.py $<TARGET_FILE:fxclient> ${CMAKE_CURRENT_BINARY_DIR}/fxclient_tour)
# Kills at chosen points of the start-up (the bank holds a download, the client is killed): the next
# start on the same home finishes the update.
add_test(NAME fxclient_resume
         COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/resume_check.py $<TARGET_FILE:fxclient> ${CMAKE_CURRENT_BINARY_DIR}/fxclient_resume)
