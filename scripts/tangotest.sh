#!/usr/bin/env bash
# Installs what is missing, builds, and starts Debian's TangoTest device server
# (sys/tg_test/1) on 127.0.0.1:45450 without a Tango database, as
# facilities/tangotest.json describes it. "stop" stops it again.
set -euo pipefail
cd "$(dirname "$0")/.."
port=45450
pattern="TangoTest test -ORBendPoint giop:tcp:127.0.0.1:$port"
if [ "${1:-}" = stop ]; then
  pkill -f "$pattern" && echo "TangoTest stopped" || echo "TangoTest was not running"
  exit 0
fi
bash scripts/deps.sh
bash scripts/build.sh
if pgrep -f "$pattern" >/dev/null; then
  echo "TangoTest already runs on 127.0.0.1:$port"
  exit 0
fi
log=$(mktemp /tmp/tangotest-XXXXXX.log)
nohup /usr/lib/tango/TangoTest test -ORBendPoint "giop:tcp:127.0.0.1:$port" -nodb \
  -dlist sys/tg_test/1 >"$log" 2>&1 &
for _ in $(seq 100); do
  if grep -q "Ready to accept request" "$log"; then
    echo "TangoTest runs on 127.0.0.1:$port (log: $log; stop: bash scripts/tangotest.sh stop)"
    exit 0
  fi
  sleep 0.1
done
echo "TangoTest did not start; its log ($log):" >&2
cat "$log" >&2
exit 1
