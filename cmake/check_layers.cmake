# Fails when a source under src/ includes a header of a layer above its own,
# or of a sibling on the same level. Run by the build before any library is
# compiled (see the top-level CMakeLists.txt), or by hand:
#   cmake -DKX_SRC=src -P cmake/check_layers.cmake            check
#   cmake -DKX_SRC=src -DKX_PRINT=ON -P cmake/check_layers.cmake   also list the edges
# KX_STAMP, when given, is touched after a clean check.

# Top to bottom; a layer may include its own headers and those of any layer
# with a lower rank. unpack and pack share a rank and must not include each other.
set(kx_layer_rank_programs 7)
set(kx_layer_rank_shell 6)
set(kx_layer_rank_setup 5)
set(kx_layer_rank_archive 4)
set(kx_layer_rank_bundle 3)
set(kx_layer_rank_unpack 2)
set(kx_layer_rank_pack 2)
set(kx_layer_rank_format 1)
set(kx_layer_rank_platform 0)

if(NOT KX_SRC)
  message(FATAL_ERROR "check_layers: KX_SRC (the src folder) is not set")
endif()
get_filename_component(kx_src "${KX_SRC}" ABSOLUTE)

file(GLOB_RECURSE kx_files "${kx_src}/*.cpp" "${kx_src}/*.h")
set(kx_errors "")
set(kx_edges "")
foreach(file ${kx_files})
  file(RELATIVE_PATH rel "${kx_src}" "${file}")
  string(REGEX MATCH "^[^/]+" from "${rel}")
  if(NOT DEFINED kx_layer_rank_${from})
    string(APPEND kx_errors "  ${rel}: not inside a known layer\n")
    continue()
  endif()
  file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line ${lines})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" header "${line}")
    string(REGEX MATCH "^[^/]+" to "${header}")
    if(header STREQUAL to OR NOT DEFINED kx_layer_rank_${to})
      string(APPEND kx_errors "  ${rel}: \"${header}\" is not a layer header (layer/file.h)\n")
    elseif(NOT to STREQUAL from)
      if(NOT kx_layer_rank_${to} LESS kx_layer_rank_${from})
        string(APPEND kx_errors "  ${rel}: includes \"${header}\" (${from} may only use layers below it)\n")
      endif()
      list(APPEND kx_edges "${from} -> ${to}")
    endif()
  endforeach()
  # The system's own headers belong behind the platform seam (and in the
  # programs' entry points).
  if(NOT from STREQUAL "platform" AND NOT from STREQUAL "programs")
    file(STRINGS "${file}" system_lines
         REGEX "^[ \t]*#[ \t]*include[ \t]*<(windows|shellapi|shlobj|commdlg|unistd|fcntl|dirent|termios|sys/)")
    foreach(line ${system_lines})
      string(APPEND kx_errors "  ${rel}: ${line} (system headers only behind the platform seam)\n")
    endforeach()
  endif()
endforeach()

if(KX_PRINT)
  list(REMOVE_DUPLICATES kx_edges)
  list(SORT kx_edges)
  foreach(edge ${kx_edges})
    message(STATUS "${edge}")
  endforeach()
endif()
if(kx_errors)
  message(FATAL_ERROR "Layer order: programs > shell > setup > archive > bundle > unpack | pack > format > platform\n${kx_errors}")
endif()
if(KX_STAMP)
  file(TOUCH "${KX_STAMP}")
endif()
