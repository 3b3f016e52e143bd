fx_bench(NAME bench_locks SOURCES ${CMAKE_CURRENT_LIST_DIR}/LocksBench.cc DEPS platform_foundation)
