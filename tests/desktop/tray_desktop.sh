#!/usr/bin/env bash
# The tray and the second start on a real desktop started headless (tests/desktop/lib.sh),
# the program started as at login ("-min"). Where the desktop has a tray (GNOME with the
# AppIndicator extension, Xfce's panel) the window stays hidden, the icon stands in the tray
# and its menu, as the tray host reads it, works: "&Mostrar Enviar mensaje" shows the window,
# "&Salir" ends the program, and a window minimised there leaves only the icon. Where there is
# none (GNOME without the extension, KWin without Plasma) the window is within reach,
# minimised, closing it says that Velrisa still receives, and on GNOME a tray that comes later
# (the extension enabled then) takes the icon and the window. On every one a second start gives the running window, hidden in the tray or
# minimised, the keyboard, taking it from another program's window.
# Usage: tray_desktop.sh DESKTOP /path/to/velrisa   (exit 77: skipped)
# With VELRISA_E2E_SHOTS=DIR, screenshots at each step are kept there.
set -u

kind=${1:?usage: $0 gnome|gnome-appindicator|kwin|xfce /path/to/velrisa}
velrisa=${2:?usage: $0 DESKTOP /path/to/velrisa}
here=$(dirname "$0")
if [ ! -f "$here/lib.sh" ]; then
    echo "SKIP: the desktop harness (tests/desktop/lib.sh) is not in this tree"
    exit 77
fi
. "$here/../e2e/lib.sh"
. "$here/lib.sh"
desktop_begin "tray-$kind" "$kind" xdotool xprop xmessage import python3 -- "$@"
# The X11 way (Xwayland on GNOME and KWin), which the program takes wherever an X server is.
export QT_QPA_PLATFORM=xcb

case $kind in
gnome-appindicator | xfce) tray=1 ;;
*) tray=0 ;;
esac

main_window() { search_windows --all --pid "$pid" --name '^elrisa$' | head -n 1; }
main_shown() { [ -n "$(search_windows --all --onlyvisible --pid "$pid" --name '^elrisa$')" ]; }
main_active() {
    local w
    w=$(main_window)
    [ -n "$w" ] && x_is_active "$w"
}
# Within reach: shown, or minimised among the windows the desktop lists (its task switcher).
main_reachable() {
    local w
    w=$(main_window)
    [ -n "$w" ] && xprop -root _NET_CLIENT_LIST | grep -qiw "$(printf '0x%x' "$w")"
}
has_ended() { ! kill -0 "$pid" 2>/dev/null; }
# Hidden, or minimised (iconic, as X calls it).
main_put_away() { ! main_shown || xprop -id "$(main_window)" WM_STATE 2>/dev/null | grep -q Iconic; }
# Asks the window manager to close the main window, as its title bar's button does.
close_main() {
    case $kind in
    gnome*) gnome_eval 'global.get_window_actors().map(a => a.meta_window)
            .filter(w => w.get_title() === "elrisa").forEach(w => w.delete(global.get_current_time())); ""' ;;
    kwin) kwin_script 'workspace.clientList().filter(c => c.caption === "elrisa").forEach(c => c.closeWindow());' ;;
    *) xdotool windowactivate --sync "$(main_window)" key alt+F4 ;;
    esac >/dev/null
}
# The titles in GNOME Shell's notification list, one a line.
gnome_notifications() {
    gnome_eval 'imports.ui.main.messageTray.getSources()
        .map(s => s.notifications.map(n => n.title).join(" ;; ")).join(" ;; ")' | sed 's/ ;; /\n/g'
}

# Xfce's panel takes the icon in as an X11 window (XEmbed), and the program opens its menu
# itself on a right click; the other trays read the menu the program exports over D-Bus.
xembed_icon() {
    local w
    for w in $(search_windows --all --onlyvisible --pid "$pid"); do
        [ "$(xdotool getwindowname "$w" 2>/dev/null)" = Velrisa ] && echo "$w" && return
    done
}
icon_shown() {
    if [ "$kind" = xfce ]; then
        [ -n "$(xembed_icon)" ]
    else
        sni_registered
    fi
}
visible_windows() { search_windows --all --onlyvisible --pid "$pid" | wc -l; }
# Right-clicks the icon, and picks the item with the keys a person would use.
xembed_menu_click() {
    local icon before keys
    case $1 in
    "Mostrar Enviar mensaje") keys="Down Return" ;; # "&Mostrar" begins two items
    Salir) keys="s" ;;
    *) return 1 ;;
    esac
    # The icon is embedded again when the tray comes after the program (at login), under a
    # new window: a click on the old one is lost, so the icon is looked up afresh each try.
    for _ in 1 2 3; do
        icon=$(xembed_icon)
        [ -n "$icon" ] || { sleep 1; continue; }
        before=$(visible_windows)
        xdotool mousemove --window "$icon" 10 10 click 3 2>/dev/null
        wait_for 5 eval '[ "$(visible_windows)" -gt '"$before"' ]' && break
        before=
    done
    [ -n "$before" ] || return 1
    desktop_shot "menu-open-${1%% *}"
    # shellcheck disable=SC2086 # one key name a word
    xdotool key $keys
}

# The program's StatusNotifierItem as the tray host sees it, and the menu it exports.
sni_item() {
    gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems 2>/dev/null |
        grep -o "':[0-9.]*[^']*'" | tr -d "'" | head -n 1
}
sni_registered() {
    item=$(sni_item)
    [ -n "$item" ]
}
# Clicks the menu item whose label (access key marks dropped) is $1, as the host does.
menu_click() {
    if [ "$kind" = xfce ]; then
        xembed_menu_click "$1"
        return
    fi
    # "service/path", or "service@path" as some hosts list it.
    local service=${item%%[@/]*} path=/${item#*/} menu layout id
    menu=$(gdbus call --session -d "$service" -o "$path" -m org.freedesktop.DBus.Properties.Get \
        org.kde.StatusNotifierItem Menu | grep -o "objectpath '[^']*'" | cut -d"'" -f2)
    [ -n "$menu" ] || return 1
    layout=$(gdbus call --session -d "$service" -o "$menu" -m com.canonical.dbusmenu.GetLayout -- 0 -1 '@as []')
    id=$(LABEL=$1 python3 -c '
import os, re, sys
want = os.environ["LABEL"]
for m in re.finditer(r"\((\d+), \{([^}]*)\}", sys.stdin.read()):
    label = re.search(r"'"'"'label'"'"': <'"'"'([^'"'"']*)'"'"'>", m.group(2))
    if label and label.group(1).replace("_", "").replace("&", "") == want:
        print(m.group(1)); break
' <<<"$layout")
    [ -n "$id" ] || return 1
    gdbus call --session -d "$service" -o "$menu" -m com.canonical.dbusmenu.AboutToShow "$id" >/dev/null
    gdbus call --session -d "$service" -o "$menu" -m com.canonical.dbusmenu.Event "$id" "'clicked'" '<0>' 0 >/dev/null
}

new_session tray
start_program -min
pid=$last_pid
if [ "$tray" = 1 ]; then
    wait_for 20 icon_shown || fail "$kind: no icon in the tray"
    sleep 0.5 # a window wrongly shown is given time to appear
    main_shown && fail "$kind: -min showed the window although there is a tray"
    desktop_shot started-in-tray
    menu_click "Mostrar Enviar mensaje" || fail "$kind: the tray menu has no Mostrar Enviar mensaje"
    wait_for 10 main_shown || fail "$kind: Mostrar Enviar mensaje did not show the window"
    desktop_shot shown-from-menu
    # Minimised, the window leaves only the icon; the second start below must bring it back.
    xdotool windowminimize "$(main_window)"
    wait_for 10 eval '! main_shown' || fail "$kind: minimising did not leave only the tray icon"
else
    wait_for 20 main_reachable || fail "$kind: -min without a tray left the window out of reach"
    desktop_shot started-without-tray
fi

# A second start, while another program has the keyboard: the window comes forward.
x_text_window "Otro programa"
wait_for 10 x_is_active "$text_window" || fail "$kind: the other window could not be focused"
start_program
second=$last_pid
wait_for 20 eval '! kill -0 '"$second"' 2>/dev/null' || fail "$kind: the second start did not end"
wait_for 10 main_active || fail "$kind: a second start did not bring the window forward (active: $(x_active))"
desktop_shot second-start
if [ "$kind" = gnome ] || [ "$kind" = gnome-appindicator ]; then
    # As a person starts it again: from GNOME's launcher, which gives the launch a startup id.
    xdotool windowactivate "$text_window" 2>/dev/null
    wait_for 10 x_is_active "$text_window" || fail "$kind: the other window could not be focused again"
    gnome_launch || fail "$kind: GNOME could not launch velrisa.desktop"
    wait_for 10 main_active || fail "$kind: a start from the launcher did not bring the window forward"
    wait_for 10 eval '[ "$(gnome_launches_pending)" = 0 ]' ||
        fail "$kind: GNOME still shows the start from the launcher as starting ($(gnome_launches_pending) pending)"
fi

if [ "$tray" = 1 ]; then
    menu_click "Salir" || fail "$kind: the tray menu has no Salir"
    wait_for 10 has_ended || fail "$kind: Salir did not end the program"
    wait_for 10 eval '! icon_shown' || fail "$kind: the tray icon stayed after Salir"
    desktop_shot after-salir
else
    # Closed where there is no tray, the window goes to the task bar, and the person is told
    # once that Velrisa still receives: on GNOME in its own notification list.
    close_main
    wait_for 10 main_put_away || fail "$kind: closing did not put the window away ($(xprop -id "$(main_window)" WM_STATE 2>&1 | tr '\n' ' '))"
    sleep 0.5
    has_ended && fail "$kind: closing the window ended the program"
    main_reachable || fail "$kind: closed without a tray, the window is out of reach"
    if [ "$kind" = gnome ]; then
        wait_for 10 eval 'gnome_notifications | grep -q "Velrisa sigue en marcha"' ||
            fail "$kind: GNOME shows no notification that Velrisa still receives: $(gnome_notifications)"
    fi
    desktop_shot closed-without-tray
    if [ "$kind" = gnome ] && [ -d /usr/share/gnome-shell/extensions/ubuntu-appindicators@ubuntu.com ]; then
        # The tray comes after the program, as when the extension loads late at login: the icon
        # joins it (Qt, having found no tray on D-Bus at start, takes the extension's X11 tray,
        # where the icon is a window of its own), and the window waiting minimised goes into it.
        gnome_eval "String(Main.extensionManager.enableExtension('ubuntu-appindicators@ubuntu.com'))" >/dev/null
        wait_for 20 eval 'sni_registered || [ -n "$(xembed_icon)" ]' ||
            fail "$kind: the icon did not join the tray that came later"
        wait_for 10 eval '! main_reachable' || fail "$kind: with the tray come, the window did not go into it"
        desktop_shot tray-came-later
    fi
    kill -TERM "$pid"
    wait_for 10 has_ended || fail "$kind: SIGTERM did not end the program"
fi
[ "$failures" -eq 0 ] || cat "$session/output.txt"
[ "$failures" -eq 0 ] && echo "PASS" || exit 1
