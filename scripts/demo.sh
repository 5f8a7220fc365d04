#!/usr/bin/env bash
# Installs what is missing, builds, and starts the checker on the bundled demo
# facility: the window where there is a display, otherwise the same standard
# and specific tests through the terminal checker.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
# The demo facility, whatever Tango database or facility the environment names.
unset TANGO_HOST OVRA_FACILITY
if [ -n "${DISPLAY:-}" ] && [ -x build/app/ovra-checker ]; then
  exec build/app/ovra-checker "$@"
fi
echo
echo "No display: running the demo through ovra-check (for the window: xvfb-run build/app/ovra-checker,"
echo "or bash docs/screenshots.sh to take pictures of it)."
echo
build/app/ovra-check list
build/app/ovra-check standard LINAC VACUUM-1 PUMP-01 || true
build/app/ovra-check config 0 || true
