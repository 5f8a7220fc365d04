#!/usr/bin/env bash
# Takes the pictures in docs/images/ of the checker's windows on the demo
# facility, under a virtual X display with the openbox window manager: after
# a standard test, during a specific test with a Link Error box open and
# after it, a run in progress with its progress line and Stop button, a
# configured run with its summary of every server, the script editor with the
# file it saves to, and the window in a dark palette.
#
# The specific test runs on a copy of the demo database whose vacuum test file
# has one more line, addressing a pump that does not exist (PUMP-04), so that
# the Link Error box appears. The repository's database is not touched. The
# copy lives at a fixed place under build/ because the window's caption shows
# its path, and that ends up in the pictures.
set -euo pipefail
cd "$(dirname "$0")/.."
exe=${OVRA_CHECKER:-build/app/ovra-checker}
if [ ! -x "$exe" ]; then
  echo "No $exe: build first (bash scripts/build.sh), or set OVRA_CHECKER." >&2
  exit 1
fi
for tool in xvfb-run import openbox; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (bash scripts/deps.sh)" >&2; exit 1; }
done

db=/tmp/ovra-demo/database
work=$(mktemp -d)
trap 'rm -rf "$work" /tmp/ovra-demo' EXIT
rm -rf /tmp/ovra-demo
mkdir -p /tmp/ovra-demo docs/images "$work/tmp"
cp -r database "$db"
printf 'Pump 4 pressure,PRESSURE,PUMP-04,0,,,1,DOUBLE,,READ\r\n' >>"$db/LINAC-VACUUM-1.csv"
out=$(pwd)/docs/images

steps=(
  "click:Command1" "idle" "wait:400" "shot:$out/standard-test.png"
  "check:SelfTestOption1" "click:Command2" "wait:900" "shot:$out/link-error.png"
  "button:Cancel All" "idle" "wait:400" "shot:$out/stored-test-run.png"
  "pick:DeviceServerList=MAGNETS-1" "wait:300" "click:Command2" "wait:1500"
  "shot:$out/run-in-progress.png" "idle"
  "check:SelfTestOption0" "click:Command2" "wait:900" "button:Cancel All" "idle" "wait:400"
  "shot:$out/configured-run.png"
  "click:Command4" "wait:900" "shot:$out/script-editor.png" "close" "wait:300"
  "dark" "check:SelfTestOption1" "pick:DeviceServerList=VACUUM-1" "wait:300" "click:Command2"
  "wait:900" "button:Cancel All" "idle" "wait:400" "shot:$out/dark-palette.png"
  "wait:300" "quit"
)
IFS=';'
# Settings (window place, last selection) go to a scratch place, so that the
# pictures do not depend on an earlier start.
XDG_CONFIG_HOME="$work/config" TEMP="$work/tmp" xvfb-run -a -s "-screen 0 1100x760x24" \
  sh -c 'openbox >/dev/null 2>&1 & sleep 1; exec "$@"' sh \
  "$exe" --database "$db" --demo-steps "${steps[*]}"
unset IFS
ls -l "$out"
