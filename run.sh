#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and builds the project. Every mode first installs the Debian
# packages it needs that are missing (tools/setup/install-packages.sh), and goes on when the
# package mirror is momentarily incomplete, naming what it could not install.
#   ./run.sh demo   build the library and the kvsdk host, run the demo on simulated devices
#   ./run.sh test   build and run every suite (Linux, the C#/Python bindings, the install and
#                   packages, ASan/UBSan, TSan, fuzz smoke, Windows x86_64 and 32-bit x86 under
#                   Wine) and end with one summary; KVSDK_REQUIRE_ALL=1 fails on any skipped suite
#   ./run.sh bench  build the Release library and the benchmark, and print its table
#   ./run.sh package  build the release archives, the .deb, the Python wheels, the NuGet and the
#                     Unity packages into build/packages/
#   ./run.sh fuzz [SECONDS]   a longer run of every fuzz target (default 300 s each)
set -euo pipefail
cd "$(dirname "$0")"

DEMO_PACKAGES=(cmake make g++)
# The server of 'kvsdk view', found through pkg-config; without it kvsdk is built without view.
VIEW_PACKAGES=(pkg-config libcpp-httplib-dev)
TEST_PACKAGES=(cmake make g++ googletest libgtest-dev binutils mingw-w64 g++-mingw-w64-x86-64
  wine wine64 clang libclang-rt-14-dev)
# The C# and Python bindings' suites, the wheel check (python3 -m venv); mono-devel has the
# netstandard facade the netstandard2.0 assembly runs on, and sn.
TEST_PACKAGES+=(mono-mcs mono-runtime mono-devel python3 python3-pytest python3-pip
  python3-setuptools python3-wheel unzip)
# The 32-bit Windows build and its Wine, the install and package checks.
TEST_PACKAGES+=(g++-mingw-w64-i686 wine32:i386 pkg-config)
# kvsdk view and watch, tested in headless Chromium and in tmux.
TEST_PACKAGES+=(libcpp-httplib-dev tmux chromium chromium-driver python3-selenium)
# The API reference of the public header (the CTest api_reference).
TEST_PACKAGES+=(doxygen)
PACKAGE_PACKAGES=(cmake make g++ binutils mingw-w64 g++-mingw-w64-x86-64 g++-mingw-w64-i686
  python3 mono-mcs mono-devel)
FUZZ_PACKAGES=(cmake make clang libclang-rt-14-dev)
FUZZ_TARGETS=(simfile regfile sysfs hiddesc cmdline timeline)

source tools/setup/install-packages.sh

# Stops the mode when a package it cannot do without is missing.
require_packages() {
  local p missing=0
  for p in "$@"; do
    if package_missing "$p"; then
      echo "== cannot go on: $p is not installed${KVSDK_NOT_INSTALLED[$p]:+ (${KVSDK_NOT_INSTALLED[$p]})}" >&2
      missing=1
    fi
  done
  return $missing
}

build_preset() {
  echo "== $1: configure and build"
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
}

run_preset() {
  build_preset "$1"
  echo "== $1: test"
  ctest --preset "$1"
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

# The test command's suites: each runs to its end whatever the others did, and the summary
# lists every one with its outcome and wall time.
SUITES=()
declare -A SUITE_STATUS=() SUITE_SECONDS=() SUITE_NOTE=()

# run_suite <name> <command...>: runs the command in a subshell with errexit on.
run_suite() {
  local name=$1 start=$SECONDS rc
  shift
  echo
  echo "==== suite: $name"
  set +e
  (
    set -e
    "$@"
  )
  rc=$?
  set -e
  SUITES+=("$name")
  SUITE_SECONDS[$name]=$((SECONDS - start))
  if [ "$rc" -eq 0 ]; then SUITE_STATUS[$name]=passed; else SUITE_STATUS[$name]=failed; fi
  echo "==== suite: $name ${SUITE_STATUS[$name]}"
}

skip_suite() {
  SUITES+=("$1")
  SUITE_STATUS[$1]=skipped
  SUITE_SECONDS[$1]=0
  SUITE_NOTE[$1]=$2
  echo
  echo "==== suite: $1 SKIPPED: $2"
}

# Prints the summary; answers non-zero when a suite failed, or was skipped under
# KVSDK_REQUIRE_ALL=1.
summary() {
  local name passed=0 failed=0 skipped=0 line
  echo
  echo "==== summary"
  for name in "${SUITES[@]}"; do
    line=$(printf '%-28s %-8s %5d s' "$name" "${SUITE_STATUS[$name]}" "${SUITE_SECONDS[$name]}")
    case ${SUITE_STATUS[$name]} in
      passed) passed=$((passed + 1)) ;;
      failed) failed=$((failed + 1)) ;;
      skipped) skipped=$((skipped + 1)); line+="  (${SUITE_NOTE[$name]})" ;;
    esac
    echo "$line"
  done
  line="$passed passed, $failed failed"
  [ "$skipped" -gt 0 ] && line+=", $skipped skipped"
  echo "$line"
  if [ "$skipped" -gt 0 ] && [ "${KVSDK_REQUIRE_ALL:-0}" = 1 ]; then
    echo "KVSDK_REQUIRE_ALL=1: a skipped suite counts as a failure"
    return 1
  fi
  [ "$failed" -eq 0 ]
}

# The suites of the linux preset share one build; the marker tells the later ones it is current.
linux_suite() {
  rm -f build/linux/.kvsdk-built
  build_preset linux
  touch build/linux/.kvsdk-built
  echo "== linux: test"
  ctest --preset linux -LE 'bindings|install' --output-junit "$PWD/build/linux/ctest-linux.xml"
}

# skipped_tests <suite> <junit file>: a row of the summary for every test of the suite that was
# skipped, with the reason from its "SKIPPED: ..." line.
skipped_tests() {
  local name reason
  [ -f "$2" ] || return 0
  while IFS=$'\t' read -r name reason; do
    skip_suite "$1: $name" "$reason"
  done < <(awk '
    /<testcase / { match($0, /name="[^"]*"/); name = substr($0, RSTART + 6, RLENGTH - 7)
                   skipped = /status="notrun"/; reason = "" }
    skipped && reason == "" && /(^|<system-out>)SKIPPED: / { reason = $0; sub(/.*SKIPPED: /, "", reason) }
    /<\/testcase>/ { if (skipped) print name "\t" (reason == "" ? "see its output" : reason); skipped = 0 }
  ' "$2")
}

# ctest_linux_label <label>: the tests of one label of the linux preset, on the build above.
ctest_linux_label() {
  [ -f build/linux/.kvsdk-built ] || { echo "the Linux build failed: nothing to test" >&2; return 1; }
  ctest --preset linux -L "$1"
}

# The 32-bit Windows build and the checks that need no Wine (export and import tables, version
# resources, the header under the cross compiler).
windows_x86_build_suite() {
  build_preset windows-i686
  echo "== windows-i686: tests that need no Wine"
  ctest --preset windows-i686 -LE wine
}

test_mode() {
  install_packages "${TEST_PACKAGES[@]}"
  rm -f build/linux/ctest-linux.xml
  run_suite "Linux" linux_suite
  skipped_tests "Linux" build/linux/ctest-linux.xml
  run_suite "bindings" ctest_linux_label bindings
  run_suite "install/packages" ctest_linux_label install
  run_suite "ASan/UBSan" run_preset linux-asan
  run_suite "TSan" run_preset linux-tsan
  run_suite "fuzz smoke" run_fuzz 15
  run_suite "Windows x64" run_preset windows
  run_suite "Windows x86 build, tables" windows_x86_build_suite
  if package_missing wine32:i386; then
    skip_suite "Windows x86 under Wine" \
      "wine32:i386 is not installed: $(package_reason wine32:i386 || true)"
  else
    run_suite "Windows x86 under Wine" ctest --preset windows-i686 -L wine
  fi
  summary
}

case "${1:-}" in
  demo)
    install_packages "${DEMO_PACKAGES[@]}" "${VIEW_PACKAGES[@]}"
    require_packages "${DEMO_PACKAGES[@]}"
    cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DKVSDK_BUILD_TESTS=OFF >/dev/null
    cmake --build build/demo -j2 --target kvsdk KvSDKEng KvSDKMod
    # Everything the demo writes stays under build/.
    ./build/demo/bin/kvsdk demo --svg build/demo/kvsdk-demo.svg --trace build/demo/kvsdk-demo-trace.txt
    cat <<EOF

To see the lights live while a host runs, follow its trace: in a browser,
  ./build/demo/bin/kvsdk view build/demo/kvsdk-demo-trace.txt
(it prints the address to open; its slider replays the demo), or in this terminal,
  ./build/demo/bin/kvsdk watch build/demo/kvsdk-demo-trace.txt
and run ./run.sh demo again in another terminal to watch it happen.
EOF
    ;;
  test)
    test_mode
    ;;
  fuzz)
    install_packages "${FUZZ_PACKAGES[@]}"
    require_packages "${FUZZ_PACKAGES[@]}"
    run_fuzz "${2:-300}"
    ;;
  package)
    install_packages "${PACKAGE_PACKAGES[@]}" "${VIEW_PACKAGES[@]}"
    require_packages "${PACKAGE_PACKAGES[@]}"
    rm -rf build/packages
    package_build linux -DCMAKE_INSTALL_LIBDIR=lib
    package_build windows-x64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
    package_build windows-x86 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
    rm -rf build/packages/_CPack_Packages
    # The language packages carry the libraries of these builds: the Linux redist pair (stripped
    # by its Release link), the DLLs as installed with --strip.
    for name in windows-x64 windows-x86; do
      cmake --install "build/package-$name" --prefix "build/package-$name/stripped" --strip >/dev/null
    done
    echo "== package: Python wheels"
    python3 packaging/python/build_wheel.py bindings/python build/packages \
      --native linux_x86_64=build/package-linux/redist/linux-x64 \
      --native win_amd64=build/package-windows-x64/stripped/bin \
      --native win32=build/package-windows-x86/stripped/bin \
      >/dev/null
    echo "== package: NuGet and Unity packages"
    python3 packaging/csharp/build_csharp.py packages build/packages \
      --native linux-x64=build/package-linux/redist/linux-x64 \
      --native win-x64=build/package-windows-x64/stripped/bin \
      --native win-x86=build/package-windows-x86/stripped/bin \
      >/dev/null
    echo "== packages in build/packages:"
    ls -1 build/packages
    ;;
  bench)
    install_packages "${DEMO_PACKAGES[@]}"
    require_packages "${DEMO_PACKAGES[@]}"
    cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DKVSDK_BUILD_TESTS=OFF >/dev/null
    cmake --build build/bench -j2 --target kvsdk_bench
    ./build/bench/bin/kvsdk_bench
    ;;
  *)
    echo "usage: $0 demo|test|bench|package|fuzz [seconds]" >&2
    exit 2
    ;;
esac
