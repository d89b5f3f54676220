#!/usr/bin/env bash
# Lays out the demo's examined machine in MACHINE (made afresh): the folders beside this script, the
# registry stand-in and lists pointing into them, the traces DEMO_TRACES (vigilor-demo-traces) writes
# and the browsers' databases built from SQL, so that no binary database is kept in the repository.
# With DEMO_MACHINE (vigilor-demo-machine), the bulk of a real gaming PC goes on top.
#   lay-out-machine.sh MACHINE DEMO_TRACES [DEMO_MACHINE]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
machine=$1
rm -rf "$machine"
mkdir -p "$(dirname "$machine")"
cp -r "$here/machine" "$machine"
for file in registry.reg loaded-drivers.txt hidden-windows.txt; do
    sed "s#@MACHINE@#$machine#g" "$here/machine/$file" > "$machine/$file"
done
# Its Prefetch file of the game, a shortcut, the Recycle Bin, the change journal and the event log.
"$2" "$machine"
while read -r sql target; do
    mkdir -p "$(dirname "$machine/$target")"
    sqlite3 "$machine/$target" < "$here/browsers/$sql"
done <<'DATABASES'
chrome-history.sql AppData/Local/Google/Chrome/User Data/Default/History
edge-history.sql AppData/Local/Microsoft/Edge/User Data/Default/History
opera-history.sql AppData/Roaming/Opera Software/Opera Stable/History
firefox-formhistory.sql AppData/Roaming/Mozilla/Firefox/Profiles/k2x9demo.default-release/formhistory.sqlite
firefox-places.sql AppData/Roaming/Mozilla/Firefox/Profiles/k2x9demo.default-release/places.sqlite
DATABASES
cp "$here/browsers/firefox-profiles.ini" "$machine/AppData/Roaming/Mozilla/Firefox/profiles.ini"
[ -z "${3:-}" ] || "$3" "$machine"
