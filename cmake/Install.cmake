# What `cmake --install` lays out, for hosts and for the release archives:
#   include/KvSDKEng.h
#   Linux:   lib/libKvSDKEng.so{,.1,.1.0.0} and lib/libKvSDKMod.so{...} (the engine's RUNPATH
#            $ORIGIN finds KvSDKMod beside it), lib/pkgconfig/kvsdkeng.pc,
#            lib/udev/rules.d/60-kvsdk.rules
#   Windows: bin/KvSDKEng.dll, bin/KvSDKMod.dll, lib/KvSDKEng.dll.a and lib/KvSDKMod.dll.a
#            (MinGW), lib/KvSDKEng.lib (Microsoft's linker)
#   bin/kvsdk, lib/cmake/KvSDKEng/ (find_package), share/doc/KvSDKEng/ (README, its docs/ pages,
#   LICENSE and the example host)
include_guard(GLOBAL)
include(CMakePackageConfigHelpers)

set(KVSDK_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/KvSDKEng)
set(KVSDK_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/KvSDKEng)

install(TARGETS KvSDKEng KvSDKMod
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${CMAKE_SOURCE_DIR}/include/KvSDKEng.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(WIN32)
  install(FILES $<TARGET_LINKER_FILE_DIR:KvSDKEng>/KvSDKEng.lib
          DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
if(TARGET kvsdk)
  install(TARGETS kvsdk RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE
        DESTINATION ${KVSDK_INSTALL_DOCDIR})
# The pages the README links to, beside it.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/ DESTINATION ${KVSDK_INSTALL_DOCDIR}/docs
        FILES_MATCHING PATTERN "*.md" PATTERN "*.png")
# The consumer project of the tests doubles as the example of a host that links the library.
install(FILES ${CMAKE_SOURCE_DIR}/tests/consumer/host.c ${CMAKE_SOURCE_DIR}/tests/consumer/host.cpp
              ${CMAKE_SOURCE_DIR}/tests/consumer/CMakeLists.txt
        DESTINATION ${KVSDK_INSTALL_DOCDIR}/example)

configure_package_config_file(${CMAKE_SOURCE_DIR}/packaging/KvSDKEngConfig.cmake.in
  ${CMAKE_BINARY_DIR}/packaging/KvSDKEngConfig.cmake
  INSTALL_DESTINATION ${KVSDK_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/packaging/KvSDKEngConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/packaging/KvSDKEngConfig.cmake
              ${CMAKE_BINARY_DIR}/packaging/KvSDKEngConfigVersion.cmake
        DESTINATION ${KVSDK_INSTALL_CMAKEDIR})

if(UNIX)
  # The .pc file finds its prefix from its own folder, so an unpacked archive works anywhere.
  set(pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  file(RELATIVE_PATH KVSDK_PC_TO_PREFIX /prefix/${pc_dir} /prefix)
  string(REGEX REPLACE "/$" "" KVSDK_PC_TO_PREFIX "${KVSDK_PC_TO_PREFIX}")
  configure_file(${CMAKE_SOURCE_DIR}/packaging/kvsdkeng.pc.in
                 ${CMAKE_BINARY_DIR}/packaging/kvsdkeng.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/kvsdkeng.pc DESTINATION ${pc_dir})
  # Device access for the logged-in user (udev reads <prefix>/lib/udev/rules.d under /usr).
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/60-kvsdk.rules DESTINATION lib/udev/rules.d)
endif()
