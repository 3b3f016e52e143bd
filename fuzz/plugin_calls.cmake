fx_fuzz(NAME fuzz_plugin_calls SOURCES ${CMAKE_CURRENT_LIST_DIR}/PluginCallsFuzz.cc DEPS app)
