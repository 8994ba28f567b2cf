# Fuzz targets.
#
#   add_fuzz_target(NAME <name> SOURCES <files...> [LIBS <targets...>] [LABELS <label>]
#                   [SEEDS <dir>] [MAX_LEN <bytes>])
#
# The sources define LLVMFuzzerTestOneInput. SEEDS defaults to seeds/<name> beside the
# calling CMakeLists.txt and must exist; MAX_LEN (default 1024) caps the inputs libFuzzer
# makes.
#
# Native and Windows trees: <name>_seeds, a program that runs the target on every file of
# its seeds (at least one), registered as the test <name>_seeds (label LABELS, else the
# tree's). Under SANITIZE the seeds run with the sanitizers like every other test.
#
# Fuzz tree (-DFUZZ=ON, clang): everything is compiled for libFuzzer with AddressSanitizer
# and UndefinedBehaviorSanitizer; <name> is the libFuzzer program, in <build>/fuzzers/,
# and one line "<name> <program> <seeds> <max_len>" in <build>/fuzz-targets.txt tells
# scripts/fuzz.sh what to run.
set(FUZZ_TARGET_LIST ${CMAKE_BINARY_DIR}/fuzz-targets.txt)
set(FUZZ_SEED_REPLAY ${CMAKE_CURRENT_LIST_DIR}/fuzz_seed_replay.cpp)

if(FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "FUZZ=ON needs clang (configure with CMAKE_C_COMPILER=clang CMAKE_CXX_COMPILER=clang++)")
  endif()
  add_compile_options(-O1 -g -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
  file(WRITE ${FUZZ_TARGET_LIST} "")
endif()

function(add_fuzz_target)
  cmake_parse_arguments(F "" "NAME;SEEDS;MAX_LEN" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT F_NAME OR NOT F_SOURCES)
    message(FATAL_ERROR "add_fuzz_target needs NAME and SOURCES")
  endif()
  if(NOT F_SEEDS)
    set(F_SEEDS ${CMAKE_CURRENT_SOURCE_DIR}/seeds/${F_NAME})
  endif()
  if(NOT IS_DIRECTORY ${F_SEEDS})
    message(FATAL_ERROR "fuzz target ${F_NAME}: no seeds folder ${F_SEEDS}")
  endif()
  if(NOT F_MAX_LEN)
    set(F_MAX_LEN 1024)
  endif()

  if(FUZZ)
    add_executable(${F_NAME} ${F_SOURCES})
    target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
    target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${F_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzzers)
    file(APPEND ${FUZZ_TARGET_LIST} "${F_NAME} ${CMAKE_BINARY_DIR}/fuzzers/${F_NAME} ${F_SEEDS} ${F_MAX_LEN}\n")
    return()
  endif()

  set(replay ${F_NAME}_seeds)
  add_executable(${replay} ${F_SOURCES} ${FUZZ_SEED_REPLAY})
  target_link_libraries(${replay} PRIVATE ${F_LIBS})
  target_compile_definitions(${replay} PRIVATE FUZZ_SEEDS="${F_SEEDS}")
  add_test(NAME ${replay} COMMAND ${replay})
  test_label(label ${F_LABELS})
  set_tests_properties(${replay} PROPERTIES LABELS ${label} TIMEOUT 300)
  unit_tests(${replay})
endfunction()
