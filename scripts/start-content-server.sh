#!/usr/bin/env bash
# Starts the reference content server on loopback port PORT in the background, its output in LOG, and
# prints its process id once it listens:
#   start-content-server.sh PORT LOG SERVER-PROGRAM [ARGUMENT...]      (--port PORT is added)
# Connections of a run just before (the tests' servers, some under Wine without SO_REUSEADDR) can
# hold the port in TIME_WAIT for up to a minute: the start waits for them and is tried again until the
# port can be bound.
set -euo pipefail
port=$1
log=$2
shift 2
port_hex=$(printf '%04X' "$port")
for _ in $(seq 90); do
    grep -qE "^ *[0-9]+: [0-9A-F]+:$port_hex [0-9A-F]+:[0-9A-F]+ 06 " /proc/net/tcp /proc/net/tcp6 2>/dev/null || break
    sleep 1
done
for _ in $(seq 90); do
    "$@" --port "$port" > "$log" 2>&1 &
    pid=$!
    for _ in $(seq 50); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$pid"
            exit 0
        fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.2
    done
    kill "$pid" 2>/dev/null || true
    sleep 1
done
cat "$log" >&2
exit 1
