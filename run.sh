#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and builds the project.
#   ./run.sh demo   build the library and the kvsdk host, run the demo on simulated devices
#   ./run.sh test   build and run every test: Linux (with the C# and Python bindings),
#                   AddressSanitizer/UBSan, ThreadSanitizer, a short run of every fuzz target,
#                   and the Windows builds (x86_64 and 32-bit x86) under Wine
#   ./run.sh bench  build the Release library and the benchmark, and print its table
#   ./run.sh package  build the release archives and the .deb into build/packages/
#   ./run.sh fuzz [SECONDS]   a longer run of every fuzz target (default 300 s each)
set -euo pipefail
cd "$(dirname "$0")"

DEMO_PACKAGES=(cmake make g++)
TEST_PACKAGES=(cmake make g++ googletest libgtest-dev binutils mingw-w64 g++-mingw-w64-x86-64
  wine wine64 clang libclang-rt-14-dev)
# The C# and Python bindings' suites (run by the linux preset's CTest).
TEST_PACKAGES+=(mono-mcs mono-runtime python3 python3-pytest python3-pip python3-setuptools
  python3-wheel)
# The 32-bit Windows build and its Wine, the install and package checks.
TEST_PACKAGES+=(g++-mingw-w64-i686 wine32:i386 pkg-config)
PACKAGE_PACKAGES=(cmake make g++ binutils mingw-w64 g++-mingw-w64-x86-64 g++-mingw-w64-i686)
FUZZ_PACKAGES=(cmake make clang libclang-rt-14-dev)
FUZZ_TARGETS=(simfile regfile sysfs cmdline timeline)

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

# Builds the fuzz preset and runs every target for $1 seconds from its seed corpus in
# fuzz/corpus/<target>; what it finds new goes to build/fuzz/corpus/<target>, a crash fails.
run_fuzz() {
  local seconds=$1
  echo "== fuzz: configure and build"
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz
  for target in "${FUZZ_TARGETS[@]}"; do
    echo "== fuzz: $target for ${seconds} s"
    mkdir -p "build/fuzz/corpus/$target" "build/fuzz/artifacts"
    "./build/fuzz/bin/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/$target-" \
      "build/fuzz/corpus/$target" "fuzz/corpus/$target" 2>"build/fuzz/$target.log" ||
      { tail -n 40 "build/fuzz/$target.log"; echo "== fuzz: $target failed" >&2; return 1; }
    grep -E "^stat::number_of_executed_units" "build/fuzz/$target.log" || true
  done
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
    for preset in linux linux-asan linux-tsan; do
      run_preset "$preset"
    done
    run_fuzz 15
    run_preset windows
    run_preset windows-i686
    echo "== every suite passed: Linux, ASan/UBSan, TSan, fuzz smoke, Windows x64 and x86 under Wine"
    ;;
  fuzz)
    install_packages "${FUZZ_PACKAGES[@]}"
    run_fuzz "${2:-300}"
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
    echo "usage: $0 demo|test|bench|package|fuzz [seconds]" >&2
    exit 2
    ;;
esac
