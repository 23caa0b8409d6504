# Export and import tables of the shared libraries, checked on the build host with the
# binutils of the target (no Wine needed).
include_guard(GLOBAL)

set(KVSDK_EXPORTED_FUNCTIONS KvSDKEngInit KvSDKEngUninit KvSDKSetEffect KvSDKGetEffect)
set(KVSDK_TABLE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/CheckBinaryTables.cmake)

if(WIN32)
  if(NOT CMAKE_OBJDUMP)
    find_program(CMAKE_OBJDUMP NAMES x86_64-w64-mingw32-objdump objdump)
  endif()
  add_test(NAME kvsdk_dll_exports
    COMMAND ${CMAKE_COMMAND} -DMODE=pe-exports -DTOOL=${CMAKE_OBJDUMP}
      -DFILE=$<TARGET_FILE:KvSDKEng>
      -DEXPECTED=KvSDKEngInit@1,KvSDKEngUninit@2,KvSDKSetEffect@3,KvSDKGetEffect@4
      -P ${KVSDK_TABLE_SCRIPT})
  # A MinGW runtime DLL would have to ship beside the library; everything is linked statically.
  set(runtime_dlls "^(libstdc\\+\\+|libgcc_s|libwinpthread)")
  foreach(library KvSDKEng KvSDKMod)
    add_test(NAME kvsdk_dll_imports_${library}
      COMMAND ${CMAKE_COMMAND} -DMODE=pe-imports -DTOOL=${CMAKE_OBJDUMP}
        -DFILE=$<TARGET_FILE:${library}> "-DFORBIDDEN=${runtime_dlls}"
        -P ${KVSDK_TABLE_SCRIPT})
  endforeach()
  # Version resources: what Explorer's file properties show.
  foreach(target KvSDKEng KvSDKMod kvsdk)
    if(TARGET ${target})
      add_test(NAME kvsdk_version_resource_${target}
        COMMAND ${CMAKE_COMMAND} -DMODE=pe-version -DTOOL=none -DFILE=$<TARGET_FILE:${target}>
          "-DEXPECTED=FileVersion=${PROJECT_VERSION},ProductVersion=${PROJECT_VERSION},ProductName=KvSDKEng"
          -P ${KVSDK_TABLE_SCRIPT})
    endif()
  endforeach()
elseif(UNIX)
  if(NOT CMAKE_NM)
    find_program(CMAKE_NM NAMES nm)
  endif()
  string(REPLACE ";" "," expected "${KVSDK_EXPORTED_FUNCTIONS}")
  add_test(NAME kvsdk_so_exports
    COMMAND ${CMAKE_COMMAND} -DMODE=elf-exports -DTOOL=${CMAKE_NM}
      -DFILE=$<TARGET_FILE:KvSDKEng> -DEXPECTED=${expected}
      -P ${KVSDK_TABLE_SCRIPT})
endif()
