#!/usr/bin/env bash
# Runs a Windows program under Wine inside a virtual display, closes the warning, update and error
# boxes as a user would, waits for the main window "CS:GO Vigilor" and photographs the screen:
#   photograph-windows-program.sh PROGRAM.exe SCREENSHOT.png PROGRAM.log
# Exits 0 when the main window showed within a minute, 1 otherwise (the screenshot is taken either
# way). Wine's settings (WINEPREFIX, WINEPATH, ...) come from the caller's environment.
set -u
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi
program=$1
screenshot=$2
log=$3
wine "$program" > "$log" 2>&1 &
shown=1
for _ in $(seq 120); do
    if xdotool search --onlyvisible --name '^CS:GO Vigilor$' >/dev/null 2>&1; then
        shown=0
        break
    fi
    box=$(xdotool search --onlyvisible --name '^(Предупреждение|Обновление|Ошибка)$' 2>/dev/null | head -n1)
    [ -n "$box" ] && xdotool key --window "$box" Return 2>/dev/null
    sleep 0.5
done
sleep 3
import -window root "$screenshot"
wineserver -k
exit $shown
