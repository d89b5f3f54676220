#!/usr/bin/env bash
# Builds one libFuzzer target with clang, AddressSanitizer and UndefinedBehaviorSanitizer, and runs it
# for a bounded time from its seeds. Any crash, leak or sanitizer report fails the run; the final
# statistics (executions per second, coverage) are printed.
#   run-fuzz.sh SOURCE_DIR WORK_DIR TARGET [SECONDS] [SEEDS_DIR]
# TARGET is a row of the table below: the readers of the player's bytes, and of what a network client
# sends the server.
set -euo pipefail
# Absolute: the target works in a folder of its own, so relative corpus paths would not resolve.
src=$(cd "$1" && pwd)
mkdir -p "$2"
work=$(cd "$2" && pwd)
target=$3
seconds=${4:-20}
seeds=${5:-}
clangxx=$(command -v clang++ || true)
if [ -z "$clangxx" ]; then
    echo "clang++ is not installed"
    exit 1
fi

traces="$src/src/traces"
case "$target" in
    vdf) sources=("$src/src/accounts/vdf.cpp"); packages=() ;;
    prefetch) sources=("$traces/PrefetchReader.cpp" "$traces/ParserCopy.cpp" "$traces/TraceDecoders.cpp")
              packages=(Qt5Core libscca libfwnt) ;;
    shortcut) sources=("$traces/ShortcutReader.cpp" "$traces/ParserCopy.cpp"); packages=(Qt5Core liblnk) ;;
    recycle_bin|usn_journal|pca) sources=("$traces/TraceDecoders.cpp"); packages=(Qt5Core) ;;
    compat_cache) sources=("$traces/CompatCacheReader.cpp" "$traces/TraceDecoders.cpp"); packages=(Qt5Core) ;;
    event_log) sources=("$traces/EventLogReader.cpp"); packages=(Qt5Core) ;;
    amcache) sources=("$traces/AmcacheReader.cpp" "$traces/TraceDecoders.cpp"); packages=(Qt5Core libregf) ;;
    ntfs_volume) sources=("$src/src/platform/LockedFile.cpp" "$src/src/platform/VolumeDevice_other.cpp"
                          "$src/src/platform/FileSystem.cpp" "$src/src/platform/FileSystem_other.cpp")
                 packages=(Qt5Core libfsntfs libbfio) ;;
    registry_file) sources=("$src/src/platform/RegistryFile.cpp" "$src/src/platform/Registry.cpp" "$src/src/platform/FileSystem.cpp"
                            "$src/src/platform/FileSystem_other.cpp"); packages=(Qt5Core) ;;
    proxy_line) sources=("$src/server/ProxyProtocol.cpp"); packages=() ;;
    report_intake) sources=("$src/server/Intake.cpp"); packages=(nlohmann_json) ;;
    driver_file) sources=("$src/src/drivers/PeImage.cpp" "$src/src/drivers/EmbeddedSignature.cpp")
                 packages=(Qt5Core libcrypto) ;;
    *) echo "no fuzz target $target" >&2; exit 2 ;;
esac
flags=()
if [ ${#packages[@]} -gt 0 ]; then
    read -r -a flags <<< "$(pkg-config --cflags --libs "${packages[@]}")"
fi

mkdir -p "$work/$target"
# Qt's headers ask for position-independent code.
"$clangxx" -std=c++17 -g -O1 -fPIC -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
    -DQT_NO_CAST_TO_ASCII -I"$src/src" -I"$src/server" "$src/fuzz/${target}_fuzz.cpp" "${sources[@]}" \
    "${flags[@]}" -o "$work/$target/fuzz"
corpora=("$work/$target/corpus")
mkdir -p "${corpora[0]}"
[ -n "$seeds" ] && [ -d "$seeds" ] && corpora+=("$seeds")
# Inputs no writer of ours makes (a driver signed by the signing tool) are kept in the repository.
[ -d "$src/fuzz/corpus/$target" ] && corpora+=("$src/fuzz/corpus/$target")
# What the target once found, fixed since, stays among its seeds.
[ -d "$src/fuzz/findings/$target" ] && corpora+=("$src/fuzz/findings/$target")
# New inputs go to the work folder; the seeds are only read.
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=detect_leaks=1
# Known leaks of called libraries are suppressed by the function that makes them, which a full unwind
# finds (the Debian libraries keep no frame pointers).
if [ "$target" = amcache ]; then
    export ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0
    export LSAN_OPTIONS=suppressions="$src/fuzz/lsan-suppressions.txt"
fi
cd "$work/$target"
# A volume's metadata lies far apart: its seeds are larger than a trace file's.
max_len=65536
[ "$target" = ntfs_volume ] && max_len=2097152
./fuzz -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="$max_len" -print_final_stats=1 \
    "${corpora[@]}" < /dev/null
