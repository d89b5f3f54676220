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
# The demo's traces go into the prefix only for the photographs at the end; the tests collect a
# machine without them.
appdata=$(winepath -u "$(wine cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')" 2>/dev/null) || appdata=$WINEPREFIX/no-appdata
# The user's profile folder (C:\users\<user>), which holds AppData.
profile=$(dirname "$(dirname "$appdata")")
drive_c=$WINEPREFIX/drive_c
remove_demo_traces() {
    rm -rf "$drive_c/windows/Prefetch" "$drive_c/\$Recycle.Bin" "$drive_c/windows/AppCompat/Programs/Amcache.hve" \
        "$appdata/Microsoft/Windows/Recent/loader.exe.lnk" "$appdata/Microsoft/Windows/Recent/legit.cfg.lnk" \
        "$drive_c/Games" "$drive_c/Steam" "$drive_c/Program Files/MSI Afterburner" "$appdata/CheatTools" \
        "$profile/AppData/Local/Downloads" "$profile/AppData/Local/Temp/settings.cfg" \
        "$profile/AppData/Local/Temp/triggerbot.dll" "$profile/AppData/Local/Temp/iqvw64e.sys"
}
remove_demo_traces

echo "Tests that do not run under Wine (tests/windows-skipped.txt):"
sed "s/^/  /" tests/windows-skipped.txt
port=$(sed -E 's#^https://[^:/]+:([0-9]+)/.*#\1#' <<< "$(grep -E '^VIGILOR_CONTENT_SERVER_URL' "$build/CMakeCache.txt" | cut -d= -f2)")
# Connections of a test run just before (./test.sh) hold the content server's port in TIME_WAIT for
# up to a minute, and the tests' servers under Wine cannot bind it until then.
port_hex=$(printf '%04X' "$port")
for _ in $(seq 90); do
    grep -qE "^ *[0-9]+: [0-9A-F]+:$port_hex [0-9A-F]+:[0-9A-F]+ 06 " /proc/net/tcp /proc/net/tcp6 2>/dev/null || break
    sleep 1
done
cd "$build"
# One at a time: the tests share the prefix's registry.
ctest --output-on-failure --timeout 600
tested=$(date +%s)
echo "build: $((built - start)) s, tests: $((tested - built)) s"
cd "$root"

# The program as deployed: what its install rules put into vigilor-<version>/ (the DLLs CMake finds
# from the import tables, the plugins it loads), nothing else.
deploy=$build/deploy
rm -rf "$deploy"
cmake --install "$build" --prefix "$deploy" > /dev/null
program=$(ls -d "$deploy"/vigilor-*/vigilor.exe)
echo "deployed program: $(du -sh "$deploy" | cut -f1) in $(find "$deploy" -type f | wc -l) files ($(dirname "$program"))"

# The Windows program, seen: against the reference server (a Linux process on loopback) with the
# demo content and the Windows unzip.exe, the boxes closed as a user would, the main window photographed.
host=$build/host
cmake -S . -B "$host" -DCMAKE_BUILD_TYPE=Release -DVIGILOR_BUILD_TESTS=OFF > /dev/null
cmake --build "$host" -j"$(nproc)" --target vigilor-content-server vigilor-demo-traces vigilor-demo-driver-list > /dev/null
server/demo/prepare-content.sh "$build/content" "$prefix/bin/unzip.exe" "$host/server/vigilor-demo-driver-list"
# The demo's machine laid where an examiner meets it on Windows: the game and Steam on C:, the user's
# folders in the prefix's own profile, the traces where Windows keeps them (the game's Prefetch file
# naming Windows paths, a shortcut among the user's Recent items, a Recycle Bin entry, Amcache's hive).
machine=$build/machine
rm -rf "$machine"
cp -r server/demo/machine "$machine"
"$host/server/vigilor-demo-traces" "$machine" 'C:' 'C:\windows' "$(winepath -w "$profile")"
remove_demo_traces
mkdir -p "$drive_c/windows/Prefetch" "$drive_c/windows/AppCompat/Programs" "$drive_c/Program Files" \
    "$profile/AppData/Local"
cp -r "$machine/Games" "$machine/Steam" "$machine/\$Recycle.Bin" "$drive_c/"
cp -r "$machine/Program Files/MSI Afterburner" "$drive_c/Program Files/"
cp -r "$machine/AppData/Roaming/." "$appdata/"
cp -r "$machine/AppData/Local/." "$profile/AppData/Local/"
cp "$machine"/Windows/Prefetch/*.pf "$drive_c/windows/Prefetch/"
cp "$machine/Windows/AppCompat/Programs/Amcache.hve" "$drive_c/windows/AppCompat/Programs/"
wine reg add 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Steam App 730' /v InstallLocation \
    /d 'C:\Games' /f > /dev/null 2>&1
wine reg add 'HKCU\SOFTWARE\Valve\Steam' /v SteamPath /d 'C:\Steam' /f > /dev/null 2>&1
# No test's Windows process may still hold the server's port: end them, and wait until they are gone.
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
server_pid=$(scripts/start-content-server.sh "$port" "$build/server.log" "$host/server/vigilor-content-server" \
    --content "$build/content" --cert "$build/pki/server.pem" --key "$build/pki/server.key")
trap 'kill $server_pid 2>/dev/null || true; remove_demo_traces' EXIT
scripts/photograph-windows-program.sh "$program" "$build/main-window.png" "$build/program.log" "$build" ||
    echo "the Windows program showed no main window (log: $build/program.log)"
echo "screenshots of the Windows program: $build/main-window.png $build/traces.png $build/prohibited-programs.png"
