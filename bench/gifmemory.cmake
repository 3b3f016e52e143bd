fx_bench(NAME bench_gifmemory SOURCES ${CMAKE_CURRENT_LIST_DIR}/GifMemoryBench.cc DEPS widgets platform_ui platform_foundation)
target_include_directories(bench_gifmemory PRIVATE ${CMAKE_SOURCE_DIR}/tests/widgets)
