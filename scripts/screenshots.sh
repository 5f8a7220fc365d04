#!/usr/bin/env bash
# Drives the window as an operator would, with the keyboard and the mouse
# (xdotool), under a virtual X display of its own (Xvfb on a free display
# number, openbox as window manager), and saves what it shows into
# docs/images/:
#   replace-question.png     Save of a fresh start's empty editor asks first
#   captured-references.png  the editor filled from the chosen device's values
#   long-description.png     a 168-character description in the grid
#   hung-server.png          a server that does not answer: the second Link
#                            Error box, Cancel All its default
#   hung-server-left.png     after Enter on that box
#   scale-factor-2.png       a first start with QT_SCALE_FACTOR=2 on 1600x1000
# With --tango (TangoTest installed) also, against a TangoTest it starts on a
# free loopback port without a database, as facilities/tangotest.json does:
#   tango-startup.png        the Tango site at start-up
#   tango-standard-test.png  a standard test of TG-1 after it
#   tango-captured-references.png  the editor filled from TG-1's values
#   tango-hung-server.png    the same TangoTest stopped (SIGSTOP) in a run
# Every program it starts it stops again by its PID. Settings and the
# database are scratch copies; the repository's are not touched.
#
#   bash scripts/screenshots.sh [--tango]     (OVRA_CHECKER=PATH for another build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
exe=${OVRA_CHECKER:-build/app/ovra-checker}
tango=false
[ "${1:-}" = --tango ] && tango=true
[ -x "$exe" ] || { echo "No $exe: build first (bash scripts/build.sh), or set OVRA_CHECKER." >&2; exit 1; }
for tool in Xvfb openbox xdotool import python3; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (apt-get install xvfb openbox xdotool imagemagick)" >&2; exit 1; }
done

out=$root/docs/images
work=$(mktemp -d)
pids=()
stop_all() {
  local pid
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    pid=${pids[i]}
    kill -CONT "$pid" 2>/dev/null || true
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap stop_all EXIT
started() { pids+=("$1"); }
forget() { # stops one program of ours
  kill -CONT "$1" 2>/dev/null || true
  kill "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
  local keep=() p
  for p in "${pids[@]}"; do [ "$p" = "$1" ] || keep+=("$p"); done
  pids=("${keep[@]}")
}

# A display number nobody holds.
display=
for n in $(seq 90 199); do
  if [ ! -e /tmp/.X$n-lock ] && [ ! -e /tmp/.X11-unix/X$n ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "no free X display number" >&2; exit 1; }
export DISPLAY=:$display
Xvfb "$DISPLAY" -screen 0 1600x1000x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
started $!
for _ in $(seq 100); do [ -e /tmp/.X11-unix/X$display ] && break; sleep 0.05; done
xdotool getmouselocation >/dev/null 2>&1 || { echo "Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1; }
openbox >"$work/openbox.log" 2>&1 &
started $!
for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window && break; sleep 0.05; done

# waitwin NAME [SECONDS]: the id of a visible window of that title.
waitwin() {
  timeout "${2:-15}" xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | tail -1
}
# gone NAME: waits until no visible window has that title.
gone() {
  for _ in $(seq 150); do
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  return 1
}
# focus WINDOW: activates it, so that the keys go to it.
focus() {
  xdotool windowactivate --sync "$1" 2>/dev/null || xdotool windowfocus --sync "$1"
}
shot() {
  sleep 0.3 # the last repaint
  import -window root "$out/$1"
  echo "  $1"
}
keys() { xdotool key --delay 60 "$@"; }

# The scratch database: the demo's, one test file with a long description.
db=$work/database
cp -r database "$db"
long="Pump 1 pressure read after the roughing pump has run down and the ion pump has taken over: what the vacuum interlock needs before the valves open to the beam line"
printf 'Description,Property,Device,OutputSize,OutputFormat\r\n%s,PRESSURE,PUMP-01,1,DOUBLE\r\nPump 1 status,STATUS,PUMP-01,1,SHORT\r\n' \
  "${long:0:168}" >"$work/long.csv"
# A facility whose vacuum server does not answer (code 45 on every read).
python3 - "$root/facilities/demo.json" "$work/hung.json" <<'EOF'
import json, sys
d = json.load(open(sys.argv[1]))
for s in d["contexts"][0]["servers"]:
    if s["name"] == "VACUUM-1":
        s["code"] = 45
json.dump(d, open(sys.argv[2], "w"), indent=1)
EOF

run=0
# start [ENV=VALUE ...] -- ARGS: a fresh start of the window (settings of its
# own), its PID in $app and its window in $win.
start() {
  run=$((run + 1))
  local env=()
  while [ "$1" != -- ]; do env+=("$1"); shift; done
  shift
  env XDG_CONFIG_HOME="$work/config$run" TEMP="$work" "${env[@]}" "$exe" "$@" \
    >"$work/app$run.log" 2>&1 &
  app=$!
  started "$app"
  win=$(waitwin "Device Server Checker" 20)
  [ -n "$win" ] || { echo "the window did not open:" >&2; cat "$work/app$run.log" >&2; exit 1; }
  focus "$win"
  sleep 0.4
}

echo "Screenshots into $out (display $DISPLAY):"
mkdir -p "$out"

# 1, 2. Fresh start, Edit Test: the list is empty while the file holds 9
# commands; Save asks. Then References from Current Values.
start -- --database "$db"
keys alt+e
ed=$(waitwin "^Checker Script Editor$")
focus "$ed"
# From the first field to Save: the Tab order's eleventh stop.
keys Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab space
sleep 0.5
shot replace-question.png
keys Escape # No: nothing saved
sleep 0.3
focus "$ed"
keys alt+r
sleep 1
# The mouse on the second entry shows its reference in the fields.
xdotool mousemove --window "$ed" 80 257 click 1
sleep 0.3
shot captured-references.png
forget "$app"

# 3. A long description in the grid.
cp "$work/long.csv" "$db/LINAC-VACUUM-1.csv"
start -- --database "$db"
keys alt+s alt+p
sleep 1
shot long-description.png
forget "$app"
cp database/LINAC-VACUUM-1.csv "$db/"

# 4. A server that does not answer: the first box keeps Retry; the second
# offers Cancel All as its default; Enter leaves.
start -- --database "$db" --facility "$work/hung.json"
keys alt+s alt+p
box=$(waitwin "Link Error")
focus "$box"
keys Escape
sleep 0.3
box=$(waitwin "Link Error")
focus "$box"
shot hung-server.png
keys Return
gone "Link Error" || true
sleep 0.5
shot hung-server-left.png
forget "$app"

# 5. The first start at scale factor 2 on 1600x1000.
start QT_SCALE_FACTOR=2 -- --database "$db"
shot scale-factor-2.png
forget "$app"

if $tango; then
  [ -x /usr/lib/tango/TangoTest ] || { echo "TangoTest is not installed" >&2; exit 1; }
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  /usr/lib/tango/TangoTest test -ORBendPoint "giop:tcp:127.0.0.1:$port" -nodb \
    -dlist sys/tg_test/1 >"$work/tangotest.log" 2>&1 &
  tg=$!
  started "$tg"
  sleep 0.1
  for _ in $(seq 100); do grep -q "Ready to accept request" "$work/tangotest.log" && break; sleep 0.1; done
  sed "s/45450/$port/" facilities/tangotest.json >"$work/tangotest.json"
  printf 'Description,Property,Device,OutputSize,OutputFormat\r\n%s\r\n%s\r\n%s\r\n' \
    "Double scalar,double_scalar,TG-1,1,DOUBLE" "Long scalar,long_scalar,TG-1,1,LONG" \
    "State,State,TG-1,1,SHORT" >"$db/TGTEST-TANGOTEST.csv"
  start -- --database "$db" --facility "$work/tangotest.json"
  shot tango-startup.png
  keys alt+t
  # no_value is never set: Cancel on each Link Error box lets the rest run.
  for _ in $(seq 10); do
    box=$(waitwin "Link Error" 3) || break
    [ -n "$box" ] || break
    focus "$box"
    keys Escape
    sleep 0.3
  done
  sleep 1
  shot tango-standard-test.png
  keys alt+e
  ed=$(waitwin "^Checker Script Editor$")
  focus "$ed"
  keys alt+r
  sleep 2
  xdotool mousemove --window "$ed" 80 257 click 1
  shot tango-captured-references.png
  forget "$app"
  start -- --database "$db" --facility "$work/tangotest.json"
  # A TangoTest that has stopped answering: its stored test under Selected.
  kill -STOP "$tg"
  keys alt+s alt+p
  if box=$(waitwin "Link Error" 30); then
    focus "$box"
    keys Escape
    if box=$(waitwin "Link Error" 30); then
      focus "$box"
      shot tango-hung-server.png
      keys Return
    fi
  fi
  [ -e "$out/tango-hung-server.png" ] || echo "no Link Error box for the stopped TangoTest" >&2
  forget "$app"
  forget "$tg"
fi
