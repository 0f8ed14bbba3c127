#!/usr/bin/env bash
# Sets this computer up to receive Velrisa's (and any `net send`) pop-up messages through
# Samba, or undoes it with --desinstalar. Runs as root.
#
#   recepcion.sh [--alias=NAME[:USER]]... [--usuarios] [--buzon=FOLDER] [--receptor=PATH]
#                [--configuracion=SMB.CONF] [--sin-reiniciar] [--desinstalar]
#
# An alias with a user is that person's alone: its messages go into the user's own folder of
# the mailbox. --usuarios gives every person of the computer (login uid 1000 and up, with a
# home folder) an alias of their own login name.
# It installs samba when missing; makes the mailbox (owned by Samba's guest account, mode
# 0755); writes velrisa.conf beside smb.conf and includes it as the last line of [global];
# restarts smbd and nmbd (not with --sin-reiniciar). Running it twice changes nothing more.
set -euo pipefail

configuracion=/etc/samba/smb.conf
buzon=/var/spool/velrisa
receptor=
reiniciar=1
desinstalar=0
alias_=()
usuarios=0

fallo() {
    echo "recepcion.sh: $*" >&2
    exit 1
}

for arg in "$@"; do
    case $arg in
    --configuracion=*) configuracion=${arg#*=} ;;
    --buzon=*) buzon=${arg#*=} ;;
    --receptor=*) receptor=${arg#*=} ;;
    --alias=*) alias_+=("${arg#*=}") ;;
    --usuarios) usuarios=1 ;;
    --sin-reiniciar) reiniciar=0 ;;
    --desinstalar) desinstalar=1 ;;
    *) fallo "opción desconocida: $arg (las opciones están al principio de este archivo)" ;;
    esac
done

[ "$(id -u)" -eq 0 ] || fallo "hay que ejecutarlo como root"

# Paths and names end up in smb.conf and in the command smbd runs: nothing that the
# shell or the configuration parser would read as more than one plain word.
ruta_segura() { [[ $1 == /* && $1 =~ ^[A-Za-z0-9/._+-]+$ ]]; }
ruta_segura "$buzon" || fallo "el buzón debe ser una ruta absoluta de letras, cifras y / . _ + -: $buzon"
es_nombre() { [[ $1 =~ ^[A-Za-z0-9_][A-Za-z0-9_.-]{0,14}$ ]]; }
# NAME -> USER of the names that are one person's (the rest reach every user).
declare -A dueno_=()
nombres_=()
for entrada in "${alias_[@]}"; do
    nombre=${entrada%%:*}
    es_nombre "$nombre" \
        || fallo "alias no válido: de 1 a 15 letras, cifras, _ . o -, sin empezar por . o -: $nombre"
    if [[ $entrada == *:* ]]; then
        usuario=${entrada#*:}
        [[ $usuario =~ ^[A-Za-z0-9_][A-Za-z0-9_.$-]{0,31}$ ]] && id -u -- "$usuario" >/dev/null 2>&1 \
            || fallo "el usuario del alias $nombre no existe: $usuario"
        clave=${nombre,,}
        [ -z "${dueno_[$clave]:-}" ] || [ "${dueno_[$clave]}" = "$usuario" ] \
            || fallo "el alias $nombre no puede ser de dos usuarios"
        dueno_[$clave]=$usuario
    fi
    nombres_+=("$nombre")
done
if [ "$usuarios" -eq 1 ]; then
    while IFS=: read -r usuario _ uid _ _ casa _; do
        [ "$uid" -ge 1000 ] && [ "$uid" -ne 65534 ] && [ -d "$casa" ] || continue
        if ! es_nombre "$usuario"; then
            echo "recepcion.sh: $usuario no puede ser un nombre NetBIOS (hasta 15 letras, cifras, _ . o -): no recibe mensajes propios" >&2
            continue
        fi
        clave=${usuario,,}
        [ -n "${dueno_[$clave]:-}" ] && continue
        dueno_[$clave]=$usuario
        nombres_+=("$usuario")
    done < <(getent passwd)
fi

# The file itself, where smb.conf is a link to it.
smbconf=$(readlink -f -- "$configuracion")
[ -f "$smbconf" ] || fallo "no existe la configuración de Samba $configuracion"
nuestro=$(dirname -- "$smbconf")/velrisa.conf
# Which names are one person's: root's alone, read by velrisa-recibe at each message.
mapa=$(dirname -- "$smbconf")/velrisa-usuarios
inclusion="include = $nuestro"

# Writes stdin over the file only when it differs, keeping its owner and modes.
reemplazar() {
    local destino=$1 temporal
    temporal=$(mktemp "$destino.XXXXXX")
    cat >"$temporal"
    if [ -f "$destino" ] && cmp -s "$temporal" "$destino"; then
        rm -f -- "$temporal"
        return
    fi
    [ -f "$destino" ] && chmod --reference="$destino" "$temporal" && chown --reference="$destino" "$temporal"
    [ -f "$destino" ] || chmod 0644 "$temporal"
    mv -f -- "$temporal" "$destino"
}

# smb.conf without our include line.
sin_inclusion() {
    grep -v -x -F -e "$inclusion" -- "$smbconf" || true
}

# smb.conf with our include line as the last line of [global] (settings further down in
# [global] would override ours), adding a [global] section where there is none.
con_inclusion() {
    sin_inclusion | awk -v linea="$inclusion" '
        function seccion(l) { return l ~ /^[ \t]*\[/ }
        BEGIN { en_global = 0; hecho = 0; blancos = "" }
        {
            if (seccion($0)) {
                if (en_global && !hecho) { print linea; hecho = 1 }
                printf "%s", blancos; blancos = ""
                en_global = tolower($0) ~ /^[ \t]*\[global\]/
                print; next
            }
            # Blank lines before the next section stay after the inserted line.
            if ($0 ~ /^[ \t]*$/) { blancos = blancos $0 "\n"; next }
            printf "%s", blancos; blancos = ""
            print
        }
        END {
            if (en_global && !hecho) { print linea; hecho = 1 }
            printf "%s", blancos
            if (!hecho) { print "[global]"; print linea }
        }'
}

reiniciar_samba() {
    [ "$reiniciar" -eq 1 ] || return 0
    local servicio
    for servicio in smbd nmbd; do
        if [ -d /run/systemd/system ]; then
            systemctl restart "$servicio" || echo "recepcion.sh: no se pudo reiniciar $servicio" >&2
        else
            service "$servicio" restart || echo "recepcion.sh: no se pudo reiniciar $servicio" >&2
        fi
    done
}

if [ "$desinstalar" -eq 1 ]; then
    sin_inclusion | reemplazar "$smbconf"
    rm -f -- "$nuestro" "$mapa"
    # Every user's own history keeps the messages that were shown.
    if [ -d "$buzon" ] && [ ! -L "$buzon" ]; then
        rm -rf -- "$buzon"
    fi
    reiniciar_samba
    echo "La recepción de mensajes está desinstalada: smb.conf ya no incluye $nuestro y el buzón $buzon no existe."
    echo "Samba sigue instalado; SMB1 queda como lo tenga el resto de su configuración."
    exit 0
fi

if ! command -v smbd >/dev/null && [ ! -x /usr/sbin/smbd ]; then
    echo "Instalando samba..."
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq samba >/dev/null
fi

# The receiver beside this script (an installed program's folder, a build folder) comes first.
if [ -z "$receptor" ]; then
    for candidato in "$(dirname -- "$(readlink -f -- "$0")")/velrisa-recibe" /usr/lib/velrisa/velrisa-recibe \
        /usr/local/lib/velrisa/velrisa-recibe; do
        [ -x "$candidato" ] && receptor=$candidato && break
    done
    [ -n "$receptor" ] || fallo "no se encuentra velrisa-recibe: indíquelo con --receptor=RUTA"
fi
receptor=$(readlink -f -- "$receptor")
[ -f "$receptor" ] && [ -x "$receptor" ] || fallo "no es un programa: $receptor"
ruta_segura "$receptor" || fallo "la ruta de velrisa-recibe debe ser de letras, cifras y / . _ + -: $receptor"

# smbd runs the message command as its guest account: the mailbox is that account's.
invitado=$(testparm -s --parameter-name="guest account" "$smbconf" 2>/dev/null || true)
invitado=${invitado:-nobody}
id -u "$invitado" >/dev/null 2>&1 || fallo "la cuenta de invitado de Samba no existe: $invitado"
grupo=$(id -gn "$invitado")
if [ -L "$buzon" ] || { [ -e "$buzon" ] && [ ! -d "$buzon" ]; }; then
    fallo "$buzon existe y no es una carpeta"
fi
install -d -o "$invitado" -g "$grupo" -m 0755 -- "$buzon"
runuser -u "$invitado" -- test -x "$receptor" -a -w "$buzon" \
    || fallo "la cuenta $invitado no puede ejecutar $receptor o escribir en $buzon (¿alguna carpeta por encima cerrada?)"
# Each person's own folder: the user's, in the guest's group (setgid, so each record is too),
# 2770. The receiver writes and prunes there through the group and the user reads and deletes
# as its owner; nobody else can even list it. Records are 0644 so the user reads the guest's files.
declare -A hecho_=()
for usuario in "${dueno_[@]}"; do
    [ -z "${hecho_[$usuario]:-}" ] || continue
    hecho_[$usuario]=1
    propia=$buzon/$usuario
    if [ -L "$propia" ] || { [ -e "$propia" ] && [ ! -d "$propia" ]; }; then
        fallo "$propia existe y no es una carpeta"
    fi
    install -d -o "$usuario" -g "$grupo" -m 2770 -- "$propia"
    chown -- "$usuario:$grupo" "$propia"
    chmod 2770 -- "$propia"
done
{
    echo "# Names that are one person's, and whose: written by recepcion.sh."
    for clave in "${!dueno_[@]}"; do
        echo "$clave ${dueno_[$clave]}"
    done | sort
} | reemplazar "$mapa"
chown root:root -- "$mapa"
chmod 0644 -- "$mapa"

{
    echo "# Receiving Velrisa's messages: written by recepcion.sh, undone by recepcion.sh --desinstalar."
    echo "# Messenger packets come before any protocol negotiation: they need SMB1."
    echo "server min protocol = NT1"
    echo "message command = $receptor --buzon=$buzon --usuarios=$mapa '--equipo=%m' '--direccion=%I' '%f' '%L' '%s'"
    [ ${#nombres_[@]} -eq 0 ] || echo "netbios aliases = ${nombres_[*]}"
} | reemplazar "$nuestro"

original=$(mktemp)
cp -p -- "$smbconf" "$original"
con_inclusion | reemplazar "$smbconf"
if ! testparm -s "$smbconf" >/dev/null 2>&1; then
    cat -- "$original" >"$smbconf"
    rm -f -- "$original"
    fallo "testparm rechaza la configuración resultante; $smbconf queda como estaba"
fi
rm -f -- "$original"
reiniciar_samba

cat <<EOF
Este equipo ya recibe mensajes: smbd entrega cada uno a $receptor, que lo deja en $buzon,
y Velrisa se lo muestra a cada usuario que lo tenga abierto (o al abrirlo). Para ello el
Samba de este equipo acepta ahora SMB1 (server min protocol = NT1), porque los mensajes
emergentes solo existen en esa versión antigua del protocolo, que no tiene las defensas de
SMB2 y SMB3 (firma y cifrado exigibles, protección frente a ataques conocidos). Vale para
todo el Samba del equipo, también para sus carpetas compartidas: en una red de confianza
es lo habitual; si este equipo comparte datos delicados, sepárelos de él o deshaga esto
con --desinstalar.
EOF
