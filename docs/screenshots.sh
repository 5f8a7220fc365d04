#!/usr/bin/env bash
# Takes the pictures in docs/images/ of the checker's windows on the demo
# facility, under a virtual X display: after a standard test, during a
# specific test with a Link Error box open and after it, and of the script
# editor. Without a window manager the windows have no title bars.
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
for tool in xvfb-run import; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (bash scripts/deps.sh)" >&2; exit 1; }
done

db=build/screenshot-db/database
work=$(mktemp -d)
trap 'rm -rf "$work" build/screenshot-db' EXIT
rm -rf build/screenshot-db
mkdir -p build/screenshot-db docs/images "$work/tmp"
cp -r database "$db"
printf 'Pump 4 pressure,PRESSURE,PUMP-04,0,,,1,DOUBLE,,READ\r\n' >>"$db/LINAC-VACUUM-1.csv"
out=$(pwd)/docs/images

steps=(
  "click:Command1" "idle" "wait:400" "shot:$out/standard-test.png"
  "check:SelfTestOption1" "click:Command2" "wait:900" "shot:$out/link-error.png"
  "button:Cancel" "idle" "wait:400" "shot:$out/stored-test-run.png"
  "click:Command4" "wait:900" "shot:$out/script-editor.png" "close"
  "wait:300" "quit"
)
IFS=';'
TEMP="$work/tmp" xvfb-run -a -s "-screen 0 1000x700x24" \
  "$exe" --database "$db" --demo-steps "${steps[*]}"
unset IFS
ls -l "$out"
