# lv_include_roots(TARGET SCOPE MODULE...): TARGET sees the headers of these modules, spelled
# "MODULE/header.h" as everywhere in the tree, and no others.
#
# There is no include path that holds the whole source tree. Each module has an include root of
# its own, ${CMAKE_BINARY_DIR}/include/MODULE, holding a single symbolic link MODULE -> the
# module's folder. A library adds its own root as a PUBLIC include directory, so a target that
# links store finds "store/prepaid.h", and a target that does not link it fails to compile such
# an include.
function(lv_include_roots target scope)
  foreach(module IN LISTS ARGN)
    set(root "${CMAKE_BINARY_DIR}/include/${module}")
    if(NOT IS_SYMLINK "${root}/${module}")
      file(MAKE_DIRECTORY "${root}")
      file(CREATE_LINK "${PROJECT_SOURCE_DIR}/${module}" "${root}/${module}" SYMBOLIC)
    endif()
    target_include_directories(${target} ${scope} "${root}")
  endforeach()
endfunction()
