# shellcheck shell=bash
# Quaverly test environment: a private Xvfb, a PulseAudio server with a null
# sink, and a fresh 64-bit Wine prefix with a persistent wineserver.
#
# Source this file, then call testenv_up (exports the variables below) and
# testenv_down (stops everything testenv_up started, by pid; safe to call more
# than once, also after a failed or interrupted testenv_up). A caller that
# traps signals should ignore them while testenv_down runs.
#
# Exported by testenv_up:
#   WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES DISPLAY PULSE_SERVER
#   PULSE_RUNTIME_PATH PULSE_STATE_PATH PULSE_COOKIE QUAVERLY_TESTENV=1
#   QUAVERLY_SINK QUAVERLY_SINK_MONITOR QUAVERLY_SINK_DESCRIPTION
#   QUAVERLY_TESTENV_DIR
# Honoured:
#   QUAVERLY_KEEP_TESTENV=1     keep the temp dir (logs, prefix) after teardown
#   QUAVERLY_TESTENV_VERBOSE=1  print each step and its time on stderr

TESTENV_SINK=quaverly_null
TESTENV_SINK_DESCRIPTION="Quaverly Null Output"

_testenv_dir=""
_testenv_xvfb_pid=""
_testenv_pulse_pid=""
_testenv_keepalive_pid=""
_testenv_wineserver_pid=""
_testenv_holder_pid=""
_testenv_step_pid=""
_testenv_prefix=""
_testenv_t0=0

_testenv_say() {
    [ "${QUAVERLY_TESTENV_VERBOSE:-0}" = 1 ] || return 0
    printf 'testenv: [%5.1fs] %s\n' "$(_testenv_since "$_testenv_t0")" "$*" >&2
}

# Says what failed, with the tail of the log that explains it.
_testenv_fail() {
    local what=$1 log=${2:-}
    printf 'testenv: %s\n' "$what" >&2
    if [ -n "$log" ] && [ -s "$log" ]; then
        printf 'testenv: last lines of %s:\n' "$log" >&2
        tail -n 15 "$log" | sed 's/^/    /' >&2
    fi
    return 1
}

_testenv_since() { awk -v t0="$1" -v t1="$(date +%s.%N)" 'BEGIN { printf "%.2f", t1 - t0 }'; }

_testenv_alive() { [ -n "$1" ] && kill -0 "$1" 2>/dev/null; }

# TERM, then KILL after about 3 s; reaps the pid when it is our child.
_testenv_stop_pid() {
    local pid=$1 i
    _testenv_alive "$pid" || { wait "$pid" 2>/dev/null; return 0; }
    kill -TERM "$pid" 2>/dev/null
    for ((i = 0; i < 30; i++)); do
        _testenv_alive "$pid" || break
        # A reaped child or a zombie of someone else both read as gone here.
        [ "$(ps -o stat= -p "$pid" 2>/dev/null | cut -c1)" = Z ] && break
        sleep 0.1
    done
    _testenv_alive "$pid" && kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    return 0
}

# Runs a step in the background and waits for it, so that a trapped signal is
# handled at once instead of after the step (bash defers traps while a
# foreground child runs, and timeout(1) puts itself in its own process group,
# out of reach of a terminal's Ctrl-C).
_testenv_step() {
    "$@" &
    _testenv_step_pid=$!
    wait "$_testenv_step_pid"
    local rc=$?
    _testenv_step_pid=""
    return $rc
}

_testenv_wine() { # timeout-seconds log-file command...
    local secs=$1 log=$2
    shift 2
    _testenv_step timeout -k 5 "$secs" "$@" </dev/null >>"$log" 2>&1
}

_testenv_start_xvfb() {
    local n pid i owner log="$_testenv_dir/xvfb.log"
    for ((n = 90; n < 190; n++)); do
        [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -noreset </dev/null >>"$log" 2>&1 &
        pid=$!
        _testenv_xvfb_pid=$pid
        # Another run may take the same number at the same moment: the display
        # is ours only when the lock file holds our pid. The socket appears
        # once the server listens.
        for ((i = 0; i < 100; i++)); do
            owner=$(tr -d ' \n' 2>/dev/null <"/tmp/.X$n-lock")
            if [ "$owner" = "$pid" ] && [ -S "/tmp/.X11-unix/X$n" ]; then
                export DISPLAY=":$n"
                return 0
            fi
            _testenv_alive "$pid" || break
            sleep 0.1
        done
        _testenv_stop_pid "$pid"
        _testenv_xvfb_pid=""
        # Lost the race for this number: try the next one. Anything else is
        # a real failure.
        [ -n "$owner" ] && [ "$owner" != "$pid" ] && _testenv_alive "$owner" && continue
        break
    done
    _testenv_fail "Xvfb did not start (last tried :$n)" "$log"
}

_testenv_start_pulse() {
    local d=$_testenv_dir/pulse log=$_testenv_dir/pulse.log i
    mkdir -p "$d/run" "$d/state" "$_testenv_dir/home" || return 1
    cat >"$d/quaverly.pa" <<EOF
load-module module-null-sink sink_name=$TESTENV_SINK sink_properties=device.description="${TESTENV_SINK_DESCRIPTION// /\\ }"
load-module module-native-protocol-unix socket=$d/run/native auth-cookie=$d/cookie
set-default-sink $TESTENV_SINK
set-default-source $TESTENV_SINK.monitor
EOF
    export PULSE_RUNTIME_PATH=$d/run PULSE_STATE_PATH=$d/state PULSE_COOKIE=$d/cookie
    export PULSE_SERVER=unix:$d/run/native
    # Root may run a user-mode server; it only warns. HOME keeps it out of
    # ~/.config, the bogus bus address stops a D-Bus autolaunch.
    HOME=$_testenv_dir/home DBUS_SESSION_BUS_ADDRESS=unix:path=$d/no-dbus \
        pulseaudio -n -F "$d/quaverly.pa" --daemonize=no --system=false \
        --use-pid-file=no --exit-idle-time=-1 --log-target=stderr \
        </dev/null >>"$log" 2>&1 &
    _testenv_pulse_pid=$!
    for ((i = 0; i < 100; i++)); do
        _testenv_alive "$_testenv_pulse_pid" || break
        if timeout 5 pactl info 2>/dev/null | grep -q "^Default Sink: $TESTENV_SINK\$"; then
            # A short latency keeps the sink working in small blocks, so a new stream or
            # recording reaches it at once rather than up to a second late.
            pacat --playback --device="$TESTENV_SINK" --raw --format=s16le --rate=44100 \
                --channels=2 --latency-msec=20 --client-name=quaverly-keepalive \
                </dev/zero >>"$log" 2>&1 &
            _testenv_keepalive_pid=$!
            sleep 0.3
            _testenv_alive "$_testenv_keepalive_pid" ||
                _testenv_fail "the keepalive pacat into $TESTENV_SINK exited" "$log" || return 1
            return 0
        fi
        sleep 0.1
    done
    _testenv_fail "PulseAudio did not come up at $PULSE_SERVER" "$log"
}

_testenv_make_prefix() {
    local log=$_testenv_dir/wine.log reg=$_testenv_dir/quaverly.reg
    _testenv_prefix=$_testenv_dir/prefix
    export WINEPREFIX=$_testenv_prefix WINEARCH=win64
    export WINEDEBUG="-all,err+winediag"
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    # HOME inside the temp dir: wineboot links the profile folders to the
    # user's home folders, and tests must not write into the real ones.
    HOME=$_testenv_dir/home _testenv_wine 120 "$log" wineboot -i ||
        _testenv_fail "wineboot -i failed for $WINEPREFIX" "$log" || return 1
    _testenv_say "wineboot -i done"
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts" &&
        cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" ||
        _testenv_fail "copying /usr/share/wine/fonts failed" || return 1
    # Without a virtual desktop every dialog waits ~2 s for a window manager;
    # pinning pulse means a missing server is never hidden by an ALSA fallback;
    # without the crash dialog a crashing test prints a backtrace and exits
    # instead of waiting for a click until its timeout.
    cat >"$reg" <<'EOF'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"Default"="1024x768"

[HKEY_CURRENT_USER\Software\Wine\Drivers]
"Audio"="pulse"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
EOF
    _testenv_wine 60 "$log" wine reg import "Z:${reg//\//\\}" ||
        _testenv_fail "importing the registry settings failed" "$log" || return 1
    # A Wine session stays bound to the display it started on, and the boot's
    # helpers hold the boot's file descriptors: start over with a clean server.
    _testenv_wine 30 "$log" wineserver -k
    _testenv_wine 60 "$log" wineserver -w ||
        _testenv_fail "wineserver -w did not return" "$log" || return 1
    grep -q '^"Audio"="pulse"' "$WINEPREFIX/user.reg" ||
        _testenv_fail "registry settings did not reach $WINEPREFIX/user.reg" "$log" || return 1
    _testenv_say "fonts and registry done, server stopped"
    _testenv_step timeout -k 5 30 wineserver -p </dev/null >>"$log" 2>&1 ||
        _testenv_fail "wineserver -p failed" "$log" || return 1
    _testenv_wineserver_pid=$(_testenv_find_wineserver)
    # Wine's helpers (services, rpcss, the desktop's explorer) inherit the
    # stdio of whichever process starts them: start them here with /dev/null,
    # so that none holds a test's pipe open (ctest would wait for its EOF).
    _testenv_wine 60 /dev/null wine cmd /c exit 0 ||
        _testenv_fail "the warm-up 'wine cmd /c exit 0' failed" "$log" || return 1
    _testenv_say "persistent wineserver and warm-up done"
    _testenv_hold_desktop
}

# The desktop closes one second after its last user leaves, and the next GUI
# program starts it again: +1.2 s per test, with explorer holding that test's
# stderr meanwhile. One idle user for the whole session keeps it up: a cmd
# reading a fifo it holds open itself, after rundll32 made the desktop.
_testenv_hold_desktop() {
    local fifo=$_testenv_dir/desktop-hold.fifo log=$_testenv_dir/desktop-hold.log i
    mkfifo "$fifo" || return 1
    timeout -k 5 1d wine cmd /c "rundll32 user32.dll,GetDesktopWindow& echo ready& set /p x=" \
        0<>"$fifo" >"$log" 2>&1 &
    _testenv_holder_pid=$!
    for ((i = 0; i < 300; i++)); do
        _testenv_alive "$_testenv_holder_pid" || break
        if grep -q ready "$log" && _testenv_wine_pids | grep 'explorer\.exe /desktop' >/dev/null; then
            return 0
        fi
        _testenv_step sleep 0.1
    done
    _testenv_fail "the desktop did not start (explorer.exe /desktop)" "$log"
}

# "pid exe cmdline" of every Wine process of this prefix, found by the
# WINEPREFIX in its environment (the prefix path is unique to this run).
_testenv_wine_pids() {
    local f p exe
    while read -r f; do
        p=${f#/proc/} && p=${p%/environ}
        exe=$(readlink "/proc/$p/exe" 2>/dev/null) || continue
        case $exe in */wine/*) ;; *) continue ;; esac
        printf '%s %s %s\n' "$p" "${exe##*/}" "$(tr '\0' ' ' 2>/dev/null <"/proc/$p/cmdline")"
    done < <(grep -lzxF "WINEPREFIX=$_testenv_prefix" /proc/[0-9]*/environ 2>/dev/null)
}

# Debian's wineserver keeps its socket in a private mkdtemp dir whose name it
# records in <prefix>/wineserver, not in /tmp/.wine-<uid>.
_testenv_wine_tmpdir() {
    local name
    name=$(cat "$_testenv_prefix/wineserver" 2>/dev/null) || return 1
    case $name in
    wine-??????) echo "${TMPDIR:-/tmp}/$name" ;;
    /*/wine-??????) echo "$name" ;;
    *) return 1 ;;
    esac
}

_testenv_find_wineserver() {
    _testenv_wine_pids | awk '$2 ~ /^wineserver/ && !n++ { print $1 }'
}

testenv_up() {
    _testenv_t0=$(date +%s.%N)
    [ -z "$_testenv_dir" ] || { printf 'testenv: already up in %s\n' "$_testenv_dir" >&2; return 1; }
    _testenv_dir=$(mktemp -d "${TMPDIR:-/tmp}/quaverly-testenv.XXXXXX") ||
        _testenv_fail "mktemp -d failed" || return 1
    _testenv_say "dir $_testenv_dir"
    _testenv_start_xvfb || return 1
    _testenv_say "Xvfb on $DISPLAY (pid $_testenv_xvfb_pid)"
    _testenv_start_pulse || return 1
    local audio_ready
    audio_ready=$(date +%s.%N)
    _testenv_say "PulseAudio pid $_testenv_pulse_pid, keepalive pid $_testenv_keepalive_pid"
    _testenv_make_prefix || return 1
    _testenv_say "Wine prefix ready, wineserver pid ${_testenv_wineserver_pid:-?}"
    # Capture checks need the monitor settled for about 2.5 s; the prefix
    # usually took longer than that already.
    local rest
    rest=$(awk -v s="$(_testenv_since "$audio_ready")" 'BEGIN { printf "%.2f", 2.5 - s }')
    case $rest in -* | 0.00) ;; *) _testenv_step sleep "$rest" ;; esac
    export QUAVERLY_TESTENV=1 QUAVERLY_TESTENV_DIR=$_testenv_dir
    export QUAVERLY_SINK=$TESTENV_SINK QUAVERLY_SINK_MONITOR=$TESTENV_SINK.monitor
    export QUAVERLY_SINK_DESCRIPTION=$TESTENV_SINK_DESCRIPTION
    _testenv_say "up"
}

testenv_down() {
    [ -n "$_testenv_dir" ] || return 0
    _testenv_t0=$(date +%s.%N)
    [ -n "$_testenv_step_pid" ] && _testenv_stop_pid "$_testenv_step_pid"
    _testenv_step_pid=""
    if [ -n "$_testenv_prefix" ] && [ -d "$_testenv_prefix" ]; then
        [ -n "$_testenv_wineserver_pid" ] || _testenv_wineserver_pid=$(_testenv_find_wineserver)
        WINEPREFIX=$_testenv_prefix timeout -k 5 20 wineserver -k </dev/null >/dev/null 2>&1
        WINEPREFIX=$_testenv_prefix timeout -k 5 20 wineserver -w </dev/null >/dev/null 2>&1
        _testenv_say "wineserver -k, -w done"
        _testenv_stop_pid "$_testenv_holder_pid"
        _testenv_stop_pid "$_testenv_wineserver_pid"
        # Whatever a hung server left behind, by pid.
        local pid rest
        while read -r pid rest; do
            _testenv_stop_pid "$pid"
        done < <(_testenv_wine_pids)
        _testenv_say "wine processes gone"
        # The server's tmp dir was made for this prefix alone.
        local wtmp
        wtmp=$(_testenv_wine_tmpdir) && rm -rf "$wtmp"
    fi
    _testenv_stop_pid "$_testenv_keepalive_pid"
    _testenv_stop_pid "$_testenv_pulse_pid"
    _testenv_stop_pid "$_testenv_xvfb_pid"
    _testenv_say "keepalive, PulseAudio, Xvfb gone"
    if [ "${QUAVERLY_KEEP_TESTENV:-0}" = 1 ]; then
        printf 'testenv: kept %s\n' "$_testenv_dir" >&2
    else
        rm -rf "$_testenv_dir"
    fi
    _testenv_say "down"
    _testenv_dir="" _testenv_prefix=""
    _testenv_xvfb_pid="" _testenv_pulse_pid="" _testenv_keepalive_pid="" _testenv_wineserver_pid=""
    _testenv_holder_pid=""
    return 0
}
