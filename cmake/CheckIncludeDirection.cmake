# Fails when a file of a layer includes a project header of a folder its layer may not read.
# The layers, from the bottom (docs/contributing.md, "Layers"):
#   common  <  catalogue, platform  <  diag  <  effects  <  devices  <  engine
# and beside them kvsdkmod, the device-I/O library, which reads common alone. A layer reads its
# own folder and the folders below it; the public headers ("KvSDKEng.h", "KvSDKMod.h") are
# included by name and every layer may read them. tools/, tests/, bench/, fuzz/ and bindings/
# sit on top and may read anything.
# Run as: cmake -DSOURCE_DIR=<repo> -P CheckIncludeDirection.cmake
cmake_minimum_required(VERSION 3.25)
set(rules
  "common|common"
  "catalogue|catalogue|common"
  "platform|platform|common"
  "diag|diag|platform|common"
  "effects|effects|diag|platform|catalogue|common"
  "devices|devices|effects|diag|platform|catalogue|common"
  "engine|engine|devices|effects|diag|platform|catalogue|common"
  "kvsdkmod|kvsdkmod|common")
set(failures "")
set(checked 0)
foreach(rule IN LISTS rules)
  string(REPLACE "|" ";" allowed "${rule}")
  list(GET allowed 0 layer)
  file(GLOB_RECURSE files "${SOURCE_DIR}/${layer}/*.h" "${SOURCE_DIR}/${layer}/*.cpp")
  if(NOT files)
    string(APPEND failures "  ${layer}/: no source files (a layer was renamed: update the rules)\n")
  endif()
  foreach(file IN LISTS files)
    math(EXPR checked "${checked} + 1")
    file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"/]+/")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"/]+)/.*" "\\1" folder "${line}")
      if(NOT folder IN_LIST allowed)
        file(RELATIVE_PATH rel "${SOURCE_DIR}" "${file}")
        string(APPEND failures "  ${rel} (${layer}): ${line}\n")
      endif()
    endforeach()
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "includes that reach upward or sideways:\n${failures}")
endif()
message(STATUS "include direction: ${checked} files, every include within its layer's reach")
