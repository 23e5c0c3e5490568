# tq_add_fuzz_target(NAME SOURCES... [LIBS ...])
# A fuzz target defines LLVMFuzzerTestOneInput and keeps its seed corpus in
# tests/fuzz/corpus/NAME. With TQ_FUZZ (clang) it becomes a libFuzzer program
# in build-fuzz/fuzz/; otherwise a small main replays the corpus. Either way
# the replay of the kept corpus is a test labelled `fuzz` (libFuzzer's
# -runs=0 runs each kept input once and stops).
function(tq_add_fuzz_target name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  set(corpus ${CMAKE_SOURCE_DIR}/tests/fuzz/corpus/${name})
  if(TQ_FUZZ)
    add_executable(${name} ${F_SOURCES})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    add_test(NAME ${name}.corpus COMMAND ${name} -runs=0 ${corpus})
  else()
    add_executable(${name} ${F_SOURCES} ${CMAKE_SOURCE_DIR}/tests/fuzz/FuzzReplayMain.cpp)
    add_test(NAME ${name}.corpus COMMAND ${name} ${corpus})
  endif()
  set_tests_properties(${name}.corpus PROPERTIES LABELS fuzz)
  tq_label_target(fuzz ${name})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
endfunction()
