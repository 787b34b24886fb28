#!/bin/bash
# Usage: scripts/wine-run.sh EXE [ARGS...]
# CMake's CMAKE_CROSSCOMPILING_EMULATOR: runs EXE under wine with a time limit
# of QUAVERLY_WINE_TIMEOUT seconds (default 300) and returns its status, 124
# when it was killed by the limit. stdout passes through untouched (ctest and
# gtest discovery parse it). Meant to run under scripts/with-testenv.sh, whose
# warm-up keeps wine's background helpers off the caller's pipes.
set -u

if [ $# -lt 1 ]; then
    echo "usage: $0 EXE [ARGS...]" >&2
    exit 2
fi

# Without a prefix wine would boot ~/.wine with a server that inherits the
# caller's pipes (ctest then waits for EOF until it times out).
if [ -z "${WINEPREFIX:-}" ]; then
    echo "wine-run: WINEPREFIX is not set; run the tests under scripts/with-testenv.sh" >&2
    exit 2
fi

limit=${QUAVERLY_WINE_TIMEOUT:-300}
start=$SECONDS
timeout -k 5 "$limit" wine "$@"
rc=$?
# 137 is a KILL after the TERM went unheeded: still our limit when the time is up.
if [ $rc -eq 124 ] || { [ $rc -eq 137 ] && [ $((SECONDS - start)) -ge "$limit" ]; }; then
    echo "wine-run: $1 killed by its ${limit}s timeout (QUAVERLY_WINE_TIMEOUT)" >&2
    exit 124
fi
exit $rc
