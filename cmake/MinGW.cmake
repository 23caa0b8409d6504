# Cross-compiling the Windows DLLs and test executables with MinGW-w64 (POSIX threads), shared
# by the toolchain files of both targets, which set CMAKE_SYSTEM_PROCESSOR first.
# The -posix compilers are required: the -win32 ones have no std::thread or std::mutex.
set(CMAKE_SYSTEM_NAME Windows)

set(KVSDK_MINGW_TRIPLE ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${KVSDK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KVSDK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KVSDK_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KVSDK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs the Windows executables under Wine (see cmake/WineTests.cmake for its environment).
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(KVSDK_WINE_PROGRAM NAMES wine wine64)
  if(KVSDK_WINE_PROGRAM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KVSDK_WINE_PROGRAM})
  endif()
endif()
