#!/bin/bash
# Usage: scripts/with-testenv.sh CMD [ARGS...]
# Runs CMD inside a fresh test environment (see testenv.sh), tears it down
# afterwards, also on failure or SIGINT/SIGTERM, and returns CMD's status.
set -u

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/testenv.sh
. "$here/testenv.sh"

if [ $# -lt 1 ]; then
    echo "usage: $0 CMD [ARGS...]" >&2
    exit 2
fi

cmd_pid=""

# CMD runs in the background (so that a signal reaches us at once), where
# bash makes it ignore SIGINT: pass TERM on, then KILL if it lingers.
# shellcheck disable=SC2317 # called from the traps below
on_signal() {
    trap '' INT TERM HUP
    if [ -n "$cmd_pid" ] && kill -0 "$cmd_pid" 2>/dev/null; then
        kill -TERM "$cmd_pid" 2>/dev/null
        local i
        for ((i = 0; i < 50; i++)); do
            [ "$(ps -o stat= -p "$cmd_pid" 2>/dev/null | cut -c1)" = Z ] && break
            kill -0 "$cmd_pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$cmd_pid" 2>/dev/null
        wait "$cmd_pid" 2>/dev/null
    fi
    exit "$1"
}

trap 'trap "" INT TERM HUP; testenv_down' EXIT
trap 'on_signal 130' INT
trap 'on_signal 143' TERM
trap 'on_signal 129' HUP

testenv_up || exit 1

# The explicit stdin redirect keeps the terminal's stdin: bash would give a
# background command /dev/null otherwise.
"$@" 0<&0 &
cmd_pid=$!
wait "$cmd_pid"
rc=$?
cmd_pid=""
exit $rc
