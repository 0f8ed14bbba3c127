#!/usr/bin/env bash
# scripts/recepcion.sh against a scratch Samba configuration, never the machine's: what it
# adds and where, that a second run changes nothing, that hostile options change nothing,
# and that --desinstalar gives the configuration back as it was.
# Usage: tst_recepcion.sh SCRIPT RECEPTOR   (exit 77: skipped)
set -u
script=${1:?usage: $0 SCRIPT RECEPTOR}
receptor=$(readlink -f -- "${2:?usage: $0 SCRIPT RECEPTOR}")
[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root (the mailbox goes to Samba's guest account)"; exit 77; }
command -v testparm >/dev/null || { echo "SKIP: testparm is not installed (package samba)"; exit 77; }

work=$(mktemp -d /tmp/velrisa-recepcion.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work" # the guest account reaches the mailbox
conf=$work/samba/smb.conf
mkdir -p "$work/samba"
# A [global] that would undo ours if our include came before its own lines.
cat >"$conf" <<'EOF2'
[global]
   workgroup = OFICINA
   server min protocol = SMB2_02

[compartida]
   path = /tmp
EOF2
cp "$conf" "$work/original.conf"

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
run() {
    "$script" --configuracion="$conf" --buzon="$work/buzon" --receptor="$receptor" --sin-reiniciar "$@" \
        >"$work/salida" 2>&1
}
param() { testparm -s --parameter-name="$1" "$conf" 2>/dev/null; }
snapshot() { cat "$conf" "$work/samba/velrisa.conf" 2>/dev/null; stat -c '%U %a' "$work/buzon" 2>/dev/null; }

echo "== set-up"
run --alias=JUAN --alias=MARIA || fail "set-up failed: $(cat "$work/salida")"
[ "$(param "message command")" = "$receptor --buzon=$work/buzon --usuarios=$work/samba/velrisa-usuarios '--equipo=%m' '--direccion=%I' '%f' '%L' '%s'" ] \
    || fail "message command: $(param "message command")"
[ "$(param "server min protocol")" = NT1 ] || fail "server min protocol: $(param "server min protocol")"
[ "$(param "netbios aliases")" = "JUAN MARIA" ] || fail "netbios aliases: $(param "netbios aliases")"
[ "$(grep -c '^include = ' "$conf")" -eq 1 ] || fail "expected one include line"
[ "$(grep -n '^include = ' "$conf" | cut -d: -f1)" -lt "$(grep -n '^\[compartida\]' "$conf" | cut -d: -f1)" ] \
    || fail "the include is not in [global]"
[ "$(stat -c '%U %a' "$work/buzon")" = "nobody 755" ] || fail "mailbox: $(stat -c '%U %a' "$work/buzon")"
grep -q SMB1 "$work/salida" || fail "no word about SMB1 in: $(cat "$work/salida")"

echo "== a second run changes nothing"
antes=$(snapshot)
run --alias=JUAN --alias=MARIA || fail "second run failed: $(cat "$work/salida")"
[ "$(snapshot)" = "$antes" ] || fail "the second run changed the files"

echo "== hostile options are refused before anything changes"
for opcion in "--alias=JUAN PEREZ" "--alias=-x" "--alias=DEMASIADO_LARGO_16" "--buzon=$work/a b" "--buzon=relativo"; do
    run "$opcion" && fail "accepted: $opcion"
    [ "$(snapshot)" = "$antes" ] || fail "$opcion changed the files"
done

echo "== an alias with a user is that user's alone"
run --alias=JUAN --alias=MARIA --alias=Pepe:daemon || fail "alias with a user failed: $(cat "$work/salida")"
[ "$(param "netbios aliases")" = "JUAN MARIA Pepe" ] || fail "netbios aliases: $(param "netbios aliases")"
[ "$(grep -v '^#' "$work/samba/velrisa-usuarios")" = "pepe daemon" ] \
    || fail "user list: $(cat "$work/samba/velrisa-usuarios")"
[ "$(stat -c '%U %a' "$work/samba/velrisa-usuarios")" = "root 644" ] || fail "user list is not root's alone"
[ "$(stat -c '%U %G %a' "$work/buzon/daemon")" = "daemon nogroup 2770" ] \
    || fail "daemon's folder: $(stat -c '%U %G %a' "$work/buzon/daemon")"
run --alias=Pepe:nadie-velrisa && fail "accepted a user that does not exist"
run --alias=Pepe:daemon --alias=PEPE:root && fail "accepted one alias for two users"

echo "== --desinstalar gives everything back"
touch "$work/buzon/m1767225600.000000001.1"
run --desinstalar || fail "--desinstalar failed: $(cat "$work/salida")"
cmp -s "$conf" "$work/original.conf" || fail "smb.conf differs from the original: $(diff "$work/original.conf" "$conf")"
[ ! -e "$work/samba/velrisa.conf" ] || fail "velrisa.conf is still there"
[ ! -e "$work/samba/velrisa-usuarios" ] || fail "velrisa-usuarios is still there"
[ ! -e "$work/buzon" ] || fail "the mailbox is still there"

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "PASS"
