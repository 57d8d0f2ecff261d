# Checks the direction of every #include "folder/file.h" in the source tree:
#   base <- image <- thumbs <- tree, frame, dialogs <- app
# A file may include its own layer and the layers below it; tree/, frame/ and dialogs/ are one
# layer. tests/, fuzz/, bench/ and tools/ may include anything. Every quoted include with a
# folder must name a file that exists (a path left behind by a move fails here, not only in
# the build that happens to compile that file).
# Usage: cmake -DSOURCE_DIR=<tree> -P check_layers.cmake
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "SOURCE_DIR not set")
endif()

set(_rank_base 0)
set(_rank_image 1)
set(_rank_thumbs 2)
set(_rank_tree 3)
set(_rank_frame 3)
set(_rank_dialogs 3)
set(_rank_app 4)
set(_layers base image thumbs tree frame dialogs app)
set(_free tests fuzz bench tools)

set(_errors "")
set(_checked 0)
foreach(_top IN LISTS _layers _free)
  file(GLOB_RECURSE _files RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/${_top}/*.h" "${SOURCE_DIR}/${_top}/*.cpp"
       "${SOURCE_DIR}/${_top}/*.c")
  foreach(_file IN LISTS _files)
    file(STRINGS "${SOURCE_DIR}/${_file}" _lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"/]+/[^\"]+\"")
    get_filename_component(_dir "${_file}" DIRECTORY)
    foreach(_line IN LISTS _lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*$" "\\1" _target "${_line}")
      string(REGEX REPLACE "/.*$" "" _to "${_target}")
      math(EXPR _checked "${_checked} + 1")
      if(NOT EXISTS "${SOURCE_DIR}/${_target}" AND NOT EXISTS "${SOURCE_DIR}/${_dir}/${_target}"
         AND NOT EXISTS "${SOURCE_DIR}/${_top}/${_target}")
        string(APPEND _errors "  ${_file}: \"${_target}\" does not exist\n")
        continue()
      endif()
      if(NOT DEFINED _rank_${_top})
        continue()  # tests, fuzz, bench, tools
      endif()
      if(NOT DEFINED _rank_${_to})
        string(APPEND _errors "  ${_file}: \"${_target}\" is outside the product layers\n")
      elseif(_rank_${_to} GREATER _rank_${_top})
        string(APPEND _errors "  ${_file}: \"${_target}\" goes up from ${_top}/ to ${_to}/\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(_errors)
  message(FATAL_ERROR "Includes against the layer order (base <- image <- thumbs <- tree/frame/dialogs <- app):\n${_errors}")
endif()
message(STATUS "${_checked} folder includes checked, all downward")
