#!/usr/bin/env bash
# Builds everything and runs every test: the native suite (sanitizers, fuzz smoke runs) and the
# Windows suite under Wine (UI tests in-process, device tests and end-to-end on a null sink).
set -uo pipefail
cd "$(dirname "$0")/.."

step() { printf '\n==> %s\n' "$*"; }
die() { printf 'test.sh: %s\n' "$*" >&2; exit 1; }

step "dependencies"
scripts/deps.sh || die "installing or building the dependencies failed (see above)"

step "native build"
cmake --preset native >/dev/null || die "configuring the native build failed"
cmake --build --preset native || die "the native build failed"

step "windows build"
cmake --preset windows >/dev/null || die "configuring the Windows build failed"
cmake --build --preset windows || die "the Windows build failed"

if [ -x scripts/gen-media.sh ]; then
  step "test media"
  scripts/gen-media.sh build/media >/dev/null || die "generating the test media failed"
fi

status=0
# The native suite is mostly work for the processor and the Windows suite mostly waits on sound
# in real time, so they run side by side: the native one at a lower priority, so that the sound
# stays on time, and its output after the Windows suite's.
step "native tests (beside the Windows tests; their output follows them)"
native_log=build/native-tests.log
nice -n 10 ctest --preset native >"$native_log" 2>&1 &
native=$!

# Under load a test process now and then dies inside Wine's own code before it has done anything
# (seen: a fault in Wine's gdi32 at a UI test's start); a failing test gets one more run, and
# both runs stay in the log.
step "windows tests (under Wine)"
QUAVERLY_MEDIA="$PWD/build/media" scripts/with-testenv.sh ctest --preset windows \
  --repeat until-pass:2 || status=1

step "native tests"
wait "$native" || status=1
cat "$native_log"

if [ "$status" = 0 ]; then step "all tests passed"; else step "some tests failed"; fi
exit "$status"
