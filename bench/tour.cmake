fx_bench(NAME bench_tour SOURCES ${CMAKE_CURRENT_LIST_DIR}/TourBench.cc DEPS fx_testsupport)
target_compile_definitions(bench_tour PRIVATE FX_FXCLIENT="$<TARGET_FILE:fxclient>")
add_dependencies(bench_tour fxclient)
