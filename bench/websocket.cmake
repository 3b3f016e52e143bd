fx_bench(NAME bench_websocket SOURCES ${CMAKE_CURRENT_LIST_DIR}/WebSocketBench.cc DEPS appnet PkgConfig::ICU)
target_compile_definitions(bench_websocket PRIVATE FX_PEERS_DIR="${CMAKE_SOURCE_DIR}/tests/appnet/peers")
