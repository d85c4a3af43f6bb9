# lv_fuzz(NAME SOURCE...): a libFuzzer program, built only with clang (which brings libFuzzer),
# from the sources it names, all instrumented with the address and undefined-behaviour
# sanitizers. Clang knows no execution character set but UTF-8, so the program is compiled
# without the project's CP1252 option: the sources it names must hold no non-ASCII literals.
function(lv_fuzz name)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    return()
  endif()
  add_executable(${name} ${ARGN})
  get_target_property(options ${name} COMPILE_OPTIONS)
  list(REMOVE_ITEM options -fexec-charset=CP1252)
  set_property(TARGET ${name} PROPERTY COMPILE_OPTIONS ${options})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
endfunction()
