#!/usr/bin/env bash
# Runs a Windows program under Wine inside a virtual display, closes the warning, update and error
# boxes as a user would, waits for the main window "CS:GO Vigilor" and photographs the screen:
#   photograph-windows-program.sh PROGRAM.exe SCREENSHOT.png PROGRAM.log [TOUR_FOLDER]
# With TOUR_FOLDER it then collects the execution traces and scans on the prohibited-programs tab,
# photographing each into traces.png and prohibited-programs.png there.
# Exits 0 when the main window showed within a minute, 1 otherwise (the screenshot is taken either
# way). Wine's settings (WINEPREFIX, WINEPATH, ...) come from the caller's environment.
set -u
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi
program=$1
screenshot=$2
log=$3
tour=${4:-}
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
if [ -n "$tour" ] && [ $shown -eq 0 ]; then
    # The tabs stand in a column on the left of the window (35 pixels apart under Wine's font), each
    # page's button at its top right; the photographs are of the window alone.
    window=$(xdotool search --onlyvisible --name '^CS:GO Vigilor$' | head -n1)
    click() { xdotool mousemove --window "$window" "$1" "$2" click 1; sleep 0.5; }
    click 84 202
    click 870 30
    sleep 5
    import -window "$window" "$tour/traces.png"
    click 84 62
    click 870 30
    sleep 8
    import -window "$window" "$tour/prohibited-programs.png"
fi
wineserver -k
exit $shown
