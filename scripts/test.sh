#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors, runs
# every test and packages, installs, tries and removes the Debian packages
# (scripts/package-test.sh); then builds the non-window tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer and runs them. The Tango backend's tests (they
# start Debian's TangoTest) run in the first build; the sanitizer build leaves
# the backend out, since Tango's client libraries are not built for it.
# Last, the fuzz targets are built with Clang and each runs for a short while
# (OVRA_FUZZ_SECONDS, 15 s by default; scripts/fuzz.sh runs them longer).
set -euo pipefail
cd "$(dirname "$0")/.."
# A live Tango test that finds no TangoTest or Tango database fails here
# instead of being skipped: CI must not pass on a machine that ran none.
export OVRA_REQUIRE_LIVE="${OVRA_REQUIRE_LIVE:-1}"
bash scripts/deps.sh
jobs=$(nproc)
# ccache, where it is installed, lets a second run on the same machine (a
# developer's, or CI after a session) skip what did not change, from any
# checkout: paths are taken relative to the tree, and the build directory is
# left out of the hash (it only moves the debug information's paths).
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
export OVRA_CMAKE_LAUNCHER="${launcher[*]}"

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOVRA_WERROR=ON "${launcher[@]}" >/dev/null
cmake --build build -j"$jobs"
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$jobs")
# The Debian packages of that build, installed, tried from /usr/bin and removed.
bash scripts/package-test.sh build

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DOVRA_WERROR=ON -DOVRA_SANITIZE=ON \
      -DOVRA_WITH_UI=OFF -DOVRA_WITH_BENCH=OFF -DOVRA_WITH_TANGO=OFF "${launcher[@]}" >/dev/null
cmake --build build-sanitize -j"$jobs"
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j"$jobs")

bash scripts/fuzz.sh "${OVRA_FUZZ_SECONDS:-15}"
