#!/usr/bin/env bash
# The real program against a content server that does not answer: it must show the error box and,
# once the box is closed, end with exit code -1 (255). Needs Xvfb and xdotool; 77 means skipped.
program=$1
url=$2

case "$url" in
    https://127.0.0.1:*|https://localhost:*) ;;
    *) echo "content server is not on loopback: $url"; exit 77 ;;
esac
command -v xvfb-run >/dev/null && command -v xdotool >/dev/null || { echo "xvfb-run or xdotool missing"; exit 77; }
port=$(echo "$url" | sed -E 's#^https://[^:/]+:([0-9]+)/.*#\1#')
if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    echo "something listens on port $port; cannot test an unreachable server"
    exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/session.sh" <<'INNER'
#!/bin/bash
program=$1
work=$2
TMPDIR=$work "$program" > "$work/program.log" 2>&1 &
pid=$!
# Close the box with the keyboard as a user would.
if xdotool search --sync --onlyvisible --name '^Ошибка$' > "$work/box" 2>/dev/null; then
    sleep 0.5
    box=$(head -n1 "$work/box")
    xdotool windowfocus --sync "$box" key Return || kill "$pid"
fi
wait "$pid"
echo $? > "$work/status"
INNER
chmod +x "$work/session.sh"
timeout 120 xvfb-run -a "$work/session.sh" "$program" "$work"
status=$(cat "$work/status" 2>/dev/null)
cat "$work/program.log"
echo "exit status: $status"
[ "$status" = 255 ]
