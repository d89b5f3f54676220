#!/usr/bin/env bash
# Builds the key-values reader's libFuzzer target with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs it for a bounded time from the seed corpus. Any crash, leak or
# sanitizer report fails the run.
#   run-fuzz.sh SOURCE_DIR WORK_DIR [SECONDS]
set -euo pipefail
# Absolute: the target works in a folder of its own, so relative corpus paths would not resolve.
src=$(cd "$1" && pwd)
mkdir -p "$2"
work=$(cd "$2" && pwd)
seconds=${3:-60}
clangxx=$(command -v clang++ || true)
if [ -z "$clangxx" ]; then
    echo "clang++ is not installed"
    exit 1
fi
mkdir -p "$work/corpus"
"$clangxx" -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -I"$src/src" "$src/fuzz/vdf_fuzz.cpp" "$src/src/accounts/vdf.cpp" -o "$work/vdf-fuzz"
# New inputs go to the work folder; the committed seeds are only read.
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=detect_leaks=1
"$work/vdf-fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    "$work/corpus" "$src/fuzz/corpus" < /dev/null
