fx_bench(NAME bench_bridge SOURCES ${CMAKE_CURRENT_LIST_DIR}/BridgeBench.cc DEPS platform_web platform_ui platform_foundation)
