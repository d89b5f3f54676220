#!/usr/bin/env bash
# Builds the program pinned to a throwaway CA and the loopback content server, starts the reference
# server with the demo content and opens the program against it. Without a display it runs under
# Xvfb, saves screenshots of the preloader and the main window in build-run/ and exits by itself.
set -euo pipefail
cd "$(dirname "$0")"
root=$(pwd)
build=$root/build-run
port=8443
url="https://127.0.0.1:$port/"

scripts/install-deps.sh build run

# A throwaway CA and server certificate, made once per checkout and never committed.
pki=$build/pki
scripts/make-pki.sh "$pki"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIGILOR_BUILD_TESTS=OFF \
    -DVIGILOR_CONTENT_SERVER_URL="$url" -DVIGILOR_CONTENT_SERVER_CA="$pki/ca.pem"
cmake --build "$build" -j"$(nproc)" --target vigilor vigilor-content-server vigilor-demo-traces \
    vigilor-demo-driver-list vigilor-demo-machine

server/demo/prepare-content.sh "$build/content" "" "$build/server/vigilor-demo-driver-list"

# The examined machine of the demo: its folders, traces and browsers, the registry stand-in pointing
# into them; VIGILOR_DEMO_MACHINE=realistic lays the bulk of a real gaming PC on top.
machine=$build/machine
bulk=()
[ "${VIGILOR_DEMO_MACHINE:-}" = realistic ] && bulk=("$build/server/vigilor-demo-machine")
server/demo/lay-out-machine.sh "$machine" "$build/server/vigilor-demo-traces" "${bulk[@]}"

# The admins' pages take this demo password (user admin).
[ -f "$build/admin.token" ] || (umask 077 && openssl rand -hex 16 > "$build/admin.token")

delay=0
[ -z "${DISPLAY:-}" ] && delay=400 # slow enough to photograph the preloader
"$build/server/vigilor-content-server" --content "$build/content" --cert "$pki/server.pem" --key "$pki/server.key" \
    --port "$port" --delay-ms "$delay" --admin-token-file "$build/admin.token" > "$build/server.log" 2>&1 &
server_pid=$!
trap 'kill $server_pid 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
done

export APPDATA=$machine/AppData/Roaming
export TMPDIR=$machine/AppData/Local/Temp
export SYSTEMDRIVE=$machine PROGRAMDATA=$machine/ProgramData PUBLIC=$machine/Public
export VIGILOR_REGISTRY_FILE=$machine/registry.reg
# The Windows folder of the demo machine, with its Prefetch files and PCA launch list.
export SystemRoot=$machine/Windows
# Its change journal and event log, as the stand-ins read them.
export VIGILOR_USN_JOURNAL=$machine/usn-journal.bin VIGILOR_EVENT_LOG=$machine/events.xml
# Its kernel: signatures enforced, no debugger, the drivers it has loaded; its local application data
# and Program Files, where the drivers check places files.
export VIGILOR_CODE_INTEGRITY=0x1 VIGILOR_KERNEL_DEBUGGER=0 VIGILOR_LOADED_DRIVERS=$machine/loaded-drivers.txt
export LOCALAPPDATA=$machine/AppData/Local ProgramFiles="$machine/Program Files"
# Its Amcache, and a cheat's overlay window kept out of screen capture.
export VIGILOR_AMCACHE=$machine/Windows/AppCompat/Programs/Amcache.hve VIGILOR_HIDDEN_WINDOWS=$machine/hidden-windows.txt

if [ -n "${DISPLAY:-}" ]; then
    echo "reports sent from the program: $url""admin/reports (user admin, password in $build/admin.token)"
    "$build/src/vigilor"
    exit $?
fi

cat > "$build/session.sh" <<'INNER'
#!/usr/bin/env bash
build=$1
"$build/src/vigilor" > "$build/program.log" 2>&1 &
pid=$!
sleep 1.5
import -window root "$build/preloader.png"
# Any warning box about folders is closed the way a user would.
for _ in $(seq 40); do
    xdotool search --onlyvisible --name '^CS:GO Vigilor$' >/dev/null 2>&1 && break
    box=$(xdotool search --onlyvisible --name '^(Предупреждение|Обновление|Ошибка)$' 2>/dev/null | head -n1)
    [ -n "$box" ] && xdotool windowfocus --sync "$box" key Return 2>/dev/null
    sleep 0.5
done
sleep 1
import -window root "$build/main-window.png"
# Scan on the prohibited-programs and accounts tabs (the tabs stand in a column on the left, the scan
# button at the top right of each page).
xdotool mousemove 100 67 click 1 sleep 0.5 mousemove 870 30 click 1
sleep 2
import -window root "$build/prohibited-programs.png"
xdotool mousemove 100 145 click 1 sleep 0.5 mousemove 870 30 click 1
sleep 2
import -window root "$build/accounts.png"
xdotool mousemove 100 106 click 1
sleep 1
import -window root "$build/utilities.png"
xdotool mousemove 380 108 click 1 sleep 0.5 mousemove 730 108 click 1
xdotool mousemove 100 184 click 1 sleep 0.5 mousemove 382 32 click 1
sleep 1
import -window root "$build/error-fixing.png"
# The execution traces, collected.
xdotool mousemove 100 223 click 1 sleep 0.5 mousemove 870 30 click 1
sleep 2
import -window root "$build/traces.png"
# The drivers, checked.
xdotool mousemove 100 262 click 1 sleep 0.5 mousemove 870 30 click 1
sleep 2
import -window root "$build/drivers.png"
# The report tab: a note, then the report sent to the server.
xdotool mousemove 100 301 click 1 sleep 0.5 mousemove 550 430 click 1 sleep 0.3 type "Demo check before the final"
xdotool mousemove 845 512 click 1
sleep 2
import -window root "$build/report.png"
# The whole check from the information tab, and its result.
xdotool mousemove 100 28 click 1 sleep 0.5 mousemove 284 484 click 1
sleep 12
import -window root "$build/whole-check.png"
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
exit 0
INNER
chmod +x "$build/session.sh"
xvfb-run -a -s "-screen 0 1280x800x24" "$build/session.sh" "$build"
# The admins' list of reports as a browser shows it, trusting the demo CA through its own NSS database.
browser_home=$build/browser-home
if [ ! -d "$browser_home/.pki/nssdb" ]; then
    mkdir -p "$browser_home/.pki/nssdb"
    certutil -N -d "sql:$browser_home/.pki/nssdb" --empty-password
    certutil -A -d "sql:$browser_home/.pki/nssdb" -n vigilor-demo -t "C,," -i "$pki/ca.pem"
fi
sandbox=()
[ "$(id -u)" -eq 0 ] && sandbox=(--no-sandbox)
HOME=$browser_home timeout 120 chromium --headless "${sandbox[@]}" --disable-gpu --hide-scrollbars \
    --user-data-dir="$browser_home/profile" --window-size=1000,420 --screenshot="$build/admin-reports.png" \
    "https://admin:$(cat "$build/admin.token")@127.0.0.1:$port/admin/reports" > /dev/null 2>&1 ||
    echo "no screenshot of the admin page (chromium failed)"
# The result page of the whole check's report, the newest one.
newest=$(sqlite3 "$build/content/reports.sqlite" 'select id from reports order by seq desc limit 1' 2>/dev/null || true)
[ -n "$newest" ] && { HOME=$browser_home timeout 120 chromium --headless "${sandbox[@]}" --disable-gpu --hide-scrollbars \
    --user-data-dir="$browser_home/profile" --window-size=1000,1400 --screenshot="$build/admin-result.png" \
    "https://admin:$(cat "$build/admin.token")@127.0.0.1:$port/admin/reports/$newest" > /dev/null 2>&1 ||
    echo "no screenshot of the result page (chromium failed)"; }
echo "screenshots: $build/preloader.png $build/main-window.png $build/prohibited-programs.png $build/accounts.png" \
    "$build/utilities.png $build/error-fixing.png $build/traces.png $build/drivers.png $build/report.png" \
    "$build/whole-check.png $build/admin-reports.png $build/admin-result.png"
echo "reports on the server: $(sqlite3 "$build/content/reports.sqlite" 'select count(*) from reports' 2>/dev/null)"
echo "tools started: $(cat "$TMPDIR/vigilor-demo-tools.log" 2>/dev/null | wc -l) (log: $TMPDIR/vigilor-demo-tools.log)"
echo "game folder after the fix: $(ls "$machine/Games/csgo" | tr '\n' ' ')"
echo "server log: $build/server.log"
