# tq_label_target(LABEL TARGET)
# Adds a test executable to the build target tq_tests_<label>, so that one
# area's tests can be built alone (the sanitizer builds build only some areas).
function(tq_label_target label name)
  if(NOT TARGET tq_tests_${label})
    add_custom_target(tq_tests_${label})
  endif()
  add_dependencies(tq_tests_${label} ${name})
endfunction()

# tq_add_test(NAME LABEL SOURCES... [LIBS ...])
# Builds one GoogleTest executable and registers each of its tests with CTest,
# labelled by area so that `ctest -L <area>` runs one area.
function(tq_add_test name label)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  # Tests reach their own helpers as "tests/support/..."; product headers only
  # through the libraries they link.
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_compile_definitions(${name} PRIVATE TQ_BIN_DIR="${TQ_BIN_DIR}" TQ_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  gtest_discover_tests(${name} PROPERTIES LABELS ${label} DISCOVERY_TIMEOUT 60)
  tq_label_target(${label} ${name})
endfunction()
