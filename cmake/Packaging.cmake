# Release archives (cpack, or `./run.sh package` for all of them):
#   Windows x86_64: KvSDKEng-<version>-windows-x64.zip    Windows i686: ...-windows-x86.zip
#   Linux: KvSDKEng-<version>-linux-x86_64.tar.gz and kvsdkeng_<version>_amd64.deb
# Each holds what cmake/Install.cmake installs.
include_guard(GLOBAL)

set(CPACK_PACKAGE_NAME KvSDKEng)
set(CPACK_PACKAGE_VENDOR "KvSDKEng project")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Lighting control for VEXO and Pell USB gaming peripherals (library, header, kvsdk host)")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${CMAKE_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(platform windows-x86)
  else()
    set(platform windows-x64)
  endif()
  set(CPACK_GENERATOR ZIP)
else()
  set(platform linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_GENERATOR TGZ DEB)
endif()
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${platform})
# The archive unpacks into a folder of the same name: bin/, lib/, include/, share/.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)

# Debian package: everything under /usr (the generator's default prefix). No maintainer
# scripts: udev notices the new rule file by itself (docs/install.md says how to re-apply it to a
# device that is already plugged in).
set(CPACK_DEBIAN_PACKAGE_NAME kvsdkeng)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "KvSDKEng project <kvsdkeng@example.invalid>")
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1, libstdc++6 (>= 12)")
if(KVSDK_HAVE_VIEW)
  # 'kvsdk view' links Debian's cpp-httplib.
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libcpp-httplib0.11")
endif()
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "KvSDKEng drives the lights of VEXO and Pell USB gaming devices through four C functions.\n\
The package holds the libraries, the header, the CMake and pkg-config files, the kvsdk\n\
command-line host and the udev rule that gives the logged-in user access to the devices.")

include(CPack)
