fx_fuzz(NAME fuzz_bridge_queue SOURCES ${CMAKE_CURRENT_LIST_DIR}/BridgeQueueFuzz.cc DEPS container)
