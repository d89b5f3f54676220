#!/usr/bin/env bash
# Runs one Windows test program under Wine for ctest. Its output goes through a file: a console
# host that Wine at times leaves behind inherits the program's output, and were that ctest's pipe,
# ctest would wait for it until the test's time-out.
set -u
output=$(mktemp)
wine "$@" > "$output" 2>&1
status=$?
cat "$output"
rm -f "$output"
exit "$status"
