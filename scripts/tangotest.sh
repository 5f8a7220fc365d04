#!/usr/bin/env bash
# Installs what is missing, builds, and starts Debian's TangoTest device server
# (sys/tg_test/1) on 127.0.0.1:45450 without a Tango database, as
# facilities/tangotest.json describes it. "stop" stops it again: the server
# started here, by the PID kept in its PID file, and nothing else.
set -euo pipefail
cd "$(dirname "$0")/.."
port=45450
pidfile=${TMPDIR:-/tmp}/ovra-tangotest-$port.pid
# The PID file names a live TangoTest (not a process that took its number).
running() {
  [ -f "$pidfile" ] || return 1
  local pid
  pid=$(cat "$pidfile")
  [ -n "$pid" ] && [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = /usr/lib/tango/TangoTest ]
}
if [ "${1:-}" = stop ]; then
  if running; then
    pid=$(cat "$pidfile")
    kill "$pid"
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && kill -KILL "$pid"
    rm -f "$pidfile"
    echo "TangoTest stopped"
  else
    rm -f "$pidfile"
    echo "TangoTest was not running"
  fi
  exit 0
fi
bash scripts/deps.sh
bash scripts/build.sh
if running; then
  echo "TangoTest already runs on 127.0.0.1:$port (PID $(cat "$pidfile"))"
  exit 0
fi
log=$(mktemp /tmp/tangotest-XXXXXX.log)
nohup /usr/lib/tango/TangoTest test -ORBendPoint "giop:tcp:127.0.0.1:$port" -nodb \
  -dlist sys/tg_test/1 >"$log" 2>&1 &
pid=$!
echo "$pid" >"$pidfile"
for _ in $(seq 100); do
  if grep -q "Ready to accept request" "$log"; then
    echo "TangoTest runs on 127.0.0.1:$port (PID $pid, log: $log; stop: bash scripts/tangotest.sh stop)"
    exit 0
  fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
echo "TangoTest did not start; its log ($log):" >&2
cat "$log" >&2
kill "$pid" 2>/dev/null || true
rm -f "$pidfile"
exit 1
