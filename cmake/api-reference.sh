#!/bin/sh
# api-reference.sh <doxygen> <Doxyfile>: builds the API reference; fails on any Doxygen warning.
# Exit 77 (a skip to CTest) with the reason when doxygen is not installed.
doxygen=$1
if [ -z "$doxygen" ] || ! command -v "$doxygen" >/dev/null 2>&1; then
    echo "SKIPPED: doxygen is not installed (Debian package doxygen), so the API reference is not built"
    exit 77
fi
exec "$doxygen" "$2"
