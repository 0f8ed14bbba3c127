#!/usr/bin/env bash
# scripts/recepcion.sh against a scratch Samba configuration, never the machine's: what it
# adds and where, what it refuses before changing anything, that a second run changes and
# restarts nothing, and that --desinstalar gives back exactly what was there and removes only
# what it made.
# Usage: tst_receiving.sh SCRIPT RECEIVER   (exit 77: skipped)
set -u
script=${1:?usage: $0 SCRIPT RECEIVER}
receiver=$(readlink -f -- "${2:?usage: $0 SCRIPT RECEIVER}")
[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root (the mailbox goes to Samba's guest account)"; exit 77; }
command -v testparm >/dev/null || { echo "SKIP: testparm is not installed (package samba)"; exit 77; }
# The mailbox must sit where only root can change its parents: not under /tmp.
[ "$(stat -c '%u %a' /run 2>/dev/null)" = "0 755" ] || { echo "SKIP: /run is not root's 0755 folder"; exit 77; }

work=$(mktemp -d /run/velrisa-recepcion.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work" # the guest account reaches the mailbox
conf=$work/samba/smb.conf
state_dir=$work/estado
mkdir -p "$work/samba" "$work/bin"
# A [global] that would undo ours if our include came before its own lines, the banner
# comments of the shares after it, and a second [global] further down.
cat >"$conf" <<'EOF2'
[global]
   workgroup = OFICINA
   server min protocol = SMB2_02

#======================= Share Definitions =======================
; shared with everybody
[compartida]
   path = /tmp

[global]
   log level = 1

# the printers
[printers]
   path = /var/tmp
EOF2
cp "$conf" "$work/original.conf"
# Restarting Samba is recorded, never done.
for tool in service systemctl; do
    printf '#!/bin/sh\necho "$*" >>%s/reinicios\n' "$work" >"$work/bin/$tool"
    chmod 755 "$work/bin/$tool"
done

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
run() {
    PATH="$work/bin:$PATH" "$script" --configuracion="$conf" --buzon="$work/buzon" --receptor="$receiver" \
        --estado="$state_dir" "$@" >"$work/salida" 2>&1
}
param() { testparm -s --parameter-name="$1" "$conf" 2>/dev/null; }
snapshot() {
    cat "$conf" "$work/samba/velrisa.conf" 2>/dev/null
    stat -c '%U %a' "$work/buzon" 2>/dev/null
}

echo "== options"
run --ayuda || fail "--ayuda failed"
grep -q -- "--desinstalar" "$work/salida" && grep -q -- "--buzon=CARPETA" "$work/salida" || fail "--ayuda: $(cat "$work/salida")"
run --buzón=x && fail "an unknown option was accepted"
grep -q "opción desconocida: --buzón=x" "$work/salida" && grep -q -- "--alias=NOMBRE" "$work/salida" ||
    fail "an unknown option does not show the options: $(cat "$work/salida")"
cmp -s "$conf" "$work/original.conf" && [ ! -e "$work/buzon" ] || fail "an unknown option changed something"

echo "== set-up"
run --alias=JUAN --alias=MARIA || fail "set-up failed: $(cat "$work/salida")"
[ "$(param "message command")" = "$receiver --buzon=$work/buzon --usuarios=$work/samba/velrisa-usuarios '--equipo=%m' '--direccion=%I' '%f' '%L' '%s'" ] ||
    fail "message command: $(param "message command")"
[ "$(param "server min protocol")" = NT1 ] || fail "server min protocol: $(param "server min protocol")"
[ "$(param "netbios aliases")" = "JUAN MARIA" ] || fail "netbios aliases: $(param "netbios aliases")"
[ "$(grep -c '^include = ' "$conf")" -eq 1 ] || fail "expected one include line"
grep -A1 -x '   log level = 1' "$conf" | grep -q -x "include = $work/samba/velrisa.conf" ||
    fail "the include does not follow the last option of [global]: $(cat "$conf")"
[ "$(stat -c '%U %a' "$work/buzon")" = "nobody 755" ] || fail "mailbox: $(stat -c '%U %a' "$work/buzon")"
grep -q SMB1 "$work/salida" || fail "no word about SMB1 in: $(cat "$work/salida")"
[ "$(sort "$work/reinicios" 2>/dev/null | uniq | tr '\n' ' ')" = "nmbd restart smbd restart " ] ||
    fail "Samba was not restarted once: $(cat "$work/reinicios" 2>/dev/null)"

echo "== a second run changes and restarts nothing"
before=$(snapshot)
rm -f "$work/reinicios"
run --alias=JUAN --alias=MARIA || fail "second run failed: $(cat "$work/salida")"
[ "$(snapshot)" = "$before" ] || fail "the second run changed the files"
[ ! -e "$work/reinicios" ] || fail "a run that changed nothing restarted: $(cat "$work/reinicios")"
run --sin-reiniciar --alias=JUAN || fail "changing the aliases failed: $(cat "$work/salida")"
grep -q "cuando se reinicie" "$work/salida" && ! grep -q "ya recibe" "$work/salida" ||
    fail "--sin-reiniciar does not say that Samba must restart: $(cat "$work/salida")"
[ ! -e "$work/reinicios" ] || fail "--sin-reiniciar restarted: $(cat "$work/reinicios")"
run --sin-reiniciar --alias=JUAN --alias=MARIA || fail "third run failed: $(cat "$work/salida")"
before=$(snapshot)

echo "== what is refused changes nothing"
mkdir -m 700 "$work/ajena"
mkdir -p "$work/abierta/dentro"
chmod 1777 "$work/abierta"
for option in "--alias=JUAN PEREZ" "--alias=-x" "--alias=DEMASIADO_LARGO_16" "--buzon=$work/a b" "--buzon=relativo" \
    "--buzon=$work/ajena" "--buzon=$work/abierta/dentro/buzon" "--buzon=/tmp/velrisa-buzon-$$"; do
    run --sin-reiniciar "$option" && fail "accepted: $option"
    [ "$(snapshot)" = "$before" ] || fail "$option changed the files"
done
[ "$(stat -c '%U %a' "$work/ajena")" = "root 700" ] || fail "a folder it did not make was taken over"
[ ! -e "/tmp/velrisa-buzon-$$" ] || fail "a mailbox was made under /tmp"
grep -q "otros usuarios pueden cambiar" "$work/salida" || fail "no reason for a mailbox under /tmp: $(cat "$work/salida")"

echo "== an alias with a user is that user's alone"
run --sin-reiniciar --alias=JUAN --alias=MARIA --alias=Pepe:daemon || fail "alias with a user failed: $(cat "$work/salida")"
[ "$(param "netbios aliases")" = "JUAN MARIA Pepe" ] || fail "netbios aliases: $(param "netbios aliases")"
[ "$(grep -v '^#' "$work/samba/velrisa-usuarios")" = "pepe daemon" ] ||
    fail "user list: $(cat "$work/samba/velrisa-usuarios")"
[ "$(stat -c '%U %a' "$work/samba/velrisa-usuarios")" = "root 644" ] || fail "the user list is not root's alone"
[ "$(stat -c '%U %G %a' "$work/buzon/daemon")" = "daemon nogroup 2770" ] ||
    fail "daemon's folder: $(stat -c '%U %G %a' "$work/buzon/daemon")"
run --sin-reiniciar --alias=Pepe:nadie-velrisa && fail "accepted a user that does not exist"
run --sin-reiniciar --alias=Pepe:daemon --alias=PEPE:root && fail "accepted one alias for two users"
# --usuarios: a person of the computer (uid 1000 and up, a home folder) gets their login name.
person=vru$$
if useradd -M -N -d "$work/casa" -s /usr/sbin/nologin "$person" 2>/dev/null; then
    trap 'userdel "$person" 2>/dev/null; rm -rf "$work"' EXIT
    mkdir -p "$work/casa"
    run --sin-reiniciar --alias=JUAN --alias=MARIA --usuarios || fail "--usuarios failed: $(cat "$work/salida")"
    grep -q -x "$person $person" "$work/samba/velrisa-usuarios" ||
        fail "--usuarios did not list $person: $(cat "$work/samba/velrisa-usuarios")"
    [[ " $(param "netbios aliases") " == *" $person "* ]] || fail "netbios aliases: $(param "netbios aliases")"
    [ "$(stat -c '%U %G %a' "$work/buzon/$person")" = "$person nogroup 2770" ] ||
        fail "$person's folder: $(stat -c '%U %G %a' "$work/buzon/$person" 2>&1)"
    run --sin-reiniciar --alias=JUAN --alias=MARIA || fail "back to no --usuarios failed: $(cat "$work/salida")"
    userdel "$person"
fi

# An include in a share that brings its own [global]: ours would not be what Samba uses.
other_conf=$work/otra.conf
printf '[global]\n   workgroup = OFICINA\n\n[compartida]\n   include = %s/extra.conf\n' "$work" >"$other_conf"
printf '[global]\n   message command = /bin/true\n' >"$work/extra.conf"
cp "$other_conf" "$work/otra.original"
PATH="$work/bin:$PATH" "$script" --configuracion="$other_conf" --buzon="$work/buzon2" --receptor="$receiver" \
    --estado="$work/estado2" --sin-reiniciar >"$work/salida" 2>&1 && fail "an overridden message command was accepted"
grep -q "message command" "$work/salida" || fail "no reason given: $(cat "$work/salida")"
cmp -s "$other_conf" "$work/otra.original" || fail "the refused configuration was not restored: $(cat "$other_conf")"
[ ! -e "$work/velrisa.conf" ] && [ ! -e "$work/buzon2" ] || fail "the refused set-up left its files"

echo "== --desinstalar gives everything back and removes only what it wrote"
touch "$work/buzon/m1767225600.000000001.1" "$work/buzon/.m1767225600.000000002.2" "$work/buzon/ajeno.txt"
run --desinstalar --sin-reiniciar || fail "--desinstalar failed: $(cat "$work/salida")"
cmp -s "$conf" "$work/original.conf" || fail "smb.conf differs from the original: $(diff "$work/original.conf" "$conf")"
[ ! -e "$work/samba/velrisa.conf" ] || fail "velrisa.conf is still there"
[ ! -e "$work/samba/velrisa-usuarios" ] || fail "velrisa-usuarios is still there"
[ "$(ls -A "$work/buzon" 2>/dev/null | grep -v '^\.velrisa')" = ajeno.txt ] ||
    fail "the mailbox should hold only the foreign file: $(ls -A "$work/buzon" 2>&1)"
grep -q "ajeno.txt" "$work/salida" || fail "the kept folder is not reported: $(cat "$work/salida")"
rm "$work/buzon/ajeno.txt"
run --desinstalar --sin-reiniciar || fail "the second --desinstalar failed: $(cat "$work/salida")"
[ ! -e "$work/buzon" ] || fail "the mailbox is still there"
[ ! -e "$state_dir" ] || fail "the state folder is still there: $(ls -A "$state_dir")"

echo "== changes made after the set-up survive --desinstalar"
run --sin-reiniciar || fail "set-up failed: $(cat "$work/salida")"
printf '\n[nueva]\n   path = /srv\n' >>"$conf"
cp "$work/original.conf" "$work/esperado.conf"
printf '\n[nueva]\n   path = /srv\n' >>"$work/esperado.conf"
run --desinstalar --sin-reiniciar || fail "--desinstalar failed: $(cat "$work/salida")"
cmp -s "$conf" "$work/esperado.conf" || fail "a later change was lost: $(diff "$work/esperado.conf" "$conf")"

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "PASS"
