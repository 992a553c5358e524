# Helpers for test programs and fuzz targets.
#
# torvik_add_gtest(<target> SOURCES ... [LIBS ...] [LABELS ...])
#   One GoogleTest program per component, its cases registered with CTest.
#   The label "threaded" also builds it in the target `threaded_tests`, which the tsan run builds and runs.
#
# torvik_add_fuzz(<name> SOURCE <file> CORPUS <dir> [LIBS ...] [EXTRA_CORPUS <dir>...])
#   With TORVIK_FUZZ: a libFuzzer program <name>.
#   Otherwise: <name>_replay, the same entry point behind a small main that feeds it every file of
#   the corpus, run by CTest as "fuzz_replay.<name>".

if(NOT TARGET threaded_tests)
  add_custom_target(threaded_tests)
endif()

function(torvik_add_gtest target)
  if(NOT TORVIK_TESTS OR TORVIK_FUZZ)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  set(props ENVIRONMENT "TORVIK_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  if(ARG_LABELS)
    list(APPEND props LABELS "${ARG_LABELS}")
  endif()
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST PROPERTIES ${props})
  if("threaded" IN_LIST ARG_LABELS)
    add_dependencies(threaded_tests ${target})
  endif()
endfunction()

function(torvik_add_fuzz name)
  cmake_parse_arguments(ARG "" "SOURCE;CORPUS;DICT" "LIBS;EXTRA_CORPUS" ${ARGN})
  if(TORVIK_FUZZ)
    add_executable(${name} ${ARG_SOURCE})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    return()
  endif()
  if(NOT TORVIK_TESTS)
    return()
  endif()
  add_executable(${name}_replay ${ARG_SOURCE} ${PROJECT_SOURCE_DIR}/cmake/fuzz_replay_main.cpp)
  target_link_libraries(${name}_replay PRIVATE ${ARG_LIBS})
  set(dirs ${ARG_CORPUS})
  foreach(extra ${ARG_EXTRA_CORPUS})
    list(APPEND dirs ${extra})
  endforeach()
  add_test(NAME fuzz_replay.${name} COMMAND ${name}_replay ${dirs})
  set_tests_properties(fuzz_replay.${name} PROPERTIES LABELS "fuzz")
endfunction()

# torvik_check_headers(<library> <include dir>)
#   Compiles every public header on its own, twice in one unit, so a header that misses an include or a
#   guard fails the build.
function(torvik_check_headers library include_dir)
  if(NOT TORVIK_TESTS OR TORVIK_FUZZ)
    return()
  endif()
  file(GLOB_RECURSE headers RELATIVE ${include_dir} CONFIGURE_DEPENDS ${include_dir}/*.hpp ${include_dir}/*.h)
  set(sources)
  foreach(header ${headers})
    string(MAKE_C_IDENTIFIER ${header} stem)
    set(source ${CMAKE_CURRENT_BINARY_DIR}/header_check/${stem}.cpp)
    file(CONFIGURE OUTPUT ${source} CONTENT "#include <${header}>\n#include <${header}>\n")
    list(APPEND sources ${source})
  endforeach()
  if(sources)
    add_library(${library}_header_check OBJECT ${sources})
    target_link_libraries(${library}_header_check PRIVATE ${library})
  endif()
endfunction()
