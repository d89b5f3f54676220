#!/usr/bin/env bash
# Installs the Debian packages a task needs, only when some are missing:
#   install-deps.sh build|test|run ...
set -euo pipefail

build=(cmake make g++ pkg-config qtbase5-dev qtbase5-dev-tools libqt5sql5-sqlite libqt5svg5
       libcpp-httplib-dev libboost-dev libssl-dev libsqlite3-dev nlohmann-json3-dev libyara-dev libpq-dev
       libscca-dev libfwnt-dev liblnk-dev libbfio-dev libregf-dev libfsntfs-dev)
# openssl makes the tests' throwaway CA and osslsigncode signs their drivers; zip/unzip build and unpack the utilities archive;
# xvfb, xauth and xdotool drive the real program in a virtual display; curl is the benchmark's peer;
# clang builds the fuzz target; the tests read painted captions, so a font must be there;
# xdg-utils opens folders from the utilities tab in the demo; yara is the signature benchmark's baseline; Chromium, with certutil for its trust
# store, shows the admins' report pages; PostgreSQL and nginx's TCP balancer run several reference servers
# behind one address.
test=(openssl osslsigncode ntfs-3g zip unzip yara xvfb xauth xdotool curl sqlite3 clang libclang-rt-14-dev fonts-dejavu-core chromium
      libnss3-tools postgresql nginx libnginx-mod-stream)
run=(openssl zip unzip sqlite3 xvfb xauth xdotool imagemagick xdg-utils chromium libnss3-tools)
# The Windows release: Authenticode signing, a reproducible zip, and its test's unpacking, signing keys
# and screenshot.
release=(osslsigncode openssl zip unzip xvfb xauth xdotool imagemagick)

wanted=()
for group in "$@"; do
    case "$group" in
        build) wanted+=("${build[@]}") ;;
        test) wanted+=("${test[@]}") ;;
        run) wanted+=("${run[@]}") ;;
        release) wanted+=("${release[@]}") ;;
        *) echo "unknown package group: $group" >&2; exit 2 ;;
    esac
done

missing=()
for package in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    sudo_=""
    [ "$(id -u)" -eq 0 ] || sudo_=sudo
    $sudo_ apt-get update -q
    $sudo_ apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
