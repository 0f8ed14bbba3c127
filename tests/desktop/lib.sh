# Real desktops, headless, for the end-to-end scripts: each starts with a session bus and a
# runtime folder of its own, so that tests can run side by side and leave nothing behind.
# Sourced after tests/e2e/lib.sh (whose fail, wait_for, search_windows, new_session,
# start_program it keeps); then, instead of e2e_begin:
#   desktop_begin NAME DESKTOP TOOL... -- "$@"
#       DESKTOP is one of
#         gnome              GNOME Shell on Wayland (--headless --virtual-monitor) with Xwayland
#         gnome-appindicator the same with the AppIndicator extension (the tray)
#         kwin               kwin_wayland --virtual with Xwayland
#         xfce               xfwm4 and xfce4-panel on Xvfb
#       Skips (exit 77, saying why) when the desktop or a TOOL is missing, re-runs the script
#       under dbus-run-session, starts the desktop and waits until it manages windows. Then
#       DISPLAY names its X server (Xwayland's or Xvfb), WAYLAND_DISPLAY its Wayland socket
#       (an absolute path: new_session gives each session a runtime folder of its own), $work
#       is a scratch folder and $desktop_log what the desktop printed. QT_QPA_PLATFORM is left
#       unset: the program chooses as it does for a person.
#   gnome_eval JS        prints what JavaScript run inside GNOME Shell returns (a test
#                        extension turns on the shell's unsafe mode, which Eval needs)
#   gnome_windows        GNOME's windows, bottom to top: "title|app|focused|app id" a line (the
#                        shell's own X window, "gnome-shell", among them)
#   kwin_script JS       runs a KWin script and prints what it print()ed
#   x_active             the X window that has the keyboard (_NET_ACTIVE_WINDOW), decimal
#   x_above A B          X window A stands above X window B (_NET_CLIENT_LIST_STACKING)
#   desktop_shot NAME    with VELRISA_E2E_SHOTS=DIR, a screenshot of the whole screen there,
#                        DESKTOP-NAME.png
#   x_text_window TITLE  starts an X window that takes the keyboard (xmessage), sets $text_window
# Everything started is killed on exit, the desktop last.

desktop_source=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

desktop_begin() {
    local name=$1 kind=$2 tool
    shift 2
    case $kind in
    gnome | gnome-appindicator) set -- gnome-shell Xwayland gdbus "$@" ;;
    kwin) set -- kwin_wayland Xwayland gdbus "$@" ;;
    xfce) set -- xfwm4 xfce4-panel Xvfb "$@" ;;
    *)
        echo "FAIL: unknown desktop $kind"
        exit 1
        ;;
    esac
    while [ $# -gt 0 ] && [ "$1" != -- ]; do
        tool=$1
        shift
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "SKIP: $tool is not installed (scripts/deps.sh installs it)"
            exit 77
        fi
    done
    shift
    if [ "$kind" = gnome-appindicator ] && [ ! -d /usr/share/gnome-shell/extensions/ubuntu-appindicators@ubuntu.com ]; then
        echo "SKIP: the AppIndicator extension is not installed (gnome-shell-extension-appindicator)"
        exit 77
    fi
    if [ "${VELRISA_DESKTOP_INNER:-}" != 1 ]; then
        command -v dbus-run-session >/dev/null || {
            echo "SKIP: dbus-run-session is not installed (dbus-daemon)"
            exit 77
        }
        VELRISA_DESKTOP_INNER=1 exec dbus-run-session -- "$0" "$@"
    fi
    unset QT_QPA_PLATFORM QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS DISPLAY WAYLAND_DISPLAY XAUTHORITY
    # VELRISA_DESKTOP_SCALE=2 runs the program at that scale factor, as on a dense screen.
    [ -z "${VELRISA_DESKTOP_SCALE:-}" ] || export QT_SCALE_FACTOR=$VELRISA_DESKTOP_SCALE
    work=$(mktemp -d "/tmp/velrisa-$name.XXXXXX")
    chmod 755 "$work"
    started=()
    desktop_pids=()
    failures=0
    desktop_kind=$kind
    desktop_log=$work/desktop.log
    desktop_run=$work/desktop-run
    mkdir -m 700 "$desktop_run"
    trap desktop_cleanup EXIT
    case $kind in
    gnome*) start_gnome ;;
    kwin) start_kwin ;;
    xfce) start_xfce ;;
    esac
}

desktop_cleanup() {
    local pid
    for pid in "${started[@]}" "${desktop_pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null
    done
    for pid in "${started[@]}" "${desktop_pids[@]}"; do
        for _ in 1 2 3 4 5 6 7 8 9 10; do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null
        # GNOME Shell 43 may crash on its way out: nothing to report.
        { wait "$pid"; } 2>/dev/null
    done
    # What the session's bus started on demand (GNOME's calendar and address book services,
    # portals) goes too: one that hangs on its way out keeps the test's output open, and ctest
    # waits for it until the test times out.
    # shellcheck disable=SC2046 # one process id a word
    kill -KILL $(bus_services) 2>/dev/null
    rm -rf "$work"
}

# The processes, other than this script, started with this session's bus (the bus hands its
# address to what it starts).
bus_services() {
    local proc
    [ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || return
    for proc in /proc/[0-9]*; do
        [ "${proc#/proc/}" != $$ ] || continue
        tr '\0' '\n' 2>/dev/null <"$proc/environ" | grep -qxF "DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS" &&
            echo "${proc#/proc/}"
    done
}

desktop_failed() {
    echo "FAIL: $1 did not start; it printed:"
    grep -v "^dbus-daemon" "$desktop_log" | tail -n 60
    exit 1
}

# mutter refuses to start Xwayland when /tmp/.X11-unix lacks /tmp's own permissions (an X
# server started before it by root may have made it 1755); root can give them back.
x11_folder_usable() {
    [ ! -e /tmp/.X11-unix ] || [ "$(stat -c %a /tmp/.X11-unix)" = 1777 ] ||
        { [ "$(id -u)" -eq 0 ] && chmod 1777 /tmp/.X11-unix; }
}

start_gnome() {
    local data=$work/gnome-data uuid=velrisa-prueba@velrisa.example.org extensions
    x11_folder_usable || {
        echo "SKIP: /tmp/.X11-unix is not writable by everybody, and Xwayland needs it"
        exit 77
    }
    # A session mode of our own enables the test extension (and the tray's, when asked)
    # without touching anybody's settings.
    mkdir -p "$data/gnome-shell/modes" "$data/gnome-shell/extensions/$uuid" "$data/applications" \
        "$data/icons/hicolor/scalable/apps"
    # Installed as the package installs them: the shell names the program's windows after
    # its desktop entry, with its icon.
    cp "$desktop_source/packaging/velrisa.desktop" "$data/applications/"
    cp "$desktop_source/resources/icons/hicolor/velrisa.svg" "$data/icons/hicolor/scalable/apps/"
    # GLib passes over an entry whose Exec is not on the search path.
    mkdir -p "$work/bin"
    ln -s "$(readlink -f "${velrisa:-/bin/true}")" "$work/bin/velrisa"
    extensions="\"$uuid\""
    [ "$desktop_kind" = gnome-appindicator ] && extensions+=', "ubuntu-appindicators@ubuntu.com"'
    printf '{ "parentMode": "user", "enabledExtensions": [%s] }\n' "$extensions" \
        >"$data/gnome-shell/modes/velrisa-prueba.json"
    printf '{ "uuid": "%s", "name": "Velrisa tests", "description": "Eval for tests", "shell-version": ["43", "44"] }\n' \
        "$uuid" >"$data/gnome-shell/extensions/$uuid/metadata.json"
    cat >"$data/gnome-shell/extensions/$uuid/extension.js" <<'EOF'
const Main = imports.ui.main;
function init() {}
// Eval answers in unsafe mode only; the overview that GNOME opens at start-up would hide
// every window.
function enable() {
    global.context.unsafe_mode = true;
    if (Main.layoutManager._startingUp)
        Main.layoutManager.connect('startup-complete', () => Main.overview.hide());
    else
        Main.overview.hide();
}
function disable() {}
EOF
    # The system bus is this private bus too: the shell asks logind there, and would stop
    # at start-up on a machine without a system bus.
    # Session modes are read from XDG_DATA_DIRS only.
    DBUS_SYSTEM_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR=$desktop_run XDG_DATA_HOME=$data \
        XDG_DATA_DIRS=$data:${XDG_DATA_DIRS:-/usr/local/share:/usr/share} PATH=$work/bin:$PATH \
        XDG_CONFIG_HOME=$work/gnome-config GSETTINGS_BACKEND=memory \
        gnome-shell --headless --wayland --virtual-monitor 1024x768 --wayland-display=wayland-velrisa \
        --mode=velrisa-prueba >"$desktop_log" 2>&1 &
    desktop_pids+=("$!")
    gnome_ready() {
        [ "$(gnome_eval '!Main.layoutManager._startingUp && !Main.overview.visible && !!GLib.getenv("DISPLAY")')" = true ]
    }
    wait_for 30 gnome_ready || { gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell --method org.gnome.Shell.Eval "Main.overview.visible"; desktop_failed "GNOME Shell"; }
    # The shell's notice that it is in unsafe mode would stand before every later banner (one
    # stays while the person is idle, and nobody is active headless): it goes.
    gnome_eval 'Main.messageTray.getSources().forEach(s => s.destroy()); true' >/dev/null
    export WAYLAND_DISPLAY=$desktop_run/wayland-velrisa
    DISPLAY=$(gnome_eval 'GLib.getenv("DISPLAY")')
    XAUTHORITY=$(gnome_eval 'GLib.getenv("XAUTHORITY")')
    export DISPLAY XAUTHORITY
    [ "$desktop_kind" != gnome-appindicator ] ||
        wait_for 10 is_active_extension ubuntu-appindicators@ubuntu.com ||
        desktop_failed "The AppIndicator extension"
}

is_active_extension() { [ "$(gnome_eval "Main.extensionManager.lookup('$1').state")" = 1 ]; }

# What JavaScript returns in GNOME Shell, as text (a string without its quotes).
gnome_eval() {
    local out
    out=$(gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
        --method org.gnome.Shell.Eval "const GLib = imports.gi.GLib; $1" 2>/dev/null) || return 1
    case $out in "(true, "*) ;; *) return 1 ;; esac
    out=${out#"(true, '"}
    out=${out%"')"}
    out=${out#\"}
    printf '%s\n' "${out%\"}"
}

gnome_windows() {
    gnome_eval 'const Shell = imports.gi.Shell; const t = Shell.WindowTracker.get_default();
        global.get_window_actors().map(a => a.meta_window).map(w => [w.get_title(),
            t.get_window_app(w) ? t.get_window_app(w).get_id() : "",
            w.has_focus(), w.get_wm_class()].join("|")).join(" ;; ")' | sed 's/ ;; /\n/g'
}

start_kwin() {
    # kwin_wayland carries a file capability that a container may not grant: a copy of it
    # runs without it.
    local kwin=kwin_wayland
    "$kwin" --version >/dev/null 2>&1 || {
        cp "$(command -v kwin_wayland)" "$work/kwin_wayland"
        kwin=$work/kwin_wayland
    }
    # What KWin starts once Xwayland runs tells where that is.
    printf '#!/bin/sh\nprintf "%%s\\n%%s\\n%%s\\n" "$DISPLAY" "$XAUTHORITY" $$ >%s/kwin-x11\nexec sleep 100000\n' "$work" \
        >"$work/kwin-session"
    chmod 755 "$work/kwin-session"
    QT_LOGGING_RULES='kwin_scripting=true' XDG_RUNTIME_DIR=$desktop_run XDG_CONFIG_HOME=$work/kwin-config \
        KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1 \
        "$kwin" --virtual --xwayland --width 1024 --height 768 --socket wayland-velrisa --no-lockscreen \
        --no-global-shortcuts --no-kactivities \
        "$work/kwin-session" >"$desktop_log" 2>&1 &
    desktop_pids+=("$!")
    wait_for 30 test -s "$work/kwin-x11" || desktop_failed "KWin"
    export WAYLAND_DISPLAY=$desktop_run/wayland-velrisa
    DISPLAY=$(sed -n 1p "$work/kwin-x11")
    XAUTHORITY=$(sed -n 2p "$work/kwin-x11")
    desktop_pids+=("$(sed -n 3p "$work/kwin-x11")")
    export DISPLAY XAUTHORITY
    [ -n "$XAUTHORITY" ] || unset XAUTHORITY
}

kwin_call() {
    local path=$1 method=$2
    shift 2
    gdbus call --session --dest org.kde.KWin --object-path "$path" --method "$method" "$@"
}

# Runs a KWin script; what it print()s comes back through KWin's log.
kwin_script() {
    local file=$work/script-$RANDOM.js mark=velrisa$RANDOM
    printf 'print("%s<"); %s\nprint(">%s");\n' "$mark" "$1" "$mark" >"$file"
    kwin_call /Scripting org.kde.kwin.Scripting.loadScript "'$file'" "'$mark'" >/dev/null || return 1
    # Starts the scripts loaded and not yet running: this one.
    kwin_call /Scripting org.kde.kwin.Scripting.start >/dev/null || return 1
    wait_for 5 grep -q ">$mark" "$desktop_log"
    kwin_call /Scripting org.kde.kwin.Scripting.unloadScript "'$mark'" >/dev/null 2>&1
    sed -n "/$mark</,/>$mark/p" "$desktop_log" | sed -e "/$mark/d" -e 's/^js: //'
}

start_xfce() {
    local display
    for display in $(seq $((300 + $(printf '%s' "$work" | cksum | cut -d' ' -f1) % 60)) 399); do
        [ -e "/tmp/.X$display-lock" ] || break
    done
    Xvfb ":$display" -noreset -screen 0 1024x768x24 -nolisten tcp >"$desktop_log" 2>&1 &
    desktop_pids+=("$!")
    export DISPLAY=:$display
    wait_for 10 xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 || desktop_failed "Xvfb"
    XDG_CONFIG_HOME=$work/xfce-config xfwm4 --compositor=off >>"$desktop_log" 2>&1 &
    desktop_pids+=("$!")
    XDG_CONFIG_HOME=$work/xfce-config xfce4-panel >>"$desktop_log" 2>&1 &
    desktop_pids+=("$!")
    xfwm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
    wait_for 30 xfwm_ready || desktop_failed "xfwm4"
}

x_is_active() { [ "$(x_active)" = "$1" ]; }

x_active() {
    xprop -root _NET_ACTIVE_WINDOW | sed -n 's/.*window id # \(0x[0-9a-f]*\).*/\1/p' | xargs printf '%d\n' 2>/dev/null
}

# _NET_CLIENT_LIST_STACKING lists the managed windows from the bottom one up.
x_stacking() {
    xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //' | tr ',' '\n' | xargs -n 1 printf '%d\n' 2>/dev/null
}

x_above() {
    local list a b
    list=$(x_stacking)
    a=$(printf '%s\n' "$list" | grep -n -x "$1" | cut -d: -f1)
    b=$(printf '%s\n' "$list" | grep -n -x "$2" | cut -d: -f1)
    [ -n "$a" ] && [ -n "$b" ] && [ "$a" -gt "$b" ]
}

# Starts the program as GNOME's launcher does (a click in the dash or the overview): from its
# desktop entry, at the time of the click, which the shell gives it as a startup id (its
# activation token), with the session's folders and the platform, if any, in $1.
gnome_launch() {
    local settings="" name
    for name in XDG_RUNTIME_DIR XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME VELRISA_BUZON WAYLAND_DISPLAY; do
        settings+="['$name', '${!name:-}'], "
    done
    [ -z "${1:-}" ] || settings+="['QT_QPA_PLATFORM', '$1'], "
    gnome_eval "const ctx = global.create_app_launch_context(global.display.get_current_time_roundtrip(), -1);
        for (const [k, v] of [$settings]) if (v) ctx.setenv(k, v);
        imports.gi.Shell.AppSystem.get_default().lookup_app('velrisa.desktop').get_app_info().launch([], ctx);
        'ok'" | grep -q ok
}
# How many launches GNOME still shows as starting (a busy pointer, the app's spinner).
gnome_launches_pending() { gnome_eval 'String(imports.gi.Shell.WindowTracker.get_default().get_startup_sequences().length)'; }

x_text_window() {
    xmessage -name velrisa-texto -title "$1" -geometry 600x400+200+150 "Escribiendo" >/dev/null 2>&1 &
    started+=("$!")
    text_window_shown() {
        text_window=$(search_windows --onlyvisible --name "^$1\$" | head -n 1)
        [ -n "$text_window" ]
    }
    wait_for 10 text_window_shown "$1" || fail "the window $1 did not appear"
}

desktop_shot() {
    [ -n "${VELRISA_E2E_SHOTS:-}" ] || return 0
    mkdir -p "$VELRISA_E2E_SHOTS"
    local file=$VELRISA_E2E_SHOTS/$desktop_kind-$1.png
    case $desktop_kind in
    gnome*)
        gdbus call --session --dest org.gnome.Shell.Screenshot --object-path /org/gnome/Shell/Screenshot \
            --method org.gnome.Shell.Screenshot.Screenshot false false "$file" >/dev/null
        ;;
    kwin)
        # Xwayland cannot read its root window back; KWin writes the whole screen to a file
        # of its own and names it.
        local made
        made=$(kwin_call /Screenshot org.kde.kwin.Screenshot.screenshotFullscreen false |
            sed -n "s/^('\(.*\)',)\$/\1/p")
        [ -f "$made" ] && mv "$made" "$file"
        ;;
    *) import -window root "$file" ;;
    esac
}
