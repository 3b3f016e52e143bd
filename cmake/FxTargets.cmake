# Helpers that every library, test, benchmark and fuzz target uses.

set(FX_SOURCE_ROOT ${CMAKE_SOURCE_DIR}/src)
set(FX_TEST_ROOT ${CMAKE_SOURCE_DIR}/tests)

set(FX_WARNINGS -Wall -Wextra -Wno-unused-parameter -Wnon-virtual-dtor -Wimplicit-fallthrough)
if(FX_WERROR)
  list(APPEND FX_WARNINGS -Werror)
endif()
# clang checks the lock annotations (platform/foundation/ThreadAnnotations.h): a guarded member
# touched without its lock, or a lock-holding helper called without it, is a warning, and fails
# the build where warnings are errors (FX_WERROR, as our scripts and CI build).
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  list(APPEND FX_WARNINGS -Wthread-safety -Wthread-safety-beta)
endif()

# A fuzz build instruments every library for libFuzzer's coverage and always runs the sanitizers:
# a target whose code is blind to the fuzzer or unwatched by a sanitizer finds nothing.
set(FX_FUZZ_ENGINE OFF)
if(FX_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  set(FX_FUZZ_ENGINE ON)
  set(FX_SANITIZE ON)
  add_compile_options(-fsanitize=fuzzer-no-link)
elseif(FX_FUZZ)
  message(WARNING "FX_FUZZ needs clang: the fuzz targets only replay their corpus")
endif()
# Seconds each fuzz target runs under libFuzzer in CTest (label "fuzz-run"), beyond its corpus.
set(FX_FUZZ_SECONDS 10 CACHE STRING "Seconds of libFuzzer per fuzz target in CTest")

if(FX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
  # The leak checker's suppressions (tests/lsan.supp) are built into every program: a test, fuzz
  # target or tool run by hand passes over the same leaks of system libraries as under CTest, with
  # no LSAN_OPTIONS. Every library links the hook the checker asks for, and a program linking one is
  # told to take it from there (a weak reference alone would not pull it in).
  set(FX_LEAK_SUPPRESSIONS ${CMAKE_SOURCE_DIR}/tests/lsan.supp)
  set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${FX_LEAK_SUPPRESSIONS})
  file(READ ${FX_LEAK_SUPPRESSIONS} FX_LEAK_SUPPRESSION_LINES)
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/LeakSuppressions.cc @ONLY CONTENT [[
// Made by cmake/FxTargets.cmake from tests/lsan.supp.
extern "C" const char* __lsan_default_suppressions() {
  return R"lines(@FX_LEAK_SUPPRESSION_LINES@)lines";
}
]])
  add_library(fx_leak_suppressions STATIC ${CMAKE_BINARY_DIR}/LeakSuppressions.cc)
  target_link_options(fx_leak_suppressions INTERFACE LINKER:--undefined=__lsan_default_suppressions)
endif()

# Precompiled headers: the standard library and JSON for every library and test (most of what each
# of our files parses), GoogleTest for tests. FX_PCH=OFF builds without them, which also shows a
# file that forgot an include. Small targets (tools, benchmarks, fuzz targets) do without.
option(FX_PCH "Precompile the heavy headers of libraries and tests" ON)
set(FX_PCH_HEADERS
  <algorithm> <atomic> <chrono> <condition_variable> <cstdint> <cstring> <deque> <functional> <map>
  <memory> <mutex> <optional> <set> <string> <string_view> <thread> <unordered_map> <utility>
  <variant> <vector> <nlohmann/json.hpp>)
function(fx_precompile target)
  if(NOT FX_PCH)
    return()
  endif()
  target_precompile_headers(${target} PRIVATE ${FX_PCH_HEADERS} ${ARGN})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # gcc 12 loses the system-header status of libstdc++'s inlined string copies when they come
    # from a precompiled header, and reports its known false bounds and overlap positives on them.
    target_compile_options(${target} PRIVATE -Wno-array-bounds -Wno-stringop-overflow -Wno-restrict)
  endif()
endfunction()

# fx_library(NAME name SOURCES ... [DEPS ...] [PRIVATE_DEPS ...])
function(fx_library)
  cmake_parse_arguments(A "" "NAME" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${A_NAME} STATIC ${A_SOURCES})
  target_include_directories(${A_NAME} PUBLIC ${FX_SOURCE_ROOT})
  target_compile_options(${A_NAME} PRIVATE ${FX_WARNINGS})
  target_link_libraries(${A_NAME} PUBLIC ${A_DEPS} PRIVATE ${A_PRIVATE_DEPS})
  if(TARGET fx_leak_suppressions)
    target_link_libraries(${A_NAME} PUBLIC fx_leak_suppressions)
  endif()
  fx_precompile(${A_NAME})
endfunction()

# fx_test(NAME name SOURCES ... [DEPS ...] [LABELS ...] [PCH_FROM test]): one GoogleTest executable
# registered with CTest. PCH_FROM names a test of the same folder and DEPS whose precompiled header
# this one uses, for an executable of a few files that would spend more on its own than it saves.
function(fx_test)
  cmake_parse_arguments(A "" "NAME;TIMEOUT;PCH_FROM" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${A_NAME} ${A_SOURCES})
  target_include_directories(${A_NAME} PRIVATE ${FX_SOURCE_ROOT} ${FX_TEST_ROOT})
  target_compile_options(${A_NAME} PRIVATE ${FX_WARNINGS})
  target_link_libraries(${A_NAME} PRIVATE ${A_DEPS} fx_testsupport GTest::gtest GTest::gmock)
  if(A_PCH_FROM AND FX_PCH)
    target_precompile_headers(${A_NAME} REUSE_FROM ${A_PCH_FROM})
    get_target_property(options ${A_PCH_FROM} COMPILE_OPTIONS)
    set_property(TARGET ${A_NAME} PROPERTY COMPILE_OPTIONS ${options})
  else()
    fx_precompile(${A_NAME} <gtest/gtest.h> <gmock/gmock.h>)
  endif()
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  # In shuffled order, from a fixed seed: a test that leans on what an earlier one left behind fails
  # here, in the same order every run (scripts/shuffle.sh tries more orders and repeats).
  add_test(NAME ${A_NAME} COMMAND ${A_NAME} --gtest_brief=1 --gtest_shuffle --gtest_random_seed=6
           WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
  set_tests_properties(${A_NAME} PROPERTIES TIMEOUT ${A_TIMEOUT} LABELS "${A_LABELS}"
    ENVIRONMENT "FX_TEST_DATA=${FX_TEST_ROOT}/data;FX_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endfunction()

# fx_fuzz(NAME name SOURCES ... [DEPS ...] [ARGS ...]): a libFuzzer target (LLVMFuzzerTestOneInput).
# Its corpus, fuzz/corpus/<name>/, is a regression test (CTest label "fuzz"). With FX_FUZZ and clang
# the target is a real libFuzzer binary over instrumented, sanitized code, and a second test
# "<name>_run" (label "fuzz-run") fuzzes for FX_FUZZ_SECONDS from that corpus, with ARGS (libFuzzer
# flags such as -max_len=N) added; otherwise a small driver feeds every corpus file once.
function(fx_fuzz)
  cmake_parse_arguments(A "" "NAME" "SOURCES;DEPS;ARGS" ${ARGN})
  add_executable(${A_NAME} ${A_SOURCES})
  target_include_directories(${A_NAME} PRIVATE ${FX_SOURCE_ROOT})
  target_compile_options(${A_NAME} PRIVATE ${FX_WARNINGS})
  target_link_libraries(${A_NAME} PRIVATE ${A_DEPS})
  set(corpus ${CMAKE_SOURCE_DIR}/fuzz/corpus/${A_NAME})
  if(NOT EXISTS ${corpus})
    set(corpus "")  # a target without seeds yet starts from nothing
  endif()
  set(environment "FX_SOURCE_DIR=${CMAKE_SOURCE_DIR};FX_TEST_DATA=${FX_TEST_ROOT}/data")
  if(FX_FUZZ_ENGINE)
    target_compile_options(${A_NAME} PRIVATE -fsanitize=fuzzer)
    target_link_options(${A_NAME} PRIVATE -fsanitize=fuzzer)
    add_test(NAME ${A_NAME} COMMAND ${A_NAME} -runs=0 ${A_ARGS} ${corpus})
    # New inputs go to a scratch folder in the build tree, never into the checked-in corpus, and so
    # do findings (crash-*, leak-*, timeout-*).
    set(scratch ${CMAKE_BINARY_DIR}/fuzz-scratch/${A_NAME})
    file(MAKE_DIRECTORY ${scratch})
    # A fixed seed: a CI run explores the same inputs each time, so a finding reproduces.
    add_test(NAME ${A_NAME}_run COMMAND ${A_NAME} -seed=1 -max_total_time=${FX_FUZZ_SECONDS} -timeout=10
             -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=${CMAKE_BINARY_DIR}/fuzz-scratch/
             ${A_ARGS} ${scratch} ${corpus})
    set_tests_properties(${A_NAME}_run PROPERTIES TIMEOUT 600 LABELS fuzz-run ENVIRONMENT "${environment}")
  else()
    target_sources(${A_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/fuzz/StandaloneMain.cc)
    add_test(NAME ${A_NAME} COMMAND ${A_NAME} ${corpus})
  endif()
  set_tests_properties(${A_NAME} PROPERTIES TIMEOUT 300 LABELS fuzz ENVIRONMENT "${environment}")
endfunction()

# fx_bench(NAME name SOURCES ... [DEPS ...]): a Google Benchmark program (not run by the tests).
function(fx_bench)
  cmake_parse_arguments(A "" "NAME" "SOURCES;DEPS" ${ARGN})
  add_executable(${A_NAME} ${A_SOURCES})
  target_include_directories(${A_NAME} PRIVATE ${FX_SOURCE_ROOT} ${CMAKE_SOURCE_DIR}/bench)
  target_compile_options(${A_NAME} PRIVATE ${FX_WARNINGS})
  target_link_libraries(${A_NAME} PRIVATE ${A_DEPS} benchmark::benchmark)
endfunction()

# Every .cc file below the current folder, re-globbed on each build.
macro(fx_glob_sources out)
  file(GLOB_RECURSE ${out} CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
endmacro()

# fx_glob_library(NAME lib [DEPS ...]): a library of every .cc file below the current folder
# (an interface library while the folder holds none).
function(fx_glob_library)
  cmake_parse_arguments(A "" "NAME" "DEPS;PRIVATE_DEPS" ${ARGN})
  fx_glob_sources(srcs)
  if(srcs)
    fx_library(NAME ${A_NAME} SOURCES ${srcs} DEPS ${A_DEPS} PRIVATE_DEPS ${A_PRIVATE_DEPS})
  else()
    add_library(${A_NAME} INTERFACE)
    target_include_directories(${A_NAME} INTERFACE ${FX_SOURCE_ROOT})
    target_link_libraries(${A_NAME} INTERFACE ${A_DEPS} ${A_PRIVATE_DEPS})
  endif()
endfunction()

# fx_glob_test(NAME exe [DEPS ...]): one test executable of every .cc file below the current folder.
function(fx_glob_test)
  cmake_parse_arguments(A "" "NAME;TIMEOUT" "DEPS" ${ARGN})
  fx_glob_sources(srcs)
  if(srcs)
    fx_test(NAME ${A_NAME} SOURCES ${srcs} DEPS ${A_DEPS} TIMEOUT ${A_TIMEOUT})
  endif()
endfunction()
