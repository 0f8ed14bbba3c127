#!/bin/sh
# Sends every *.enviado of this folder with Samba's own `smbclient -M` to a private smbd on
# loopback and keeps, as *.recibido, the file smbd hands its message command. Needs root
# (port 139) and samba + smbclient. Usage: capturar.sh [ADDRESS, default 127.0.0.171]
set -eu
aqui=$(cd "$(dirname "$0")" && pwd)
ip=${1:-127.0.0.171}
dir=$(mktemp -d)
chmod 755 "$dir"
for d in state lock cache private pid ncalrpc cliente spool; do mkdir "$dir/$d"; done
chmod 1777 "$dir/spool"
cat > "$dir/smb.conf" <<CONF
[global]
netbios name = CAPTURA
server min protocol = NT1
smb ports = 139
interfaces = $ip/8
bind interfaces only = yes
state directory = $dir/state
lock directory = $dir/lock
cache directory = $dir/cache
private dir = $dir/private
pid directory = $dir/pid
ncalrpc dir = $dir/ncalrpc
message command = /bin/sh -c 'cat %s > $dir/spool/mensaje; rm -f %s'
CONF
cat > "$dir/cliente.conf" <<CONF
[global]
interfaces = lo
bind interfaces only = yes
name resolve order = bcast
state directory = $dir/cliente
lock directory = $dir/cliente
cache directory = $dir/cliente
private dir = $dir/cliente
pid directory = $dir/cliente
CONF
smbd -F --debug-stdout -s "$dir/smb.conf" > "$dir/smbd.log" 2>&1 &
smbd_pid=$!
trap 'kill $smbd_pid; wait $smbd_pid || true; rm -rf "$dir"' EXIT
sleep 1
for enviado in "$aqui"/*.enviado; do
    rm -f "$dir/spool/mensaje"
    smbclient -s "$dir/cliente.conf" -M CAPTURA -I "$ip" -p 139 -N -U juan < "$enviado" > "$dir/salida" || cat "$dir/salida" >&2
    n=0; while [ ! -e "$dir/spool/mensaje" ] && [ $n -lt 50 ]; do sleep 0.1; n=$((n + 1)); done
    cp "$dir/spool/mensaje" "${enviado%.enviado}.recibido"
done
