# Helpers that every library, test, benchmark and fuzz target uses.

set(FX_SOURCE_ROOT ${CMAKE_SOURCE_DIR}/src)
set(FX_TEST_ROOT ${CMAKE_SOURCE_DIR}/tests)

set(FX_WARNINGS -Wall -Wextra -Wno-unused-parameter -Wnon-virtual-dtor -Wimplicit-fallthrough)
if(FX_WERROR)
  list(APPEND FX_WARNINGS -Werror)
endif()

if(FX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# fx_library(NAME name SOURCES ... [DEPS ...] [PRIVATE_DEPS ...])
function(fx_library)
  cmake_parse_arguments(A "" "NAME" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${A_NAME} STATIC ${A_SOURCES})
  target_include_directories(${A_NAME} PUBLIC ${FX_SOURCE_ROOT})
  target_compile_options(${A_NAME} PRIVATE ${FX_WARNINGS})
  target_link_libraries(${A_NAME} PUBLIC ${A_DEPS} PRIVATE ${A_PRIVATE_DEPS})
endfunction()

# fx_test(NAME name SOURCES ... [DEPS ...] [LABELS ...]): one GoogleTest executable registered with CTest.
function(fx_test)
  cmake_parse_arguments(A "" "NAME;TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${A_NAME} ${A_SOURCES})
  target_include_directories(${A_NAME} PRIVATE ${FX_SOURCE_ROOT} ${FX_TEST_ROOT})
  target_compile_options(${A_NAME} PRIVATE ${FX_WARNINGS})
  target_link_libraries(${A_NAME} PRIVATE ${A_DEPS} fx_testsupport GTest::gtest GTest::gmock)
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  add_test(NAME ${A_NAME} COMMAND ${A_NAME} --gtest_brief=1 WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
  set_tests_properties(${A_NAME} PROPERTIES TIMEOUT ${A_TIMEOUT} LABELS "${A_LABELS}"
    ENVIRONMENT "FX_TEST_DATA=${FX_TEST_ROOT}/data;FX_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endfunction()

# fx_fuzz(NAME name SOURCES ... [DEPS ...]): a libFuzzer target (LLVMFuzzerTestOneInput).
# With FX_FUZZ and clang it links against libFuzzer; otherwise it links a small driver that feeds
# every file of fuzz/corpus/<name>/ once, registered with CTest so the corpus is a regression test.
function(fx_fuzz)
  cmake_parse_arguments(A "" "NAME" "SOURCES;DEPS" ${ARGN})
  add_executable(${A_NAME} ${A_SOURCES})
  target_include_directories(${A_NAME} PRIVATE ${FX_SOURCE_ROOT})
  target_compile_options(${A_NAME} PRIVATE ${FX_WARNINGS})
  target_link_libraries(${A_NAME} PRIVATE ${A_DEPS})
  if(FX_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(${A_NAME} PRIVATE -fsanitize=fuzzer)
    target_link_options(${A_NAME} PRIVATE -fsanitize=fuzzer)
  else()
    target_sources(${A_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/fuzz/StandaloneMain.cc)
    add_test(NAME ${A_NAME} COMMAND ${A_NAME} ${CMAKE_SOURCE_DIR}/fuzz/corpus/${A_NAME})
    set_tests_properties(${A_NAME} PROPERTIES TIMEOUT 300 LABELS fuzz)
  endif()
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
