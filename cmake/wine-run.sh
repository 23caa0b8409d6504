#!/bin/sh
# Runs one GoogleTest executable under Wine for ctest and decides whether it really passed:
# the exit code must be 0 AND the output must carry GoogleTest's "[  PASSED  ]" summary.
# (A binary Wine cannot load, such as a 32-bit one under a 64-bit-only Wine, prints a loader
# error and exits 0 without running a single test.) A program that is no GoogleTest suite names
# the line that proves its run in KVSDK_WINE_EXPECT (a grep pattern).
set -u
: "${WINEPREFIX:?WINEPREFIX must name the test prefix}"
export WINEDEBUG=${WINEDEBUG:--all}
unset DISPLAY WAYLAND_DISPLAY

log=$(mktemp "${TMPDIR:-/tmp}/kvsdk-wine-run.XXXXXX") || exit 1
status=$(mktemp "${TMPDIR:-/tmp}/kvsdk-wine-rc.XXXXXX") || exit 1
trap 'rm -f "$log" "$status"' EXIT INT TERM

# The output is passed on as it comes, so a suite that hangs and is timed out still shows
# which test it was in.
{ wine "$@" </dev/null 2>&1; echo $? >"$status"; } | tee "$log"
rc=$(cat "$status")

if [ "$rc" -ne 0 ]; then
    echo "wine-run: exit code $rc"
    exit "$rc"
fi
if [ -n "${KVSDK_WINE_EXPECT:-}" ]; then
    if ! grep -q -- "$KVSDK_WINE_EXPECT" "$log"; then
        echo "wine-run: no line matching '$KVSDK_WINE_EXPECT': the executable did not run through"
        exit 1
    fi
elif ! grep -q '^\[  PASSED  \]' "$log"; then
    echo "wine-run: no GoogleTest summary in the output: the executable did not run its tests"
    exit 1
fi
if grep -q '^\[  FAILED  \]' "$log"; then
    echo "wine-run: failed tests reported"
    exit 1
fi
exit 0
