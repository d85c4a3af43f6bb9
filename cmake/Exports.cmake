# lv_export_names(TARGET NAME...): TARGET (a program or a shared library) exports exactly these
# names and nothing else. C names are given as they are; C++ names as they read demangled
# ("TMyEdit::Search(unsigned int, char const*, bool, bool, bool)", "vtable for TMyEdit").
# The objects that define the C names are linked in even when nothing in the target calls them
# (C++ classes come from object libraries); a version script hides every other symbol.
function(lv_export_names target)
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}.exports.map")
  set(c_names "")
  set(cxx_names "")
  foreach(name IN LISTS ARGN)
    if(name MATCHES "[:( ]")
      string(APPEND cxx_names "      \"${name}\";\n")
    else()
      string(APPEND c_names "    ${name};\n")
      target_link_options(${target} PRIVATE "LINKER:--undefined=${name}")
    endif()
  endforeach()
  set(text "{\n  global:\n${c_names}")
  if(cxx_names)
    string(APPEND text "    extern \"C++\" {\n${cxx_names}    };\n")
  endif()
  string(APPEND text "  local:\n    *;\n};\n")
  file(WRITE "${script}.tmp" "${text}")
  file(COPY_FILE "${script}.tmp" "${script}" ONLY_IF_DIFFERENT)
  target_link_options(${target} PRIVATE "LINKER:--version-script=${script}")
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${script}")
endfunction()
