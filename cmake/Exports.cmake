# lv_export_names(TARGET NAME...): TARGET (a program or a shared library) exports exactly these
# names and nothing else. The objects that define them are linked in even when nothing in the
# target calls them, and a version script hides every other symbol.
function(lv_export_names target)
  set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}.exports.map")
  list(JOIN ARGN ";\n    " globals)
  file(WRITE "${script}.tmp" "{\n  global:\n    ${globals};\n  local:\n    *;\n};\n")
  file(COPY_FILE "${script}.tmp" "${script}" ONLY_IF_DIFFERENT)
  target_link_options(${target} PRIVATE "LINKER:--version-script=${script}")
  foreach(name IN LISTS ARGN)
    target_link_options(${target} PRIVATE "LINKER:--undefined=${name}")
  endforeach()
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${script}")
endfunction()
