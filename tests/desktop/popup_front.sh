#!/usr/bin/env bash
# A received message pops up in front of the focused window without taking its keyboard, on
# a real desktop started headless (tests/desktop/lib.sh): Velrisa's own main window focused,
# then another program's text window. On GNOME and KWin the program runs as a person's
# session starts it, with both WAYLAND_DISPLAY and DISPLAY set: it must choose Xwayland. Then
# natively on Wayland, as QT_QPA_PLATFORM=wayland asks: the pop-up on top, and on GNOME the
# window matched with velrisa.desktop (its name and icon in the top bar).
# Usage: popup_front.sh DESKTOP /path/to/velrisa /path/to/velrisa-recibe   (exit 77: skipped)
# With VELRISA_E2E_SHOTS=DIR, screenshots right after each delivery are kept there.
set -u

kind=${1:?usage: $0 gnome|gnome-appindicator|kwin|xfce /path/to/velrisa /path/to/velrisa-recibe}
velrisa=${2:?usage: $0 DESKTOP /path/to/velrisa /path/to/velrisa-recibe}
receiver=${3:?usage: $0 DESKTOP /path/to/velrisa /path/to/velrisa-recibe}
here=$(dirname "$0")
. "$here/../e2e/lib.sh"
. "$here/lib.sh"
desktop_begin "popup-$kind" "$kind" xdotool xprop xmessage xdpyinfo import -- "$@"

deliver() {
    printf '%s' "$1" >"$session/mensaje"
    "$receiver" --buzon="$VELRISA_BUZON" ana oficina1 "$session/mensaje" || fail "velrisa-recibe did not deliver"
}

# The pop-ups of $pid on X, newest last.
popups() { search_windows --all --onlyvisible --pid "$pid" --name '^Mensaje recibido$'; }
new_popup() { popup=$(popups | grep -v -x -F "${1:-none}" | tail -n 1) && [ -n "$popup" ]; }

# A message comes while window $1 has the keyboard: the pop-up stands above it, and $1
# keeps the keyboard.
popup_in_front_of() {
    local focused=$1 what=$2 before
    xdotool windowactivate "$focused" 2>/dev/null
    wait_for 5 x_is_active "$focused" || fail "$what could not be focused (active: $(x_active))"
    before=$(popups | tr '\n' ' ')
    deliver "Para $what"
    wait_for 10 new_popup "$before" || {
        fail "no pop-up over $what"
        return
    }
    wait_for 3 x_above "$popup" "$focused" || fail "the pop-up opened behind $what (stacking: $(x_stacking | tr '\n' ' '))"
    # A moment for a window manager that would hand the pop-up the keyboard after mapping it.
    sleep 0.3
    [ "$(x_active)" = "$focused" ] || fail "the pop-up took the keyboard from $what (active: $(x_active))"
    [ "$(xdotool getwindowfocus -f 2>/dev/null)" != "$popup" ] || fail "the keyboard went to the pop-up over $what"
    desktop_shot "$3"
}

echo "== $kind: the program chooses X11 where the session offers it"
new_session x11
export VELRISA_BUZON=$session/buzon
mkdir -p "$VELRISA_BUZON"
start_program
pid=$last_pid
wait_for_main_window "$session/output.txt"

echo "== $kind: in front of the program's own main window"
popup_in_front_of "$main" "the main window" main-window
echo "== $kind: in front of another program's window"
x_text_window Terminal
popup_in_front_of "$text_window" "the text window" text-window
echo "== $kind: once the user turns to it, it stacks as any other window"
xdotool windowactivate "$popup" 2>/dev/null
wait_for 5 x_is_active "$popup" || fail "the pop-up could not be focused"
xdotool windowactivate "$text_window" 2>/dev/null
wait_for 5 x_above "$text_window" "$popup" || fail "a pop-up the user has seen stays above the other windows"
kill -TERM "$pid"
wait "$pid" 2>/dev/null

case $kind in gnome | kwin) ;; *)
    [ "$failures" -eq 0 ] && echo "PASS" || exit 1
    exit 0
    ;;
esac

echo "== $kind: natively on Wayland, where the person asks for it"
new_session wayland
export VELRISA_BUZON=$session/buzon
mkdir -p "$VELRISA_BUZON"
# The person's own choice wins over the program's, with an X server there too.
QT_QPA_PLATFORM=wayland start_program
pid=$last_pid
top_window() {
    if [ "$kind" = gnome ]; then
        gnome_windows | grep -v '^gnome-shell|' | tail -n 1
    else
        kwin_script 'const s = workspace.clientList().filter(c => c.normalWindow)
                .sort((a, b) => a.stackingOrder - b.stackingOrder);
            const w = s[s.length - 1];
            if (w) print([w.caption, w.desktopFileName, w.active].join("|"));'
    fi
}
main_shown() { top_window | grep -q '^elrisa|'; }
wait_for 30 main_shown || fail "the main window did not appear on Wayland: $(top_window) $(cat "$session/output.txt")"
[ -z "$(search_windows --all --pid "$pid" --name '.')" ] || fail "asked for Wayland, the program drew on X"
deliver "Por Wayland"
popup_on_top() { top_window | grep -q '^Mensaje recibido|'; }
wait_for 10 popup_on_top || fail "the pop-up is not on top on Wayland: $(top_window) (windows: $(gnome_windows | tr '\n' ' '))"
top=$(top_window)
echo "top window: $top"
case $top in "Mensaje recibido|velrisa"*) ;; *) fail "the pop-up's app id is not velrisa: $top" ;; esac
[ "$kind" != gnome ] || case $top in "Mensaje recibido|velrisa.desktop|"*) ;;
*) fail "GNOME does not match the window with velrisa.desktop: $top" ;; esac
# Wayland lets the compositor alone decide who has the keyboard: said, not checked.
case $top in *"|true" | *"|true|"*) echo "NOTE: on native Wayland the pop-up has the keyboard" ;; esac
desktop_shot wayland
if [ "$kind" = gnome ]; then
    echo "== $kind: natively on Wayland, started again from the launcher, it comes forward"
    x_text_window Terminal2
    xdotool windowactivate "$text_window" 2>/dev/null
    wait_for 5 eval 'gnome_windows | grep -q "^Terminal2|.*|true|"' || fail "the text window could not be focused"
    gnome_launch wayland || fail "GNOME could not launch velrisa.desktop"
    wait_for 10 eval 'gnome_windows | grep -q "^elrisa|velrisa.desktop|true|"' ||
        fail "a second start from the launcher did not bring the window forward: $(gnome_windows | tr '\n' ' ')"
    desktop_shot wayland-launched-again
fi

[ "$failures" -eq 0 ] && echo "PASS" || exit 1
