# Warnings and sanitizers for every target of the project.

add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wold-style-cast)
if(TORVIK_WERROR)
  add_compile_options(-Werror)
endif()

if(TORVIK_SANITIZE)
  add_compile_options(-fsanitize=${TORVIK_SANITIZE} -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${TORVIK_SANITIZE})
  if(TORVIK_SANITIZE MATCHES "undefined")
    # Any finding must fail the run, never just print.
    add_compile_options(-fno-sanitize-recover=all)
    add_link_options(-fno-sanitize-recover=all)
  endif()
endif()

if(TORVIK_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "TORVIK_FUZZ needs clang (libFuzzer)")
  endif()
  # Every object is instrumented for coverage; only fuzz targets link the fuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
