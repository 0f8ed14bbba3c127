#!/usr/bin/env bash
# End-to-end check of the wait window on the real program under a virtual X server: while
# a slow `net` runs, the screen shows "Espere un momento..." drawn, its hourglass and its
# text, and not whatever lay beneath it.
# Usage: wait_window.sh /path/to/velrisa   (exit 77: skipped)
# With VELRISA_E2E_SHOTS=DIR, the screenshot taken during the wait is kept there.
set -u

velrisa=${1:?usage: $0 /path/to/velrisa}
clock_picture=$(cd "$(dirname "$0")/../../resources/pictures" && pwd)/reloj.png
. "$(dirname "$0")/lib.sh"
e2e_begin wait xvfb-run xauth xdotool import convert -- "$@"

new_session wait
# A slow net: three seconds before it answers, the time the wait window is up.
cat >"$prog/net" <<'NET'
#!/bin/sh
sleep 3
echo "Mensaje enviado a $2."
NET
chmod +x "$prog/net"

start_program
pid=$last_pid
wait_for_main_window "$session/output.txt"

# txtDestino: 96,28 477x21. A recipient and Enter start the send.
xdotool mousemove --window "$main" 1 1 mousemove --window "$main" 300 38 click 1
xdotool type --delay 30 "pc1"
xdotool key Return
wait_for 2 window_shown '^Espere un momento...$' || fail "the wait window did not appear"
wait=$(window_of '^Espere un momento...$')
shot=$work/wait.png

# The hourglass (Image1, 150,9 13x22) is the picture itself, laid on the window's colour, and
# the text (Label1, 0,44 312x13) a centred line: what is not the window's colour spans about the
# width of the sentence, around the middle. Sets $why when the screen does not show them.
drawn() {
    import -window root "$shot"
    eval "$(xdotool getwindowgeometry --shell "$wait")"
    convert "$shot" -crop "313x65+$X+$Y" +repage "$work/wait-window.png"
    background=$(convert "$work/wait-window.png" -format '%[pixel:p{2,2}]' info:)
    convert "$work/wait-window.png" -crop 13x22+150+9 +repage "$work/hourglass.png"
    convert "$clock_picture" -background "$background" -flatten "$work/expected.png"
    differ=$(compare -metric AE -fuzz 10% "$work/hourglass.png" "$work/expected.png" null: 2>&1)
    if [ "$differ" != 0 ]; then
        why="the hourglass is not drawn: $differ pixels differ"
        return 1
    fi
    box=$(convert "$work/wait-window.png" -crop 312x13+0+44 +repage -bordercolor "$background" -border 1 \
        -fuzz 20% -trim -format '%w %h %X %Y' info:)
    read -r w h x _ <<<"$box"
    middle=$((x - 1 + w / 2))
    if [ "$w" -lt 200 ] || [ "$w" -gt 312 ] || [ "$h" -lt 5 ] || [ "$middle" -lt 150 ] || [ "$middle" -gt 162 ]; then
        why="the text is not drawn as a centred line: ${w}x${h} at $x"
        return 1
    fi
}
# Drawn while the send is under way: the window is there until net answers.
drawn_while_up() { window_shown '^Espere un momento...$' && drawn; }
why="the wait window closed before it was drawn"
wait_for 3 drawn_while_up || fail "$why"
if [ -n "${VELRISA_E2E_SHOTS:-}" ]; then
    mkdir -p "$VELRISA_E2E_SHOTS"
    cp "$shot" "$VELRISA_E2E_SHOTS/wait.png"
fi

if [ "$failures" -eq 0 ]; then
    echo "1 passed, 0 failed"
    exit 0
fi
echo "0 passed, 1 failed ($failures checks)"
exit 1
