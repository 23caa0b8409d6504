# The Linux libraries as a plugin folder ships them: redist/linux-x64/libKvSDKEng.so and
# libKvSDKMod.so, built from the same sources as the installed pair.
#
# The installed pair keeps its versioned SONAMEs (libKvSDKEng.so.1 needs libKvSDKMod.so.1),
# which hosts linking with -lKvSDKEng rely on. A plugin system copies only files ending in .so
# and loads them from one folder, so this pair is named without a version: libKvSDKMod.so has
# the SONAME libKvSDKMod.so, libKvSDKEng.so needs exactly that and finds it beside itself
# (RUNPATH $ORIGIN). Like the installed pair, it needs glibc 2.34 and the C++ runtime of GCC 12
# (libstdc++.so.6, GLIBCXX_3.4.30) from the system; linking that runtime in would raise the
# glibc floor to 2.36 (its random device and unwinder).
#
# The Unity package, the NuGet package (runtimes/linux-x64/native) and the Python platform
# wheel carry this folder as it is.
include_guard(GLOBAL)

set(KVSDK_REDIST_DIR ${CMAKE_BINARY_DIR}/redist/linux-x64)
set(redist_link_options -Wl,--no-undefined $<$<CONFIG:Release,MinSizeRel>:-s>)

get_target_property(mod_sources KvSDKMod SOURCES)
add_library(KvSDKMod_redist SHARED ${mod_sources})
target_include_directories(KvSDKMod_redist
  PUBLIC ${CMAKE_SOURCE_DIR}/kvsdkmod/include ${CMAKE_SOURCE_DIR}/include
  PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_definitions(KvSDKMod_redist PRIVATE KVSDKMOD_BUILDING)
target_link_libraries(KvSDKMod_redist PRIVATE kvsdk_common Threads::Threads)
target_link_options(KvSDKMod_redist PRIVATE ${redist_link_options})

add_library(KvSDKEng_redist SHARED $<TARGET_OBJECTS:kvsdkeng_objects>)
target_link_libraries(KvSDKEng_redist PRIVATE kvsdk_common KvSDKMod_redist Threads::Threads)
target_link_options(KvSDKEng_redist PRIVATE ${redist_link_options}
  -Wl,--version-script=${CMAKE_SOURCE_DIR}/engine/KvSDKEng.map)

# No VERSION or SOVERSION: the file name is the SONAME.
set_target_properties(KvSDKMod_redist KvSDKEng_redist PROPERTIES
  LIBRARY_OUTPUT_DIRECTORY ${KVSDK_REDIST_DIR}
  BUILD_WITH_INSTALL_RPATH ON
  INSTALL_RPATH "$ORIGIN"
  LINK_DEPENDS ${CMAKE_SOURCE_DIR}/engine/KvSDKEng.map)
set_target_properties(KvSDKMod_redist PROPERTIES OUTPUT_NAME KvSDKMod)
set_target_properties(KvSDKEng_redist PROPERTIES OUTPUT_NAME KvSDKEng)
