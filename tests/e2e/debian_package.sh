#!/usr/bin/env bash
# The Debian package as `make deb` makes it: lintian finds nothing to report, the control
# data names what the program needs, and once installed into a scratch root the program,
# run there by an ordinary user under a virtual X server, sends its first message with our
# `net` (a stand-in smbclient receives it) and writes only into that user's own folders.
# As root the program runs as nobody; otherwise as the calling user.
# Usage: debian_package.sh BUILD_DIR   (exit 77: skipped)
# With VELRISA_E2E_SHOTS=DIR, screenshots before and after the send are kept there.
set -u

build=${1:?usage: $0 BUILD_DIR}
# Nobody must reach the virtual display: no authority file of ours is readable for it.
xvfb_options="-ac -screen 0 1024x768x24"
. "$(dirname "$0")/lib.sh"
e2e_begin paquete xvfb-run xauth xdotool cpack dpkg dpkg-deb dpkg-shlibdeps -- "$@"
chmod 755 "$work"

echo "== the package"
mkdir "$work/paquete"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/paquete" \
    -D CPACK_PACKAGING_INSTALL_PREFIX=/usr -D CPACK_OUTPUT_FILE_PREFIX="$work/paquete" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; echo "FAIL: cpack failed"; exit 1; }
deb=$(ls "$work"/paquete/velrisa_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { cat "$work/cpack.log"; echo "FAIL: no package made"; exit 1; }

if command -v lintian >/dev/null 2>&1; then
    lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 || fail "lintian: $(cat "$work/lintian.log")"
    grep -E '^[EW]: ' "$work/lintian.log"
else
    echo "SKIP (part): lintian is not installed (scripts/deps.sh installs it)"
fi

field() { dpkg-deb -f "$deb" "$1"; }
for need in smbclient samba-common-bin fonts-liberation2 libqt6widgets6 libqt6network6 libc6; do
    field Depends | tr ',' '\n' | grep -q "^ *$need\b" || fail "Depends lacks $need: $(field Depends)"
done
field Recommends | grep -q xchm || fail "Recommends: $(field Recommends)"
field Suggests | grep -q samba || fail "Suggests: $(field Suggests)"
dpkg-deb -c "$deb" | grep -E '/(s?bin)/net$' && fail "the package puts a net on the search path"

echo "== installed into a scratch root"
root=$work/raiz
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
# The libraries and tools it depends on are this machine's own, outside the scratch root.
dpkg --root="$root" --log=/dev/null --force-depends --force-not-root -i "$deb" >"$work/dpkg.log" 2>&1 ||
    { cat "$work/dpkg.log"; echo "FAIL: dpkg could not install the package"; exit 1; }

# An ordinary user with a home of its own, and a stand-in smbclient that records each call.
casa=$work/casa
registro=$work/registro
mkdir -p "$casa/run" "$work/falso" "$registro"
chmod 700 "$casa/run"
chmod 1777 "$registro"
cat >"$work/falso/smbclient" <<EOF
#!/bin/sh
printf '%s\n' "\$*" >>"$registro/smbclient.txt"
cat >>"$registro/texto.txt"
EOF
chmod 755 "$work/falso/smbclient"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    chown -R 65534:65534 "$casa"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
find "$root" -printf '%p %s %T@ %m\n' | sort >"$work/antes.txt"
touch "$work/marca"
sleep 1

"${as_user[@]}" env -i HOME="$casa" USER=usuario PATH="$work/falso:/usr/bin:/bin" DISPLAY="$DISPLAY" \
    XDG_RUNTIME_DIR="$casa/run" QT_QPA_PLATFORM=xcb LANG=C.UTF-8 \
    "$root/usr/bin/velrisa" >>"$work/salida.txt" 2>&1 &
pid=$!
started+=("$pid")
wait_for_main_window "$work/salida.txt"

click_in() {
    xdotool mousemove --window "$main" 1 1 mousemove --window "$main" "$1" "$2" click 1
    sleep 0.3
}
click_in 200 38                   # txtDestino
xdotool type --delay 30 "PC-PRUEBA"
click_in 300 222                  # txtMensaje
xdotool key ctrl+a type --delay 30 "hola"
shot paquete_antes
xdotool key Return
datos=$casa/.local/share/velrisa
sent() { [ -s "$registro/smbclient.txt" ] && [ -s "$datos/mensaje.txt" ]; }
wait_for 20 sent || fail "no send: $(cat "$work/salida.txt")"
wait_for 30 window_shown '^Mensajes enviados$' || fail "the sent-messages window did not appear"
sleep 0.5
shot paquete_enviado

echo "== what the first send did"
# Our net ran (Samba's own /usr/bin/net knows no "send"): it gave the text to smbclient --message.
grep -q -- "--message=PC-PRUEBA " "$registro/smbclient.txt" || fail "smbclient was called as: $(cat "$registro/smbclient.txt")"
grep -q hola "$registro/texto.txt" || fail "smbclient read: $(cat "$registro/texto.txt")"
head -n 1 "$datos/mensaje.txt" | grep -q '^Mensaje enviado' || fail "mensaje.txt: $(cat "$datos/mensaje.txt")"
[ "$(cat "$datos/ejecuta.bat")" = "net send PC-PRUEBA hola > \"$datos/mensaje.txt\"" ] ||
    fail "ejecuta.bat: $(cat "$datos/ejecuta.bat")"
[ "$(stat -c %a "$datos")" = 700 ] || fail "the data folder is open to others: $(stat -c %a "$datos")"
[ -f "$casa/.config/velrisa/velrisa.conf" ] || fail "the setting was not stored in ~/.config/velrisa"

# Nothing changed in the installed tree; nothing was written outside the user's folders.
find "$root" -printf '%p %s %T@ %m\n' | sort >"$work/despues.txt"
diff "$work/antes.txt" "$work/despues.txt" >"$work/cambios.txt" || fail "the installed tree changed: $(cat "$work/cambios.txt")"
outside=$(find "$work" -newer "$work/marca" ! -type d ! -path "$casa/*" ! -path "$registro/*" \
    ! -path "$work/salida.txt" ! -path "$work/despues.txt" ! -path "$work/cambios.txt")
[ -z "$outside" ] || fail "written outside the user's folders: $outside"
[ -n "$(find "$datos" -name enviara.ini -o -name mru.ini)" ] || fail "the recent list is not in $datos"

if [ "$failures" -eq 0 ]; then
    echo "1 passed, 0 failed"
    exit 0
fi
echo "0 passed, 1 failed ($failures checks)"
exit 1
