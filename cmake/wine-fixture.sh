#!/bin/sh
# Prepares or tears down the private Wine prefix of a test run.
#   wine-fixture.sh setup   <prefix>   create the prefix if missing, start a persistent server
#   wine-fixture.sh cleanup <prefix>   stop the server and every process of the prefix
# Wine's own output goes to <prefix>.log: background Wine processes must never hold the
# test driver's pipes open.
set -u
action=${1:?action}
prefix=${2:?prefix}

WINEPREFIX=$prefix
WINEDEBUG=-all
WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
unset DISPLAY WAYLAND_DISPLAY
log=$prefix.log

case $action in
setup)
    # The marker is written once the prefix is complete (the registry files themselves are
    # saved only later by a persistent server).
    ready=$prefix/.kvsdk-prefix-ready
    mkdir -p "$prefix"
    # The server stays up between test processes (it would otherwise start and stop with each).
    wineserver -p </dev/null >>"$log" 2>&1
    if [ ! -f "$ready" ]; then
        echo "creating Wine prefix $prefix"
        wineboot -i </dev/null >>"$log" 2>&1 || { echo "wineboot -i failed, see $log"; exit 1; }
        if [ ! -d "$prefix/drive_c/windows/system32" ]; then
            echo "Wine prefix $prefix was not created, see $log"
            exit 1
        fi
        touch "$ready"
    else
        wineboot </dev/null >>"$log" 2>&1
    fi
    echo "Wine prefix ready: $prefix"
    ;;
cleanup)
    wineserver -k </dev/null >>"$log" 2>&1
    echo "Wine server stopped"
    ;;
*)
    echo "unknown action $action" >&2
    exit 2
    ;;
esac
exit 0
