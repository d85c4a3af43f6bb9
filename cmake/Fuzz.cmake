# lv_fuzz_target(NAME SOURCE...): a libFuzzer program (clang only; nothing with other compilers)
# that compiles the sources it exercises itself, together with the whole platform layer,
# instrumented with address and undefined-behaviour sanitizers, and without the GCC-only
# execution character set option (clang accepts no code page there, so these sources must hold
# no non-ASCII literals).
function(lv_fuzz_target name)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    return()
  endif()
  get_target_property(platform_sources platform SOURCES)
  list(TRANSFORM platform_sources PREPEND "${PROJECT_SOURCE_DIR}/platform/")
  add_executable(${name} ${ARGN} ${platform_sources})
  lv_include_roots(${name} PRIVATE platform lang util store testsupport)
  get_target_property(options ${name} COMPILE_OPTIONS)
  list(REMOVE_ITEM options -fexec-charset=CP1252)
  set_property(TARGET ${name} PROPERTY COMPILE_OPTIONS ${options})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
endfunction()
