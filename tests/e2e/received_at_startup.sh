#!/usr/bin/env bash
# End-to-end check of a message that arrived while Velrisa was not running, on the real
# program under a virtual X server with a tray host: at start-up its "Mensaje recibido"
# window stands above the main window, and the tray's balloon points at the tray icon.
# Usage: received_at_startup.sh /path/to/velrisa /path/to/velrisa-recibe   (exit 77: skipped)
# With VELRISA_E2E_SHOTS=DIR, a screenshot of the start-up is kept there.
set -u

velrisa=${1:?usage: $0 /path/to/velrisa /path/to/velrisa-recibe}
receiver=${2:?usage: $0 /path/to/velrisa /path/to/velrisa-recibe}
. "$(dirname "$0")/lib.sh"
e2e_begin startup xvfb-run xauth trayer xdotool xwininfo -- "$@"

# The tray host, at the top right corner; its panel's geometry in PANEL_X... once it is up.
trayer --edge top --align right --widthtype request --height 24 --SetDockType true \
    --transparent false >/dev/null 2>&1 &
started+=("$!")
panel_ready() {
    panel=$(search_windows --onlyvisible --classname '^panel$' | head -n 1)
    [ -n "$panel" ]
}
wait_for 30 panel_ready || {
    echo "FAIL: the tray host did not start"
    exit 1
}

# A person who has used Velrisa before (a first start shows nothing that came before it) ...
new_session startup
export VELRISA_BUZON=$session/buzon
mkdir -p "$VELRISA_BUZON"
start_program
pid=$last_pid
wait_for_main_window "$session/output.txt"
kill -TERM "$pid"
wait "$pid" 2>/dev/null
# ... gets a message, delivered as Samba's message command delivers it, while it is closed.
printf 'Llegó con Velrisa cerrado: léalo al empezar.' >"$session/mensaje"
"$receiver" --buzon="$VELRISA_BUZON" ana oficina1 "$session/mensaje" || fail "velrisa-recibe did not deliver"

start_program
pid=$last_pid
wait_for_main_window "$session/output.txt"
wait_for 30 window_shown '^Mensaje recibido$' || fail "the message did not pop up at start-up"
popup=$(window_of '^Mensaje recibido$')

# The balloon: a top-level window of the program's named after it (the icon of the same name
# lies inside the tray's panel).
balloon_shown() {
    balloon=$(xwininfo -root -children | awk '/ "Velrisa": \("velrisa" "Velrisa"\)/ { print $1 }' | head -n 1)
    [ -n "$balloon" ] && xwininfo -id "$balloon" | grep -q 'IsViewable'
}
wait_for 30 balloon_shown || fail "no tray balloon at start-up"

echo "== the pop-up stands above the main window"
# xwininfo lists the screen's windows from the top one down.
line_of() { xwininfo -root -children | grep -n "^ *$(printf '0x%x' "$1") " | cut -d: -f1; }
popup_above_main() {
    popup_line=$(line_of "$popup")
    main_line=$(line_of "$main")
    [ -n "$popup_line" ] && [ -n "$main_line" ] && [ "$popup_line" -lt "$main_line" ]
}
wait_for 5 popup_above_main ||
    fail "the pop-up is under the main window (stacking lines $popup_line and $main_line)"

echo "== the balloon points at the tray icon"
# Its arrow reaches the icon from the balloon's edge: the icon lies within a few pixels of it.
balloon_at_icon() {
    eval "$(xdotool getwindowgeometry --shell "$panel" | sed 's/^/P_/')"
    eval "$(xdotool getwindowgeometry --shell "$balloon" | sed 's/^/B_/')"
    cx=$((P_X + P_WIDTH / 2))
    cy=$((P_Y + P_HEIGHT / 2))
    [ "$cx" -ge $((B_X - 30)) ] && [ "$cx" -le $((B_X + B_WIDTH + 30)) ] &&
        [ "$cy" -ge $((B_Y - 30)) ] && [ "$cy" -le $((B_Y + B_HEIGHT + 30)) ]
}
if [ -n "${balloon:-}" ]; then
    wait_for 5 balloon_at_icon ||
        fail "the balloon (${B_WIDTH}x${B_HEIGHT}+${B_X}+${B_Y}) is far from the tray icon at $cx,$cy"
fi
shot startup

[ "$failures" -eq 0 ] && echo "PASS" || exit 1
