#!/usr/bin/env bash
# Makes the Windows release: cross-builds the program with the shared toolchain (as the Windows lane
# does), lets CPack zip the installed folder into build-release/vigilor-<version>-win64.zip and writes
# SHA256SUMS beside it. Arguments go to CMake's configure step, which is how a league builds its own:
#   ./release-windows.sh -DVIGILOR_CONTENT_SERVER_URL=https://checks.example.org/ \
#       -DVIGILOR_CONTENT_SERVER_CA=league-ca.pem
# With VIGILOR_SIGN_CERT and VIGILOR_SIGN_KEY (PEM files; VIGILOR_SIGN_PASS_FILE names the key's
# passphrase file, VIGILOR_SIGN_TIMESTAMP_URL a time-stamp server) the program is signed with
# Authenticode before it is zipped.
#   VIGILOR_WINDOWS_TOOLCHAIN: the toolchain folder (default ../shared/toolchains/windows-qt5)
#   VIGILOR_RELEASE_DIR: the output folder (default build-release)
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)
out=$(realpath -m "${VIGILOR_RELEASE_DIR:-$root/build-release}")
toolchain_source=${VIGILOR_WINDOWS_TOOLCHAIN:-$root/../shared/toolchains/windows-qt5}
if [ ! -x "$toolchain_source/install.sh" ]; then
    echo "no Windows toolchain at $toolchain_source (see ./test-windows.sh)" >&2
    exit 1
fi

scripts/install-deps.sh build release
mkdir -p "$out"
toolchain_file=$("$toolchain_source/install.sh" /opt/windows-qt5)

# The same bytes from the same commit: times from the commit, no build paths in the binaries, no time
# stamps in the PE headers.
SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 315532800)
export SOURCE_DATE_EPOCH
# The resources' times are fixed, not the commit's: rcc's output is not rebuilt when only the commit
# changes, so a build folder used again would keep an older commit's time.
export QT_RCC_SOURCE_DATE_OVERRIDE=315532800
flags="-ffile-prefix-map=$root=. -ffile-prefix-map=$out=build"
cmake -S . -B "$out" -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" -DCMAKE_BUILD_TYPE=Release \
    -DVIGILOR_BUILD_TESTS=OFF -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
    -DCMAKE_RC_FLAGS="" -DCMAKE_EXE_LINKER_FLAGS="-Wl,--no-insert-timestamp" \
    -DCMAKE_SHARED_LINKER_FLAGS="-Wl,--no-insert-timestamp" "$@" > "$out/configure.log" 2>&1 ||
    { cat "$out/configure.log"; exit 1; }
cmake --build "$out" -j"$(nproc)" > "$out/build.log" 2>&1 || { tail -50 "$out/build.log"; exit 1; }
if [ -z "${VIGILOR_SIGN_CERT:-}" ]; then
    echo "unsigned release: set VIGILOR_SIGN_CERT and VIGILOR_SIGN_KEY to sign vigilor.exe"
fi
(cd "$out" && rm -f ./*.zip SHA256SUMS && cpack -G ZIP > cpack.log 2>&1) || { cat "$out/cpack.log"; exit 1; }
cd "$out"
archive=$(ls vigilor-*-win64.zip)
sha256sum "$archive" > SHA256SUMS
echo "archive: $out/$archive"
echo "size: $(stat -c %s "$archive") bytes"
echo "SHA-256: $(cut -d' ' -f1 SHA256SUMS)"
