#!/usr/bin/env bash
# Sets this computer up to receive Velrisa's (and any `net send`) pop-up messages through
# Samba, or undoes it with --desinstalar. Runs as root; --ayuda lists the options.
#
# It installs samba when missing; makes the mailbox (owned by Samba's guest account, mode
# 0755, marked as ours by a root-owned file inside); writes velrisa.conf beside smb.conf and
# includes it after the last option of [global]; restarts smbd and nmbd when something
# changed. What undoing needs (smb.conf as it was, the mailboxes made, a copy of this script
# for the package's removal scripts) is kept in the state folder until --desinstalar.
set -euo pipefail
umask 022

configuracion=/etc/samba/smb.conf
configuracion_dada=0
buzon=/var/spool/velrisa
buzon_dado=0
receptor=
estado=/var/lib/velrisa
reiniciar=1
recargar=0
desinstalar=0
conservar_buzon=0
alias_=()

ayuda() {
    cat <<'EOF'
Uso: recepcion.sh [OPCIÓN]...
Prepara este equipo para recibir mensajes emergentes a través de Samba (o lo deshace).
Hay que ejecutarlo como root.

  --alias=NOMBRE           otro nombre NetBIOS al que responde este equipo (repetible)
  --buzon=CARPETA          carpeta de los mensajes recibidos (/var/spool/velrisa)
  --receptor=RUTA          el velrisa-recibe que ejecuta Samba (el de junto a este archivo)
  --configuracion=ARCHIVO  configuración de Samba (/etc/samba/smb.conf)
  --estado=CARPETA         donde se guarda lo necesario para deshacerlo (/var/lib/velrisa)
  --sin-reiniciar          no reinicia Samba: el cambio surte efecto cuando se reinicie
  --desinstalar            deshace la configuración y borra el buzón que se creó
  --conservar-buzon        con --desinstalar, deja el buzón y sus mensajes
  --recargar               con --desinstalar, pide a smbd y nmbd que relean la
                           configuración si están en marcha, en vez de reiniciarlos
  --ayuda, --help          muestra esta ayuda
EOF
}

fallo() {
    echo "recepcion.sh: $*" >&2
    exit 1
}

for arg in "$@"; do
    case $arg in
    --configuracion=*) configuracion=${arg#*=} configuracion_dada=1 ;;
    --buzon=*) buzon=${arg#*=} buzon_dado=1 ;;
    --receptor=*) receptor=${arg#*=} ;;
    --estado=*) estado=${arg#*=} ;;
    --alias=*) alias_+=("${arg#*=}") ;;
    --sin-reiniciar) reiniciar=0 ;;
    --recargar) recargar=1 ;;
    --desinstalar) desinstalar=1 ;;
    --conservar-buzon) conservar_buzon=1 ;;
    --ayuda | --help)
        ayuda
        exit 0
        ;;
    *)
        echo "recepcion.sh: opción desconocida: $arg" >&2
        ayuda >&2
        exit 2
        ;;
    esac
done

[ "$(id -u)" -eq 0 ] || fallo "hay que ejecutarlo como root"

# Paths and names end up in smb.conf and in the command smbd runs: nothing that the
# shell or the configuration parser would read as more than one plain word.
ruta_segura() { [[ $1 == /* && $1 =~ ^[A-Za-z0-9/._+-]+$ ]]; }
ruta_segura "$buzon" || fallo "el buzón debe ser una ruta absoluta de letras, cifras y / . _ + -: $buzon"
ruta_segura "$estado" || fallo "la carpeta de estado debe ser una ruta absoluta de letras, cifras y / . _ + -: $estado"
for nombre in "${alias_[@]}"; do
    [[ $nombre =~ ^[A-Za-z0-9_][A-Za-z0-9_.-]{0,14}$ ]] \
        || fallo "alias no válido: de 1 a 15 letras, cifras, _ . o -, sin empezar por . o -: $nombre"
done

# What undoing needs, in the state folder.
estado_conf=$estado/configuracion     # the smb.conf that was set up
estado_antes=$estado/smb.conf.antes   # its bytes before the set-up
estado_despues=$estado/smb.conf.despues # its bytes as the set-up left them
estado_buzones=$estado/buzones        # the mailboxes this script made, one a line
estado_script=$estado/recepcion.sh    # this script, for undoing once the package is gone

# With --desinstalar and no --configuracion, the configuration that was set up; none when the
# state says that only mailboxes are left (the package removed, not yet purged).
samba=1
if [ "$desinstalar" -eq 1 ] && [ "$configuracion_dada" -eq 0 ]; then
    if [ -s "$estado_conf" ]; then
        configuracion=$(head -n 1 -- "$estado_conf")
    elif [ -d "$estado" ]; then
        samba=0
    fi
fi

# The file itself, where smb.conf is a link to it.
smbconf=$(readlink -f -- "$configuracion")
# Undoing goes on where Samba's configuration has gone already (Samba purged first).
[ -f "$smbconf" ] || [ "$desinstalar" -eq 1 ] || fallo "no existe la configuración de Samba $configuracion"
nuestro=$(dirname -- "$smbconf")/velrisa.conf
inclusion="include = $nuestro"
cabecera="# Receiving Velrisa's messages: written by recepcion.sh, undone by recepcion.sh --desinstalar."
# The root-owned file that marks a mailbox as made by this script.
marca=.velrisa-recepcion
# Names of the records velrisa-recibe writes (its temporary files: the same after a ".").
registro_re='\.?m[0-9]{10}\.[0-9]{9}\.[0-9]{1,10}'

trabajo=$(mktemp -d)
trap 'rm -rf -- "$trabajo"' EXIT
cambios=0

# Writes stdin over the file only when it differs, keeping its owner and modes; counts a change.
reemplazar() {
    local destino=$1 temporal
    temporal=$(mktemp "$destino.XXXXXX")
    cat >"$temporal"
    if [ -f "$destino" ] && cmp -s "$temporal" "$destino"; then
        rm -f -- "$temporal"
        return
    fi
    if [ -f "$destino" ]; then
        chmod --reference="$destino" "$temporal" && chown --reference="$destino" "$temporal"
    else
        chmod 0644 "$temporal"
    fi
    mv -f -- "$temporal" "$destino"
    cambios=1
}

# smb.conf without our include line.
sin_inclusion() {
    grep -v -x -F -e "$inclusion" -- "$smbconf" || true
}

# smb.conf with our include line right after the last option of the last [global] section
# (settings after it would override ours; comments and blank lines that open the next
# section stay with it), adding a [global] section where there is none.
con_inclusion() {
    sin_inclusion >"$trabajo/sin"
    awk -v linea="$inclusion" '
        function seccion(l) { return l ~ /^[ \t]*\[/ }
        function global(l) { return tolower(l) ~ /^[ \t]*\[[ \t]*global[ \t]*\]/ }
        function opcion(l) { return l !~ /^[ \t]*$/ && l !~ /^[ \t]*[#;]/ }
        NR == FNR {
            if (seccion($0)) { en_global = global($0); if (en_global) tras = FNR }
            else if (en_global && opcion($0)) tras = FNR
            next
        }
        { print; if (FNR == tras) print linea }
        END { if (!tras) { print "[global]"; print linea } }' "$trabajo/sin" "$trabajo/sin"
}

# The parameter as Samba reads the whole configuration.
efectivo() { testparm -s --parameter-name="$1" "$smbconf" 2>/dev/null || true; }

# Makes Samba take the change: a restart (for new NetBIOS aliases too), or with --recargar a
# reload of the daemons of this configuration that are running, and nothing when none is.
aplicar() {
    local servicio
    [ "$cambios" -eq 1 ] || return 0
    if [ "$recargar" -eq 1 ]; then
        for servicio in smbd nmbd; do
            smbcontrol -s "$smbconf" "$servicio" reload-config >/dev/null 2>&1 || true
        done
        return 0
    fi
    if [ "$reiniciar" -eq 0 ]; then
        echo "Samba no se ha reiniciado (--sin-reiniciar): el cambio surte efecto cuando se reinicien smbd y nmbd."
        return 0
    fi
    for servicio in smbd nmbd; do
        if [ -d /run/systemd/system ]; then
            systemctl restart "$servicio" || echo "recepcion.sh: no se pudo reiniciar $servicio" >&2
        else
            service "$servicio" restart || echo "recepcion.sh: no se pudo reiniciar $servicio" >&2
        fi
    done
}

# A mailbox is ours when it holds our root-owned mark.
buzon_nuestro() {
    [ -d "$1" ] && [ ! -L "$1" ] && [ -f "$1/$marca" ] && [ ! -L "$1/$marca" ] && [ "$(stat -c %u -- "$1/$marca")" = 0 ]
}

# Nobody but root may change any folder above the mailbox (nor the mailbox itself, when it is
# there already), else another user could swap it for a folder or link of theirs.
carpetas_seguras() {
    local ruta=$1 real prefijo
    real=$(readlink -m -- "$ruta")
    for prefijo in "$ruta" "$real"; do
        prefijo=$(dirname -- "$prefijo")
        while :; do
            if [ -e "$prefijo" ]; then
                local dueno modo
                read -r dueno modo < <(stat -L -c '%u %a' -- "$prefijo")
                if [ "$dueno" != 0 ] || [ $((8#$modo & 8#022)) -ne 0 ]; then
                    fallo "el buzón $ruta está dentro de $prefijo, que otros usuarios pueden cambiar (debe ser de root y sin escritura para el grupo ni los demás): elija otra carpeta"
                fi
            fi
            [ "$prefijo" = / ] && break
            prefijo=$(dirname -- "$prefijo")
        done
    done
}

# Removes a mailbox this script made: the records velrisa-recibe wrote, then the folder.
# Anything else in it stays, and so does the folder, with a word about it.
borrar_buzon() {
    local b=$1 ajenos
    [ -e "$b" ] || return 0
    if ! buzon_nuestro "$b"; then
        echo "recepcion.sh: $b no lo creó recepcion.sh: se deja como está." >&2
        return 1
    fi
    find "$b" -mindepth 1 -maxdepth 1 -type f -regextype posix-extended -regex ".*/$registro_re" -delete
    ajenos=$(find "$b" -mindepth 1 -maxdepth 1 ! -name "$marca" -printf '%f ' | head -c 300)
    if [ -n "$ajenos" ]; then
        echo "recepcion.sh: el buzón $b guarda archivos que no escribió velrisa-recibe ($ajenos): se deja la carpeta con ellos." >&2
        return 1
    fi
    rm -f -- "$b/$marca"
    rmdir -- "$b"
}

if [ "$desinstalar" -eq 1 ]; then
    # smb.conf exactly as before when nobody changed it since, else only without our line.
    if [ "$samba" -eq 0 ] || [ ! -f "$smbconf" ]; then
        :
    elif [ -s "$estado_conf" ] && [ "$(head -n 1 -- "$estado_conf")" = "$smbconf" ] && [ -f "$estado_antes" ] \
        && cmp -s "$estado_despues" "$smbconf"; then
        reemplazar "$smbconf" <"$estado_antes"
    elif grep -q -x -F -e "$inclusion" -- "$smbconf"; then
        reemplazar "$smbconf" < <(sin_inclusion)
        echo "recepcion.sh: $smbconf cambió después de configurar la recepción: solo se quita la línea «$inclusion»." >&2
    fi
    if [ "$samba" -eq 1 ] && [ -f "$nuestro" ] && [ "$(head -n 1 -- "$nuestro")" = "$cabecera" ]; then
        rm -f -- "$nuestro"
        cambios=1
    fi
    if [ "$(head -n 1 -- "$estado_conf" 2>/dev/null)" = "$smbconf" ]; then
        rm -f -- "$estado_conf" "$estado_antes" "$estado_despues"
    fi

    quedan=()
    if [ "$conservar_buzon" -eq 0 ]; then
        buzones=()
        if [ "$buzon_dado" -eq 1 ]; then
            buzones=("$buzon")
        elif [ -s "$estado_buzones" ]; then
            mapfile -t buzones <"$estado_buzones"
        else
            buzones=("$buzon")
        fi
        # Every user's own history keeps the messages that were shown.
        for b in "${buzones[@]}"; do
            borrar_buzon "$b" || quedan+=("$b")
        done
        # The state keeps the mailboxes that are still there.
        if [ -f "$estado_buzones" ]; then
            : >"$trabajo/buzones"
            while IFS= read -r b; do
                if printf '%s\n' "${quedan[@]}" | grep -q -x -F -e "$b" \
                    || ! printf '%s\n' "${buzones[@]}" | grep -q -x -F -e "$b"; then
                    echo "$b" >>"$trabajo/buzones"
                fi
            done <"$estado_buzones"
            if [ -s "$trabajo/buzones" ]; then
                cat -- "$trabajo/buzones" >"$estado_buzones"
            else
                rm -f -- "$estado_buzones"
            fi
        fi
    fi
    if [ ! -e "$estado_buzones" ]; then
        rm -f -- "$estado_script"
        rmdir -- "$estado" 2>/dev/null || true
    fi
    aplicar
    if [ "$samba" -eq 1 ]; then
        echo "La recepción de mensajes está desinstalada: $smbconf ya no incluye $nuestro."
    fi
    if [ "$conservar_buzon" -eq 1 ]; then
        echo "El buzón se conserva con sus mensajes."
    elif [ ${#quedan[@]} -eq 0 ]; then
        echo "El buzón no existe."
    fi
    [ "$samba" -eq 0 ] || echo "Samba sigue instalado; SMB1 queda como lo tenga el resto de su configuración."
    exit 0
fi

# Another configuration set up from the same state folder is undone first.
if [ -s "$estado_conf" ]; then
    anterior=$(head -n 1 -- "$estado_conf")
    if [ "$anterior" != "$smbconf" ] && [ -f "$anterior" ] \
        && grep -q -x -F -e "include = $(dirname -- "$anterior")/velrisa.conf" -- "$anterior"; then
        fallo "la recepción ya está configurada en $anterior: deshágala antes con --desinstalar --configuracion=$anterior"
    fi
fi

carpetas_seguras "$buzon"
if [ -L "$buzon" ] || { [ -e "$buzon" ] && [ ! -d "$buzon" ]; }; then
    fallo "$buzon existe y no es una carpeta"
fi
if [ -e "$buzon" ] && ! buzon_nuestro "$buzon"; then
    fallo "la carpeta $buzon ya existe y no la creó recepcion.sh: no se toca; elija otro --buzon o bórrela usted"
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
invitado=$(efectivo "guest account")
invitado=${invitado:-nobody}
id -u "$invitado" >/dev/null 2>&1 || fallo "la cuenta de invitado de Samba no existe: $invitado"
grupo=$(id -gn "$invitado")

# The state first: a set-up is never left without what undoing it needs.
install -d -m 0755 -- "$estado"
creado=0
if [ ! -e "$buzon" ]; then
    creado=1
    install -d -o "$invitado" -g "$grupo" -m 0755 -- "$buzon"
    echo "Buzón de Velrisa, creado por recepcion.sh; recepcion.sh --desinstalar lo borra." >"$buzon/$marca"
    cambios=1
elif [ "$(stat -c '%U %G %a' -- "$buzon")" != "$invitado $grupo 755" ]; then
    chown "$invitado:$grupo" -- "$buzon"
    chmod 0755 -- "$buzon"
    cambios=1
fi
grep -q -x -F -e "$buzon" -- "$estado_buzones" 2>/dev/null || echo "$buzon" >>"$estado_buzones"
runuser -u "$invitado" -- test -x "$receptor" -a -w "$buzon" \
    || fallo "la cuenta $invitado no puede ejecutar $receptor o escribir en $buzon (¿alguna carpeta por encima cerrada?)"
[ "$(readlink -f -- "$0")" = "$(readlink -f -- "$estado_script")" ] || install -m 0755 -- "$0" "$estado_script"

# What was there before, for undoing: kept from the first set-up while smb.conf stays as the
# set-up left it; after someone else's changes, those changes are kept too.
cp -p -- "$smbconf" "$trabajo/previo"
if ! grep -q -x -F -e "$inclusion" -- "$smbconf"; then
    cp -- "$smbconf" "$estado_antes"
    echo "$smbconf" >"$estado_conf"
elif [ "$(head -n 1 -- "$estado_conf" 2>/dev/null)" != "$smbconf" ] || [ ! -f "$estado_antes" ] \
    || ! cmp -s "$smbconf" "$estado_despues"; then
    sin_inclusion >"$estado_antes"
    echo "$smbconf" >"$estado_conf"
fi
[ -f "$nuestro" ] && cp -p -- "$nuestro" "$trabajo/nuestro_previo"

# (Not in a pipeline: reemplazar counts the change in this shell.)
reemplazar "$nuestro" < <(
    echo "$cabecera"
    echo "# Messenger packets come before any protocol negotiation: they need SMB1."
    echo "server min protocol = NT1"
    echo "message command = $receptor --buzon=$buzon '%f' '%L' '%s'"
    [ ${#alias_[@]} -eq 0 ] || echo "netbios aliases = ${alias_[*]}"
)
reemplazar "$smbconf" < <(con_inclusion)

# What Samba will use, read back from the whole configuration: something later in it (a
# [global] brought in by an include further down) may still override ours.
mandato="$receptor --buzon=$buzon '%f' '%L' '%s'"
motivo=
if ! testparm -s "$smbconf" >"$trabajo/testparm" 2>&1; then
    motivo="testparm rechaza la configuración resultante: $(grep -m 3 -i -E 'error|unknown|invalid' "$trabajo/testparm" | tr '\n' ' ')"
elif [ "$(efectivo "message command")" != "$mandato" ]; then
    motivo="otra parte de la configuración decide el «message command»: queda «$(efectivo "message command")»"
elif ! [[ $(efectivo "server min protocol") =~ ^(CORE|COREPLUS|LANMAN1|LANMAN2|NT1)$ ]]; then
    motivo="otra parte de la configuración decide el protocolo mínimo: queda «server min protocol = $(efectivo "server min protocol")» y los mensajes necesitan NT1"
elif [ ${#alias_[@]} -gt 0 ] && [ "$(efectivo "netbios aliases")" != "${alias_[*]}" ]; then
    motivo="otra parte de la configuración decide los alias: quedan «$(efectivo "netbios aliases")»"
fi
if [ -n "$motivo" ]; then
    reemplazar "$smbconf" <"$trabajo/previo"
    if [ -f "$trabajo/nuestro_previo" ]; then
        reemplazar "$nuestro" <"$trabajo/nuestro_previo"
    else
        rm -f -- "$nuestro"
    fi
    if [ "$creado" -eq 1 ]; then
        rm -f -- "$buzon/$marca"
        rmdir -- "$buzon"
        grep -v -x -F -e "$buzon" -- "$estado_buzones" >"$trabajo/buzones" || true
        cat -- "$trabajo/buzones" >"$estado_buzones"
    fi
    fallo "$motivo. $smbconf queda como estaba."
fi
cmp -s "$smbconf" "$estado_despues" 2>/dev/null || cp -- "$smbconf" "$estado_despues"
aplicar

if [ "$cambios" -eq 0 ]; then
    echo "Nada que cambiar: este equipo ya estaba preparado para recibir mensajes en $buzon."
    exit 0
fi
if [ "$reiniciar" -eq 1 ]; then
    echo "Este equipo ya recibe mensajes: smbd entrega cada uno a $receptor, que lo deja en $buzon,"
else
    echo "Cuando se reinicie Samba, smbd entregará cada mensaje a $receptor, que lo dejará en $buzon,"
fi
cat <<EOF
y Velrisa se lo muestra a cada usuario que lo tenga abierto (o al abrirlo). Para ello el
Samba de este equipo acepta ahora SMB1 (server min protocol = NT1), porque los mensajes
emergentes solo existen en esa versión antigua del protocolo, que no tiene las defensas de
SMB2 y SMB3 (firma y cifrado exigibles, protección frente a ataques conocidos). Vale para
todo el Samba del equipo, también para sus carpetas compartidas: en una red de confianza
es lo habitual; si este equipo comparte datos delicados, sepárelos de él o deshaga esto
con --desinstalar.
EOF
