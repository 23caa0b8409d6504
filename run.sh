#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and builds the project.
#   ./run.sh demo   build the library and the kvsdk host, run the demo on simulated devices
#   ./run.sh test   build and run every test: Linux (with the C# and Python bindings),
#                   AddressSanitizer/UBSan, ThreadSanitizer, and the Windows builds (x86_64 and
#                   32-bit x86) under Wine
#   ./run.sh bench  build the Release library and the benchmark, and print its table
#   ./run.sh package  build the release archives and the .deb into build/packages/
set -euo pipefail
cd "$(dirname "$0")"

DEMO_PACKAGES=(cmake make g++)
TEST_PACKAGES=(cmake make g++ googletest libgtest-dev binutils mingw-w64 g++-mingw-w64-x86-64
  wine wine64)
# The C# and Python bindings' suites (run by the linux preset's CTest).
TEST_PACKAGES+=(mono-mcs mono-runtime python3 python3-pytest python3-pip python3-setuptools
  python3-wheel)
# The 32-bit Windows build and its Wine, the install and package checks.
TEST_PACKAGES+=(g++-mingw-w64-i686 wine32:i386 pkg-config)
PACKAGE_PACKAGES=(cmake make g++ binutils mingw-w64 g++-mingw-w64-x86-64 g++-mingw-w64-i686)

install_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "== installing: ${missing[*]}"
  # 32-bit packages (wine32:i386) need the i386 architecture.
  if [[ " ${missing[*]}" == *":i386"* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

run_preset() {
  local preset=$1
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "== $preset: test"
  ctest --preset "$preset"
}

# package_build <name> [cmake options...]: a Release build without tests, packed by cpack.
package_build() {
  local name=$1
  shift
  echo "== package: $name"
  cmake -S . -B "build/package-$name" -DCMAKE_BUILD_TYPE=Release -DKVSDK_BUILD_TESTS=OFF \
    -DKVSDK_WERROR=ON "$@" >/dev/null
  cmake --build "build/package-$name" -j2
  cpack --config "build/package-$name/CPackConfig.cmake" -B build/packages >/dev/null
}

case "${1:-}" in
  demo)
    install_packages "${DEMO_PACKAGES[@]}"
    cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DKVSDK_BUILD_TESTS=OFF >/dev/null
    cmake --build build/demo -j2 --target kvsdk KvSDKEng KvSDKMod
    ./build/demo/bin/kvsdk demo
    ;;
  test)
    install_packages "${TEST_PACKAGES[@]}"
    for preset in linux linux-asan linux-tsan windows windows-i686; do
      run_preset "$preset"
    done
    echo "== every suite passed: Linux, ASan/UBSan, TSan, Windows x64 and x86 under Wine"
    ;;
  package)
    install_packages "${PACKAGE_PACKAGES[@]}"
    rm -rf build/packages
    package_build linux -DCMAKE_INSTALL_LIBDIR=lib
    package_build windows-x64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
    package_build windows-x86 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
    rm -rf build/packages/_CPack_Packages
    echo "== packages in build/packages:"
    ls -1 build/packages
    ;;
  bench)
    install_packages "${DEMO_PACKAGES[@]}"
    cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DKVSDK_BUILD_TESTS=OFF \
      -DKVSDK_BUILD_TOOLS=OFF >/dev/null
    cmake --build build/bench -j2 --target kvsdk_bench
    ./build/bench/bin/kvsdk_bench
    ;;
  *)
    echo "usage: $0 demo|test|bench|package" >&2
    exit 2
    ;;
esac
