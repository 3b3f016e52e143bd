fx_test(NAME bench_ratios_tests SOURCES ${CMAKE_CURRENT_LIST_DIR}/RatiosTest.cc DEPS benchmark::benchmark)
target_include_directories(bench_ratios_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
