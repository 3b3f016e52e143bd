fx_fuzz(NAME fuzz_page_html SOURCES ${CMAKE_CURRENT_LIST_DIR}/PageHtmlFuzz.cc DEPS platform_web)
