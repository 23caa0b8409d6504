#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and builds the project.
#   ./run.sh demo   build the library and the kvsdk host, run the demo on simulated devices
#   ./run.sh test   build and run every test: Linux (with the C# and Python bindings),
#                   AddressSanitizer/UBSan, ThreadSanitizer, and the Windows build under Wine
#   ./run.sh bench  build the Release library and the benchmark, and print its table
set -euo pipefail
cd "$(dirname "$0")"

DEMO_PACKAGES=(cmake make g++)
TEST_PACKAGES=(cmake make g++ googletest libgtest-dev binutils mingw-w64 g++-mingw-w64-x86-64
  wine wine64)
# The C# and Python bindings' suites (run by the linux preset's CTest).
TEST_PACKAGES+=(mono-mcs mono-runtime python3 python3-pytest python3-pip python3-setuptools
  python3-wheel)

install_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "== installing: ${missing[*]}"
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

case "${1:-}" in
  demo)
    install_packages "${DEMO_PACKAGES[@]}"
    cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DKVSDK_BUILD_TESTS=OFF >/dev/null
    cmake --build build/demo -j2 --target kvsdk KvSDKEng KvSDKMod
    ./build/demo/bin/kvsdk demo
    ;;
  test)
    install_packages "${TEST_PACKAGES[@]}"
    for preset in linux linux-asan linux-tsan windows; do
      run_preset "$preset"
    done
    echo "== every suite passed: Linux, ASan/UBSan, TSan, Windows under Wine"
    ;;
  bench)
    install_packages "${DEMO_PACKAGES[@]}"
    cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DKVSDK_BUILD_TESTS=OFF \
      -DKVSDK_BUILD_TOOLS=OFF >/dev/null
    cmake --build build/bench -j2 --target kvsdk_bench
    ./build/bench/bin/kvsdk_bench
    ;;
  *)
    echo "usage: $0 demo|test|bench" >&2
    exit 2
    ;;
esac
