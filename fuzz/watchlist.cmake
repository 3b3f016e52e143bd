fx_fuzz(NAME fuzz_watchlist SOURCES ${CMAKE_CURRENT_LIST_DIR}/WatchlistFuzz.cc DEPS app)
