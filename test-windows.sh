#!/usr/bin/env bash
# Cross-builds the program and every test for 64-bit Windows with mingw-w64 and the Qt toolchain, runs
# the tests with ctest under Wine in a throwaway Wine prefix inside the build folder, and photographs
# the Windows program's main window against the reference server with the demo content.
#   VIGILOR_WINDOWS_TOOLCHAIN: the toolchain folder (default ../shared/toolchains/windows-qt5)
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)
build=$root/build-windows
toolchain_source=${VIGILOR_WINDOWS_TOOLCHAIN:-$root/../shared/toolchains/windows-qt5}

if [ ! -x "$toolchain_source/install.sh" ]; then
    echo "no Windows toolchain at $toolchain_source" >&2
    echo "make one with scripts/build-windows-toolchain.sh DIR (about an hour on two cores)," >&2
    echo "then run VIGILOR_WINDOWS_TOOLCHAIN=DIR ./test-windows.sh" >&2
    exit 1
fi

# The host side: the throwaway CA, the reference server and the screenshot tools run on Linux.
scripts/install-deps.sh build run
toolchain_file=$("$toolchain_source/install.sh" /opt/windows-qt5)
prefix=$(dirname "$toolchain_file")

scripts/make-pki.sh "$build/pki"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" -DCMAKE_BUILD_TYPE=Release \
    -DVIGILOR_CONTENT_SERVER_CA="$build/pki/ca.pem"
start=$(date +%s)
cmake --build "$build" -j"$(nproc)"
built=$(date +%s)

# A Wine prefix of the build's own, never the user's; Wine's fonts copied in, since Debian's Wine
# does not load them into a new prefix.
export WINEPREFIX=$build/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot --init > /dev/null 2>&1 || wine wineboot --init > /dev/null 2>&1
    wineserver -w
fi
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp -n /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
# The DLLs come straight from the toolchain and the compiler's run-time folders.
gcc_runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
export WINEPATH="$(winepath -w "$prefix/bin");$(winepath -w "$gcc_runtime");$(winepath -w /usr/x86_64-w64-mingw32/lib)"

echo "Tests that do not run under Wine (tests/windows-skipped.txt):"
grep -v '^#' tests/windows-skipped.txt | sed 's/^/  /'
cd "$build"
# One at a time: the tests share the prefix's registry.
ctest --output-on-failure --timeout 600
tested=$(date +%s)
echo "build: $((built - start)) s, tests: $((tested - built)) s"
