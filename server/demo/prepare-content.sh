#!/usr/bin/env bash
# Builds the demo content folder for vigilor-content-server from the files beside this script:
#   prepare-content.sh OUT [UNZIP] [DRIVER_LIST_TOOL]
# The documents are copied, the tool stand-ins zipped into pack.zip, UNZIP (default: the system's
# Info-ZIP unzip; the Windows lane gives a Windows unzip.exe) served as the unpacking tool, and the
# bans table made from bans.sql. With DRIVER_LIST_TOOL (vigilor-demo-driver-list), the driver list
# document is made from the public list in loldrivers/ and the demo machine's own listed driver
# (demo-drivers.csv); without it the content has none, as a server that lost it would.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$1
mkdir -p "$out"
cp "$here/version.json" "$here/detection_data.json" "$here/motd.html" "$here/everything.json" "$out/"
cp "${2:-$(command -v unzip)}" "$out/unzip.exe"
rm -f "$out/drivers.json"
[ -z "${3:-}" ] || "$3" "$out/drivers.json" "$here/loldrivers/drivers.csv" "$here/demo-drivers.csv" > /dev/null
echo "Demo: the Info-ZIP unzip beside this file needs no library." > "$out/unzip32.dll"
rm -f "$out/pack.zip" "$out/bans.sqlite"
(cd "$here/pack" && zip -q -r "$out/pack.zip" data)
sqlite3 "$out/bans.sqlite" < "$here/bans.sql"
