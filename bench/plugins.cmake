fx_bench(NAME bench_plugins SOURCES ${CMAKE_CURRENT_LIST_DIR}/PluginsBench.cc DEPS app)
