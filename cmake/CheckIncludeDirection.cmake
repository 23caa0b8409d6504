# Fails when a file includes a layer above its own. The layers, from the bottom:
#   common, platform  <  diag  <  effects  <  devices  <  engine
# effects and devices never include the engine; platform and common include none of the layers
# above them. Run as: cmake -DSOURCE_DIR=<repo> -P CheckIncludeDirection.cmake
set(rules
  "effects|engine"
  "devices|engine"
  "platform|engine/|devices/|effects/|diag/"
  "common|engine/|devices/|effects/|diag/|platform/")
set(failures "")
foreach(rule IN LISTS rules)
  string(REPLACE "|" ";" parts "${rule}")
  list(POP_FRONT parts layer)
  list(JOIN parts "|" forbidden)
  file(GLOB_RECURSE files "${SOURCE_DIR}/${layer}/*.h" "${SOURCE_DIR}/${layer}/*.cpp")
  foreach(file IN LISTS files)
    file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"(${forbidden})")
    foreach(line IN LISTS lines)
      file(RELATIVE_PATH rel "${SOURCE_DIR}" "${file}")
      string(APPEND failures "  ${rel}: ${line}\n")
    endforeach()
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "includes that reach upward:\n${failures}")
endif()
