fx_bench(NAME bench_bridge
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/BridgeBench.cc ${CMAKE_CURRENT_LIST_DIR}/BridgeRoundTripBench.cc
  DEPS container fx_duktape platform_web platform_ui platform_foundation)
