# The project version, everywhere a host can see it.
#   - the header's KVSDKENG_VERSION_MAJOR/MINOR/PATCH must equal project(VERSION): checked here
#   - kvsdk_version_resource(<target> <description> <file name>): a Windows version resource
#   - kvsdk_import_libraries(<target>): the MSVC import library <name>.lib beside MinGW's .dll.a
include_guard(GLOBAL)

file(STRINGS ${CMAKE_SOURCE_DIR}/include/KvSDKEng.h kvsdk_version_lines
     REGEX "^#define KVSDKENG_VERSION_(MAJOR|MINOR|PATCH) ")
foreach(part MAJOR MINOR PATCH)
  set(value "")
  foreach(line IN LISTS kvsdk_version_lines)
    if(line MATCHES "^#define KVSDKENG_VERSION_${part} +([0-9]+)")
      set(value ${CMAKE_MATCH_1})
    endif()
  endforeach()
  if(NOT value STREQUAL PROJECT_VERSION_${part})
    message(FATAL_ERROR "include/KvSDKEng.h: KVSDKENG_VERSION_${part} is '${value}', "
                        "project() says ${PROJECT_VERSION_${part}}: keep them equal")
  endif()
endforeach()

function(kvsdk_version_resource target description file_name)
  if(NOT WIN32)
    return()
  endif()
  set(KVSDK_RC_DESCRIPTION "${description}")
  set(KVSDK_RC_FILE_NAME "${file_name}")
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "EXECUTABLE")
    set(KVSDK_RC_FILE_TYPE "VFT_APP")
  else()
    set(KVSDK_RC_FILE_TYPE "VFT_DLL")
  endif()
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}-version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

function(kvsdk_import_libraries target)
  if(NOT WIN32)
    return()
  endif()
  if(NOT CMAKE_DLLTOOL)
    string(REGEX REPLACE "gcc(-posix)?$" "dlltool" guess "${CMAKE_C_COMPILER}")
    find_program(CMAKE_DLLTOOL NAMES ${guess} dlltool REQUIRED)
  endif()
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(def ${CMAKE_SOURCE_DIR}/engine/${target}-x86.def)
    set(machine i386)
    set(kill_at -k)
  else()
    set(def ${CMAKE_SOURCE_DIR}/engine/${target}.def)
    set(machine i386:x86-64)
    set(kill_at)
  endif()
  # Both import libraries are made from the .def file: <name>.lib for MSVC's linker and, on
  # 32-bit, also MinGW's <name>.dll.a (the linker's own one would carry the plain names,
  # which no __stdcall caller asks for).
  set(commands COMMAND ${CMAKE_DLLTOOL} -m ${machine} ${kill_at} -d ${def}
    -D $<TARGET_FILE_NAME:${target}> -l $<TARGET_LINKER_FILE_DIR:${target}>/${target}.lib)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy
      $<TARGET_LINKER_FILE_DIR:${target}>/${target}.lib $<TARGET_LINKER_FILE:${target}>)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD ${commands} VERBATIM)
endfunction()
