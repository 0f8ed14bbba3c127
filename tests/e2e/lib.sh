# Shared set-up of the end-to-end scripts, sourced by each of them:
#   e2e_begin NAME TOOL... -- "$@"   skips (exit 77) when a tool is missing, re-runs the
#                                    script under a virtual X server (its options in
#                                    $xvfb_options when set), makes $work
#   new_session NAME                 its own runtime, configuration and program folders
#   start_program ARGS...            starts that session's copy; $last_pid is its id
#   fail, wait_for                   count a failed check; poll a command for N seconds
#   search_windows ARGS...           xdotool search, asked again when a window vanished
#   shot NAME                        with VELRISA_E2E_SHOTS=DIR, keeps a screenshot there
# Everything started through start_program (or added to $started) is killed on exit.

e2e_begin() {
    local name=$1 tool
    shift
    while [ $# -gt 0 ] && [ "$1" != -- ]; do
        tool=$1
        shift
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "SKIP: $tool is not installed (scripts/deps.sh installs it)"
            exit 77
        fi
    done
    shift
    if [ "${VELRISA_E2E_INNER:-}" != 1 ]; then
        # xvfb-run -a takes the first number without a lock file, so two scripts started at
        # the same moment can pick the same one: each script looks from a number of its own.
        local first=$((200 + $(printf '%s' "$name" | cksum | cut -d' ' -f1) % 60 * 10))
        # -noreset: an X server resets when its last client leaves (an xdotool call, a program
        # that ended), and refuses whoever connects during the reset.
        VELRISA_E2E_INNER=1 exec xvfb-run -a -n "$first" -s "-noreset ${xvfb_options:--screen 0 1024x768x24}" "$0" "$@"
    fi
    # The program draws on this X server, at the scale the positions in the scripts are
    # measured for, whatever the caller's environment says.
    export QT_QPA_PLATFORM=xcb
    unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS
    work=$(mktemp -d "/tmp/velrisa-$name.XXXXXX")
    started=()
    failures=0
    trap e2e_cleanup EXIT
}

e2e_cleanup() {
    local pid
    for pid in "${started[@]}"; do
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    rm -rf "$work"
}

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Polls a command for up to $1 seconds.
wait_for() {
    local limit=$1
    shift
    local end=$((SECONDS + limit))
    while [ $SECONDS -lt $end ]; do
        "$@" && return 0
        sleep 0.1
    done
    "$@"
}

shot() {
    [ -n "${VELRISA_E2E_SHOTS:-}" ] || return 0
    # Nothing on screen says when the last input has been drawn: give it a moment.
    sleep 0.3
    mkdir -p "$VELRISA_E2E_SHOTS"
    import -window root "$VELRISA_E2E_SHOTS/$1.png"
}

# A fresh user session: its own runtime and configuration folders and its own copy of
# the program directory ($velrisa is the program under test).
new_session() {
    session=$work/$1
    mkdir -p "$session/run" "$session/config" "$session/prog"
    chmod 700 "$session/run"
    cp "$velrisa" "$session/prog/velrisa"
    export XDG_RUNTIME_DIR=$session/run XDG_CONFIG_HOME=$session/config XDG_DATA_HOME=$session/data XDG_CACHE_HOME=$session/cache
    prog=$session/prog
    program=$prog/velrisa
}

start_program() {
    "$program" "$@" >>"$session/output.txt" 2>&1 &
    last_pid=$!
    started+=("$last_pid")
}

# xdotool search with these arguments. When a window goes away while xdotool walks the
# tree, it dies of an X error having printed nothing, as if nothing matched: ask again.
search_windows() {
    local _ out
    for _ in 1 2 3 4 5 6 7 8 9 10; do
        out=$(xdotool search "$@" 2>&1)
        case $out in *"X Error"*) continue ;; esac
        break
    done
    # The ids alone, without the notes xdotool writes beside them.
    printf '%s\n' "$out" | grep -E '^[0-9]+$'
}

# Visible windows of the program $pid whose title matches $1.
window_of() { search_windows --all --onlyvisible --pid "$pid" --name "$1" | head -n 1; }
window_shown() { [ -n "$(window_of "$1")" ]; }
window_gone() { ! window_shown "$1"; }

# Waits for the main window of $pid and sets $main; $1 holds what the program printed.
# The program has finished starting by the time its window maps, and X hands it input in the
# order it was sent: what the scripts do next needs no pause, only awaiting what it produces.
wait_for_main_window() {
    wait_for 30 window_shown '^elrisa$' || { echo "FAIL: the main window did not appear"; cat "$1"; exit 1; }
    main=$(window_of '^elrisa$')
}
