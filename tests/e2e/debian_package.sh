#!/usr/bin/env bash
# The Debian package as `make deb` makes it: lintian finds nothing to report, the control
# data names what the program needs, and once installed into a scratch root the program,
# run there by an ordinary user under a virtual X server, sends its first message with our
# `net` (a stand-in smbclient receives it) and writes only into that user's own folders; the
# installed net reads /etc/velrisa/net.ini, not one beside it. As root the program runs as
# nobody; otherwise as the calling user. As root with Samba installed, also: every installed
# program carries the hardening flags, the installed recepcion.sh sets up a loopback smbd of
# the test's own so that a message arrives, removing the package undoes that (the sender is
# told the message was not delivered), and purging it removes the mailbox and leaves smb.conf
# byte for byte as it was.
# Usage: debian_package.sh BUILD_DIR   (exit 77: skipped)
# With VELRISA_E2E_SHOTS=DIR, screenshots before and after the send are kept there.
set -u

build=${1:?usage: $0 BUILD_DIR}
# Nobody must reach the virtual display: no authority file of ours is readable for it.
xvfb_options="-ac -screen 0 1024x768x24"
. "$(dirname "$0")/lib.sh"
e2e_begin paquete xvfb-run xauth xdotool cpack dpkg dpkg-deb dpkg-shlibdeps -- "$@"
chmod 755 "$work"
# The receiving part works in a folder that only root can change (a mailbox is refused under
# /tmp), with an smbd of its own.
safe_dir=
smbd_pid=
stop_samba() {
    local pid
    [ -n "$smbd_pid" ] || return 0
    kill -TERM "$smbd_pid" 2>/dev/null
    wait "$smbd_pid" 2>/dev/null
    # What smbd started that outlives it names this test's configuration.
    for pid in $(pgrep -f -- "$safe_dir/smb.conf"); do kill -TERM "$pid" 2>/dev/null; done
    smbd_pid=
}
trap 'stop_samba; e2e_cleanup; [ -z "$safe_dir" ] || rm -rf "$safe_dir"' EXIT

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
home_dir=$work/casa
calls_dir=$work/registro
mkdir -p "$home_dir/run" "$work/falso" "$calls_dir"
chmod 700 "$home_dir/run"
chmod 1777 "$calls_dir"
cat >"$work/falso/smbclient" <<EOF
#!/bin/sh
printf '%s\n' "\$*" >>"$calls_dir/smbclient.txt"
cat >>"$calls_dir/texto.txt"
EOF
chmod 755 "$work/falso/smbclient"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    chown -R 65534:65534 "$home_dir"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
find "$root" -printf '%p %s %T@ %m\n' | sort >"$work/antes.txt"
touch "$work/marca"
# What is written from here on must be newer than the mark: wait out the clock's tick.
tick_passed() { touch "$work/tic" && [ "$work/tic" -nt "$work/marca" ]; }
wait_for 5 tick_passed || fail "the clock does not move past $work/marca"
rm -f "$work/tic"

"${as_user[@]}" env -i HOME="$home_dir" USER=usuario PATH="$work/falso:/usr/bin:/bin" DISPLAY="$DISPLAY" \
    XDG_RUNTIME_DIR="$home_dir/run" QT_QPA_PLATFORM=xcb LANG=C.UTF-8 \
    "$root/usr/bin/velrisa" >>"$work/salida.txt" 2>&1 &
pid=$!
started+=("$pid")
wait_for_main_window "$work/salida.txt"

click_in() {
    xdotool mousemove --window "$main" 1 1 mousemove --window "$main" "$1" "$2" click 1
}
click_in 200 38                   # txtDestino
xdotool type --delay 30 "PC-PRUEBA"
click_in 300 222                  # txtMensaje
xdotool key ctrl+a type --delay 30 "hola"
shot paquete_antes
xdotool key Return
data_dir=$home_dir/.local/share/velrisa
sent() { [ -s "$calls_dir/smbclient.txt" ] && [ -s "$data_dir/mensaje.txt" ]; }
wait_for 20 sent || fail "no send: $(cat "$work/salida.txt")"
wait_for 30 window_shown '^Mensajes enviados$' || fail "the sent-messages window did not appear"
shot paquete_enviado

echo "== what the first send did"
# Our net ran (Samba's own /usr/bin/net knows no "send"): it gave the text to smbclient --message.
grep -q -- "--message=PC-PRUEBA " "$calls_dir/smbclient.txt" || fail "smbclient was called as: $(cat "$calls_dir/smbclient.txt")"
grep -q hola "$calls_dir/texto.txt" || fail "smbclient read: $(cat "$calls_dir/texto.txt")"
head -n 1 "$data_dir/mensaje.txt" | grep -q '^Mensaje enviado' || fail "mensaje.txt: $(cat "$data_dir/mensaje.txt")"
[ "$(cat "$data_dir/ejecuta.bat")" = "net send PC-PRUEBA hola > \"$data_dir/mensaje.txt\"" ] ||
    fail "ejecuta.bat: $(cat "$data_dir/ejecuta.bat")"
[ "$(stat -c %a "$data_dir")" = 700 ] || fail "the data folder is open to others: $(stat -c %a "$data_dir")"
[ -f "$home_dir/.config/velrisa/velrisa.conf" ] || fail "the setting was not stored in ~/.config/velrisa"

# Nothing changed in the installed tree; nothing was written outside the user's folders.
find "$root" -printf '%p %s %T@ %m\n' | sort >"$work/despues.txt"
diff "$work/antes.txt" "$work/despues.txt" >"$work/cambios.txt" || fail "the installed tree changed: $(cat "$work/cambios.txt")"
outside=$(find "$work" -newer "$work/marca" ! -type d ! -path "$home_dir/*" ! -path "$calls_dir/*" \
    ! -path "$work/salida.txt" ! -path "$work/despues.txt" ! -path "$work/cambios.txt")
[ -z "$outside" ] || fail "written outside the user's folders: $outside"
[ -n "$(find "$data_dir" -name enviara.ini -o -name mru.ini)" ] || fail "the recent list is not in $data_dir"

echo "== the installed net reads /etc/velrisa/net.ini"
# A loopback address where nothing listens: a net that reads this file calls it itself and is
# refused at once; a net that does not read it leaves the name to (our fake) smbclient.
printf '[Equipos]\r\nPC-PRUEBA=127.254.61.9\r\n' >"$root/usr/lib/velrisa/net.ini"
mkdir "$work/suelto"
cp "$root/usr/lib/velrisa/net" "$root/usr/lib/velrisa/net.ini" "$work/suelto/"
: >"$calls_dir/smbclient.txt"
PATH="$work/falso:/usr/bin:/bin" "$root/usr/lib/velrisa/net" send PC-PRUEBA hola >"$work/net_instalado.txt" 2>&1
grep -q CONNECTION_REFUSED "$work/net_instalado.txt" && fail "the installed net read the net.ini beside it"
[ -f /etc/velrisa/net.ini ] || grep -q -- "--message=PC-PRUEBA " "$calls_dir/smbclient.txt" ||
    fail "the installed net did not send: $(cat "$calls_dir/smbclient.txt")"
: >"$calls_dir/smbclient.txt"
PATH="$work/falso:/usr/bin:/bin" "$work/suelto/net" send PC-PRUEBA hola >"$work/net_suelto.txt" 2>&1
{ grep -q CONNECTION_REFUSED "$work/net_suelto.txt" && [ ! -s "$calls_dir/smbclient.txt" ]; } ||
    fail "a net that is not installed ignored the net.ini beside it: $(cat "$work/net_suelto.txt" "$calls_dir/smbclient.txt")"
rm "$root/usr/lib/velrisa/net.ini"
[ -f "$root/usr/share/doc/velrisa/net.ini" ] || fail "no example net.ini in the documentation"

if [ "$(id -u)" -ne 0 ] || ! command -v smbd testparm smbclient smbcontrol hardening-check >/dev/null 2>&1 ||
    [ "$(stat -c '%u %a' /run 2>/dev/null)" != "0 755" ]; then
    echo "SKIP (part): hardening and receiving need root, /run, samba, smbclient and hardening-check (devscripts)"
else
    echo "== hardened programs"
    if [ "${VELRISA_SIN_ENDURECER:-0}" = 1 ]; then
        echo "SKIP (part): a checking build carries the sanitizers instead of the hardening"
    else
        # PIE, stack protector, RELRO and immediate binding on each program. Fortify shows only
        # where the compiler could not prove a call safe, which some programs never need ("only
        # unprotected functions found"): it must be seen in one of them. The control flow check
        # is beyond Debian's usual flags.
        fortified=0
        for program in velrisa net velrisa-recibe; do
            hardening-check --nocfprotection "$root/usr/lib/velrisa/$program" >"$work/hardening.txt" 2>&1
            grep -q "Fortify Source functions: yes" "$work/hardening.txt" && fortified=1
            for check in "Position Independent Executable" "Stack protected" "Read-only relocations" "Immediate binding"; do
                grep -q "$check: yes" "$work/hardening.txt" || fail "hardening-check $program: $(cat "$work/hardening.txt")"
            done
            grep "Fortify Source functions: no" "$work/hardening.txt" | grep -v -q "only unprotected functions found" &&
                fail "hardening-check $program: $(cat "$work/hardening.txt")"
        done
        [ "$fortified" -eq 1 ] || fail "no program has a fortified function"
    fi

    echo "== receiving set up with the installed recepcion.sh, undone by removing the package"
    safe_dir=$(mktemp -d /run/velrisa-paquete.XXXXXX)
    chmod 755 "$safe_dir"
    cp -p /etc/samba/smb.conf "$safe_dir/sistema.conf" 2>/dev/null
    # An address of loopback that no other test picks at the same time.
    address=127.61.$(($$ / 250 % 250 + 1)).$(($$ % 250 + 2))
    mkdir -p "$safe_dir"/{state,lock,cache,private,pid,ncalrpc,cliente}
    printf '%s\n' "[global]" "   netbios name = PAQUETE" "   workgroup = PRUEBAS" "   smb ports = 139" \
        "   interfaces = $address/8" "   bind interfaces only = yes" "   disable netbios = no" \
        "   state directory = $safe_dir/state" "   lock directory = $safe_dir/lock" \
        "   cache directory = $safe_dir/cache" "   private dir = $safe_dir/private" "   pid directory = $safe_dir/pid" \
        "   ncalrpc dir = $safe_dir/ncalrpc" "   log level = 1" "" "[compartida]" "   path = $safe_dir/cache" \
        >"$safe_dir/smb.conf"
    cp "$safe_dir/smb.conf" "$safe_dir/original.conf"
    printf '%s\n' "[global]" "   interfaces = lo" "   bind interfaces only = yes" "   name resolve order = bcast" \
        "   lock directory = $safe_dir/cliente" "   state directory = $safe_dir/cliente" \
        "   cache directory = $safe_dir/cliente" "   private dir = $safe_dir/cliente" \
        "   pid directory = $safe_dir/cliente" >"$safe_dir/cliente.conf"
    state_dir=$root/var/lib/velrisa
    "$root/usr/lib/velrisa/recepcion.sh" --configuracion="$safe_dir/smb.conf" --buzon="$safe_dir/buzon" \
        --estado="$state_dir" --sin-reiniciar >"$work/recepcion.txt" 2>&1 ||
        fail "the installed recepcion.sh failed: $(cat "$work/recepcion.txt")"
    smbd -F --debug-stdout -s "$safe_dir/smb.conf" >"$safe_dir/smbd.log" 2>&1 &
    smbd_pid=$!
    listening() { (exec 3<>"/dev/tcp/$address/139") 2>/dev/null; }
    wait_for 15 listening || fail "smbd did not start: $(cat "$safe_dir/smbd.log")"
    # Delivered: exit 0 and no refusal on standard error.
    send() {
        echo "$1" | smbclient -s "$safe_dir/cliente.conf" -M PAQUETE -I "$address" -p 139 -N -U juan \
            >"$work/smbclient.out" 2>"$work/smbclient.err" && ! grep -q "cli_message returned" "$work/smbclient.err"
    }
    send "antes de desinstalar" || fail "the message did not arrive: $(cat "$work/smbclient.out" "$work/smbclient.err")"
    ls "$safe_dir/buzon" | grep -q '^m[0-9]' || fail "no record in the mailbox: $(cat "$safe_dir/smbd.log")"

    dpkg --root="$root" --log=/dev/null --force-depends --force-not-root --force-script-chrootless -r velrisa \
        >"$work/dpkg.log" 2>&1 || fail "dpkg -r failed: $(cat "$work/dpkg.log")"
    cmp -s "$safe_dir/smb.conf" "$safe_dir/original.conf" ||
        fail "removing left smb.conf changed: $(diff "$safe_dir/original.conf" "$safe_dir/smb.conf")"
    [ ! -e "$safe_dir/velrisa.conf" ] || fail "removing left velrisa.conf"
    ls "$safe_dir/buzon" | grep -q '^m[0-9]' || fail "removing (not purging) took the mailbox"
    send "tras desinstalar" && fail "a message after the removal is reported as delivered"

    dpkg --root="$root" --log=/dev/null --force-depends --force-not-root --force-script-chrootless --purge velrisa \
        >"$work/dpkg.log" 2>&1 || fail "dpkg --purge failed: $(cat "$work/dpkg.log")"
    cmp -s "$safe_dir/smb.conf" "$safe_dir/original.conf" ||
        fail "purging left smb.conf changed: $(diff "$safe_dir/original.conf" "$safe_dir/smb.conf")"
    [ ! -e "$safe_dir/buzon" ] || fail "purging left the mailbox: $(ls -A "$safe_dir/buzon")"
    [ ! -e "$state_dir" ] || fail "purging left $state_dir"
    send "tras purgar" && fail "a message after the purge is reported as delivered"
    stop_samba
    [ ! -f "$safe_dir/sistema.conf" ] || cmp -s /etc/samba/smb.conf "$safe_dir/sistema.conf" ||
        fail "the machine's own smb.conf changed"
fi

if [ "$failures" -eq 0 ]; then
    echo "1 passed, 0 failed"
    exit 0
fi
echo "0 passed, 1 failed ($failures checks)"
exit 1
