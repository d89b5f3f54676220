#!/usr/bin/env bash
# Unpacks the Windows cross toolchain beside this script into DEST once, installs the Debian packages
# it runs with, and prints the CMake toolchain file to pass as CMAKE_TOOLCHAIN_FILE.
#   install.sh [DEST]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dest=${1:-/opt/windows-qt5}
need=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 fonts-wine xz-utils)
missing=()
for package in "${need[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo_=""
    [ "$(id -u)" -eq 0 ] || sudo_=sudo
    DEBIAN_FRONTEND=noninteractive $sudo_ apt-get update -q >&2
    DEBIAN_FRONTEND=noninteractive $sudo_ apt-get install -y -q --no-install-recommends "${missing[@]}" >&2
fi
stamp=$dest/.unpacked-from
want=$(sha256sum "$here/windows-qt5.tar.xz" | cut -d' ' -f1)
if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$want" ]; then
    rm -rf "$dest"
    mkdir -p "$(dirname "$dest")"
    tmp=$(mktemp -d "$(dirname "$dest")/.windows-qt5.XXXXXX")
    tar -C "$tmp" -xJf "$here/windows-qt5.tar.xz"
    mv "$tmp/windows-qt5" "$dest"
    rmdir "$tmp"
    echo "$want" > "$stamp"
fi
echo "$dest/mingw-w64-x86_64.cmake"
