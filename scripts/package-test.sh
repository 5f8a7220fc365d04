#!/usr/bin/env bash
# Builds the Debian packages from a finished build (default build/), checks
# them with lintian, installs them with dpkg, runs the installed programs from
# /usr/bin in an empty directory with nothing of the build tree on the path,
# and removes them again. When either package was installed before, it only
# builds and checks them: the machine is left as it was found.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo

rm -f "$build"/ovra-checker*.deb
(cd "$build" && cpack -G DEB >/dev/null 2>&1) || (cd "$build" && cpack -G DEB)
debs=("$build"/ovra-checker_*.deb)
tango=$(ls "$build"/ovra-checker-tango_*.deb 2>/dev/null || true)
[ -n "$tango" ] && debs+=("$tango")
echo "Packages: ${debs[*]##*/}"
# lintian leaves scratch files in its TMPDIR: given one of ours, removed after.
scratch=$(mktemp -d)
report=$(TMPDIR=$scratch lintian "${debs[@]}" 2>&1 | grep -v "running with root privileges" || true)
rm -rf "$scratch"
[ -z "$report" ] || echo "$report"
! grep -q "^E:" <<<"$report" || { echo "lintian reports errors"; exit 1; }

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
if installed ovra-checker || installed ovra-checker-tango; then
  echo "ovra-checker is installed on this machine already: packages not installed for the test"
  exit 0
fi

remove() { $SUDO dpkg --purge ovra-checker-tango ovra-checker >/dev/null 2>&1 || true; }
trap remove EXIT
$SUDO dpkg -i "${debs[@]}" >/dev/null

fail() { echo "package test: $*" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'remove; rm -rf "$tmp"' EXIT
cd "$tmp"
run() { env -i PATH=/usr/bin:/bin HOME="$tmp" LANG=C.UTF-8 "$@"; }

[ "$(command -v ovra-check)" = /usr/bin/ovra-check ] || fail "ovra-check is not /usr/bin/ovra-check"
for program in /usr/bin/ovra-check /usr/bin/ovra-checker; do
  ! ldd "$program" | grep -qiE "tango|omni" || fail "$program links Tango"
  ! readelf -d "$program" | grep -qE "RPATH|RUNPATH" || fail "$program has a run path"
done
version=$(run ovra-check --version)
echo "$version"
if [ -n "$tango" ]; then
  grep -q "^Tango backend: /usr/lib/.*/ovra-tango.so$" <<<"$version" || fail "no Tango backend"
  [ "$(run ovra-check --facility /usr/share/ovra-checker/facilities/tangotest.json list)" = TGTEST ] ||
    fail "the installed Tango site example does not list"
fi
run ovra-checker --version | grep -q "^ovra-checker " || fail "ovra-checker --version"
[ "$(run ovra-check list | tr '\n' ' ')" = "LINAC RING TRANSFER " ] || fail "ovra-check list"
run ovra-check list --configurations | grep -qx "LINAC daily check" ||
  fail "the installed demo database is not found"
run ovra-check --report-dir "$tmp" standard LINAC VACUUM-1 PUMP-01 >standard.txt ||
  fail "standard test: $(cat standard.txt)"
grep -q "succeeded, 0 failed" standard.txt || fail "standard test: $(cat standard.txt)"
if grep -qs "^path-exclude.*/usr/share/man" /etc/dpkg/dpkg.cfg.d/*; then
  # A minimal image that drops every man page on installation.
  dpkg-deb -c "${debs[0]}" | grep -q "/usr/share/man/man1/ovra-check.1.gz" || fail "no man page"
  echo "man pages are excluded by this machine's dpkg configuration: checked in the package"
else
  [ "$(man -w ovra-check)" = /usr/share/man/man1/ovra-check.1.gz ] || fail "man -w ovra-check"
  man -w ovra-checker >/dev/null || fail "man -w ovra-checker"
fi
appstreamcli validate --no-net /usr/share/metainfo/org.ovra.checker.metainfo.xml >/dev/null ||
  fail "metainfo does not validate"
desktop-file-validate /usr/share/applications/org.ovra.checker.desktop || fail "desktop entry"
echo "package test: installed programs work; removing the packages"
