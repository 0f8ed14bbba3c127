#!/usr/bin/env bash
# Takes the screenshot that the AppStream metadata shows: the main window under a virtual X
# server, with a small address book, two computers marked and a message typed.
# Usage: scripts/captura.sh [PROGRAM [OUT.png [SCALE]]]
#   defaults: build/velrisa, packaging/captura-principal.png, scale factor 2
# Needs xvfb-run, xauth, xdotool and imagemagick (scripts/deps.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/.."
program=$(realpath "${1:-build/velrisa}")
out=$(realpath -m "${2:-packaging/captura-principal.png}")
scale=${3:-2}

if [ "${VELRISA_CAPTURE_INNER:-}" != 1 ]; then
    VELRISA_CAPTURE_INNER=1 exec xvfb-run -a -s "-screen 0 1600x1000x24" "$0" "$program" "$out" "$scale"
fi

work=$(mktemp -d /tmp/velrisa-captura.XXXXXX)
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
# A copy of the program in a folder of its own, so that its data files stay there.
mkdir -p "$work/prog" "$work/run" "$work/config"
chmod 700 "$work/run"
cp "$program" "$work/prog/velrisa"
printf '[Equipos]\r\n1=CONTABILIDAD\r\n2=RECEPCION\r\n3=ALMACEN\r\n4=DIRECCION\r\nTotal=4\r\n[Redes]\r\nTotal=0\r\n' \
    >"$work/prog/enviara.ini"
export XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
export QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale LANG=C.UTF-8
"$work/prog/velrisa" >"$work/output.txt" 2>&1 &
pid=$!

window=""
for _ in $(seq 100); do
    window=$(xdotool search --onlyvisible --pid "$pid" --name '^elrisa$' 2>/dev/null | head -n 1) && [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { cat "$work/output.txt"; echo "the main window did not appear" >&2; exit 1; }
sleep 0.5

# Positions in the window's own pixels at scale 1 (see the layout in frmPrincipal).
click() {
    xdotool mousemove --window "$window" 1 1 mousemove --window "$window" $(($1 * scale)) $(($2 * scale)) click 1
    sleep 0.3
}
click 104 63                      # "Equipo"
click 200 80                      # the first computer of the list
xdotool key Down Down space
sleep 0.3
click 300 222                     # the message
xdotool key ctrl+a type --delay 20 "La reunión empieza a las diez"
xdotool mousemove 0 0
sleep 0.5
import -window "$window" "$work/shot.png"
/usr/bin/convert "$work/shot.png" -strip "PNG24:$out"
echo "$out: $(identify -format '%wx%h' "$out")"
