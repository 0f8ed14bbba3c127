#!/usr/bin/env bash
# Sets this computer up to receive Velrisa's (and any `net send`) pop-up messages through
# Samba, or undoes it with --desinstalar. Runs as root; --ayuda lists the options.
#
# It installs samba when missing; makes the mailbox (owned by Samba's guest account, mode
# 0755, marked as ours by a root-owned file inside); writes velrisa.conf beside smb.conf and
# includes it after the last option of [global]; restarts smbd and nmbd when something
# changed. What undoing needs (smb.conf as it was, the mailboxes made, a copy of this script
# for the package's removal scripts) is kept in the state folder until --desinstalar.
#
# An alias with a user (--alias=NAME:USER) is that person's alone: its messages go into the
# user's own folder of the mailbox. --usuarios gives every person of the computer (login uid
# 1000 and up, with a home folder) an alias of their own login name.
set -euo pipefail
umask 022

config=/etc/samba/smb.conf
config_given=0
mailbox=/var/spool/velrisa
mailbox_given=0
receiver=
state=/var/lib/velrisa
restart=1
reload=0
uninstall=0
keep_mailbox=0
aliases=()
every_user=0

usage() {
    cat <<'EOF'
Uso: recepcion.sh [OPCIÓN]...
Prepara este equipo para recibir mensajes emergentes a través de Samba (o lo deshace).
Hay que ejecutarlo como root.

  --alias=NOMBRE           otro nombre NetBIOS al que responde este equipo (repetible);
                           sus mensajes llegan a todos los usuarios del equipo
  --alias=NOMBRE:USUARIO   un nombre que es solo de ese usuario: sus mensajes solo los ve él
  --usuarios               cada usuario del equipo (uid 1000 o más, con carpeta personal)
                           recibe los mensajes a su nombre de usuario, solo él
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

fail() {
    echo "recepcion.sh: $*" >&2
    exit 1
}

for arg in "$@"; do
    case $arg in
    --configuracion=*) config=${arg#*=} config_given=1 ;;
    --buzon=*) mailbox=${arg#*=} mailbox_given=1 ;;
    --receptor=*) receiver=${arg#*=} ;;
    --estado=*) state=${arg#*=} ;;
    --alias=*) aliases+=("${arg#*=}") ;;
    --usuarios) every_user=1 ;;
    --sin-reiniciar) restart=0 ;;
    --recargar) reload=1 ;;
    --desinstalar) uninstall=1 ;;
    --conservar-buzon) keep_mailbox=1 ;;
    --ayuda | --help)
        usage
        exit 0
        ;;
    *)
        echo "recepcion.sh: opción desconocida: $arg" >&2
        usage >&2
        exit 2
        ;;
    esac
done

[ "$(id -u)" -eq 0 ] || fail "hay que ejecutarlo como root"

# Paths and names end up in smb.conf and in the command smbd runs: nothing that the
# shell or the configuration parser would read as more than one plain word.
safe_path() { [[ $1 == /* && $1 =~ ^[A-Za-z0-9/._+-]+$ ]]; }
safe_path "$mailbox" || fail "el buzón debe ser una ruta absoluta de letras, cifras y / . _ + -: $mailbox"
safe_path "$state" || fail "la carpeta de estado debe ser una ruta absoluta de letras, cifras y / . _ + -: $state"
is_name() { [[ $1 =~ ^[A-Za-z0-9_][A-Za-z0-9_.-]{0,14}$ ]]; }
# NAME (lower case) -> USER of the names that are one person's; the rest reach every user.
declare -A owner_=()
names_=()
for entry in "${aliases[@]}"; do
    name=${entry%%:*}
    is_name "$name" \
        || fail "alias no válido: de 1 a 15 letras, cifras, _ . o -, sin empezar por . o -: $name"
    if [[ $entry == *:* ]]; then
        user=${entry#*:}
        [[ $user =~ ^[A-Za-z0-9_][A-Za-z0-9_.$-]{0,31}$ ]] && id -u -- "$user" >/dev/null 2>&1 \
            || fail "el usuario del alias $name no existe: $user"
        key=${name,,}
        [ -z "${owner_[$key]:-}" ] || [ "${owner_[$key]}" = "$user" ] \
            || fail "el alias $name no puede ser de dos usuarios"
        owner_[$key]=$user
    fi
    names_+=("$name")
done
if [ "$every_user" -eq 1 ]; then
    while IFS=: read -r user _ uid _ _ home _; do
        [ "$uid" -ge 1000 ] && [ "$uid" -ne 65534 ] && [ -d "$home" ] || continue
        if ! is_name "$user"; then
            echo "recepcion.sh: $user no vale como nombre NetBIOS (hasta 15 letras, cifras, _ . o -): no recibe mensajes propios" >&2
            continue
        fi
        key=${user,,}
        [ -n "${owner_[$key]:-}" ] && continue
        owner_[$key]=$user
        names_+=("$user")
    done < <(getent passwd)
fi

# What undoing needs, in the state folder.
state_conf=$state/configuracion       # the smb.conf that was set up
state_before=$state/smb.conf.antes     # its bytes before the set-up
state_after=$state/smb.conf.despues    # its bytes as the set-up left them
state_mailboxes=$state/buzones         # the mailboxes this script made, one a line
state_script=$state/recepcion.sh       # this script, for undoing once the package is gone

# With --desinstalar and no --configuracion, the configuration that was set up; none when the
# state says that only mailboxes are left (the package removed, not yet purged).
samba=1
if [ "$uninstall" -eq 1 ] && [ "$config_given" -eq 0 ]; then
    if [ -s "$state_conf" ]; then
        config=$(head -n 1 -- "$state_conf")
    elif [ -d "$state" ]; then
        samba=0
    fi
fi

# The file itself, where smb.conf is a link to it.
smbconf=$(readlink -f -- "$config")
# Undoing goes on where Samba's configuration has gone already (Samba purged first).
[ -f "$smbconf" ] || [ "$uninstall" -eq 1 ] || fail "no existe la configuración de Samba $config"
ours=$(dirname -- "$smbconf")/velrisa.conf
# Which names are one person's, and whose: root's alone, read by velrisa-recibe at each message.
user_map=$(dirname -- "$smbconf")/velrisa-usuarios
map_header="# Names that are one person's, and whose: written by recepcion.sh."
include_line="include = $ours"
header="# Receiving Velrisa's messages: written by recepcion.sh, undone by recepcion.sh --desinstalar."
# The root-owned file that marks a mailbox as made by this script.
mark=.velrisa-recepcion
# Names of the records velrisa-recibe writes (its temporary files: the same after a ".").
record_re='\.?m[0-9]{10}\.[0-9]{9}\.[0-9]{1,10}'

work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT
changed=0

# Writes stdin over the file only when it differs, keeping its owner and modes; counts a change.
replace() {
    local target=$1 temp
    temp=$(mktemp "$target.XXXXXX")
    cat >"$temp"
    if [ -f "$target" ] && cmp -s "$temp" "$target"; then
        rm -f -- "$temp"
        return
    fi
    if [ -f "$target" ]; then
        chmod --reference="$target" "$temp" && chown --reference="$target" "$temp"
    else
        chmod 0644 "$temp"
    fi
    mv -f -- "$temp" "$target"
    changed=1
}

# smb.conf without our include line.
without_include() {
    grep -v -x -F -e "$include_line" -- "$smbconf" || true
}

# smb.conf with our include line right after the last option of the last [global] section
# (settings after it would override ours; comments and blank lines that open the next
# section stay with it), adding a [global] section where there is none.
with_include() {
    without_include >"$work/bare"
    awk -v line="$include_line" '
        function is_section(l) { return l ~ /^[ \t]*\[/ }
        function is_global(l) { return tolower(l) ~ /^[ \t]*\[[ \t]*global[ \t]*\]/ }
        function is_option(l) { return l !~ /^[ \t]*$/ && l !~ /^[ \t]*[#;]/ }
        NR == FNR {
            if (is_section($0)) { in_global = is_global($0); if (in_global) after = FNR }
            else if (in_global && is_option($0)) after = FNR
            next
        }
        { print; if (FNR == after) print line }
        END { if (!after) { print "[global]"; print line } }' "$work/bare" "$work/bare"
}

# The parameter as Samba reads the whole configuration.
effective() { testparm -s --parameter-name="$1" "$smbconf" 2>/dev/null || true; }

# Makes Samba take the change: a restart (for new NetBIOS aliases too), or with --recargar a
# reload of the daemons of this configuration that are running, and nothing when none is.
apply() {
    local daemon
    [ "$changed" -eq 1 ] || return 0
    if [ "$reload" -eq 1 ]; then
        for daemon in smbd nmbd; do
            smbcontrol -s "$smbconf" "$daemon" reload-config >/dev/null 2>&1 || true
        done
        return 0
    fi
    if [ "$restart" -eq 0 ]; then
        echo "Samba no se ha reiniciado (--sin-reiniciar): el cambio surte efecto cuando se reinicien smbd y nmbd."
        return 0
    fi
    for daemon in smbd nmbd; do
        if [ -d /run/systemd/system ]; then
            systemctl restart "$daemon" || echo "recepcion.sh: no se pudo reiniciar $daemon" >&2
        else
            service "$daemon" restart || echo "recepcion.sh: no se pudo reiniciar $daemon" >&2
        fi
    done
}

# A mailbox is ours when it holds our root-owned mark.
is_our_mailbox() {
    [ -d "$1" ] && [ ! -L "$1" ] && [ -f "$1/$mark" ] && [ ! -L "$1/$mark" ] && [ "$(stat -c %u -- "$1/$mark")" = 0 ]
}

# Nobody but root may change any folder above the mailbox (nor the mailbox itself, when it is
# there already), else another user could swap it for a folder or link of theirs.
check_safe_folders() {
    local path=$1 real prefix
    real=$(readlink -m -- "$path")
    for prefix in "$path" "$real"; do
        prefix=$(dirname -- "$prefix")
        while :; do
            if [ -e "$prefix" ]; then
                local owner mode
                read -r owner mode < <(stat -L -c '%u %a' -- "$prefix")
                if [ "$owner" != 0 ] || [ $((8#$mode & 8#022)) -ne 0 ]; then
                    fail "el buzón $path está dentro de $prefix, que otros usuarios pueden cambiar (debe ser de root y sin escritura para el grupo ni los demás): elija otra carpeta"
                fi
            fi
            [ "$prefix" = / ] && break
            prefix=$(dirname -- "$prefix")
        done
    done
}

# Removes a mailbox this script made: the records velrisa-recibe wrote, then the folder.
# Anything else in it stays, and so does the folder, with a word about it.
remove_mailbox() {
    local b=$1 foreign
    [ -e "$b" ] || return 0
    if ! is_our_mailbox "$b"; then
        echo "recepcion.sh: $b no lo creó recepcion.sh: se deja como está." >&2
        return 1
    fi
    find "$b" -mindepth 1 -maxdepth 1 -type f -regextype posix-extended -regex ".*/$record_re" -delete
    # The people's own folders, once only records were in them.
    find "$b" -mindepth 2 -maxdepth 2 -type f -regextype posix-extended -regex ".*/$record_re" -delete
    find "$b" -mindepth 1 -maxdepth 1 -type d -empty -delete
    foreign=$(find "$b" -mindepth 1 -maxdepth 1 ! -name "$mark" -printf '%f ' | head -c 300)
    if [ -n "$foreign" ]; then
        echo "recepcion.sh: el buzón $b guarda archivos que no escribió velrisa-recibe ($foreign): se deja la carpeta con ellos." >&2
        return 1
    fi
    rm -f -- "$b/$mark"
    rmdir -- "$b"
}

if [ "$uninstall" -eq 1 ]; then
    # smb.conf exactly as before when nobody changed it since, else only without our line.
    if [ "$samba" -eq 0 ] || [ ! -f "$smbconf" ]; then
        :
    elif [ -s "$state_conf" ] && [ "$(head -n 1 -- "$state_conf")" = "$smbconf" ] && [ -f "$state_before" ] \
        && cmp -s "$state_after" "$smbconf"; then
        replace "$smbconf" <"$state_before"
    elif grep -q -x -F -e "$include_line" -- "$smbconf"; then
        replace "$smbconf" < <(without_include)
        echo "recepcion.sh: $smbconf cambió después de configurar la recepción: solo se quita la línea «$include_line»." >&2
    fi
    if [ "$samba" -eq 1 ] && [ -f "$ours" ] && [ "$(head -n 1 -- "$ours")" = "$header" ]; then
        rm -f -- "$ours"
        changed=1
    fi
    if [ "$samba" -eq 1 ] && [ -f "$user_map" ] && [ "$(head -n 1 -- "$user_map")" = "$map_header" ]; then
        rm -f -- "$user_map"
    fi
    if [ "$(head -n 1 -- "$state_conf" 2>/dev/null)" = "$smbconf" ]; then
        rm -f -- "$state_conf" "$state_before" "$state_after"
    fi

    left=()
    if [ "$keep_mailbox" -eq 0 ]; then
        mailboxes=()
        if [ "$mailbox_given" -eq 1 ]; then
            mailboxes=("$mailbox")
        elif [ -s "$state_mailboxes" ]; then
            mapfile -t mailboxes <"$state_mailboxes"
        else
            mailboxes=("$mailbox")
        fi
        # Every user's own history keeps the messages that were shown.
        for b in "${mailboxes[@]}"; do
            remove_mailbox "$b" || left+=("$b")
        done
        # The state keeps the mailboxes that are still there.
        if [ -f "$state_mailboxes" ]; then
            : >"$work/mailboxes"
            while IFS= read -r b; do
                if printf '%s\n' "${left[@]}" | grep -q -x -F -e "$b" \
                    || ! printf '%s\n' "${mailboxes[@]}" | grep -q -x -F -e "$b"; then
                    echo "$b" >>"$work/mailboxes"
                fi
            done <"$state_mailboxes"
            if [ -s "$work/mailboxes" ]; then
                cat -- "$work/mailboxes" >"$state_mailboxes"
            else
                rm -f -- "$state_mailboxes"
            fi
        fi
    fi
    if [ ! -e "$state_mailboxes" ]; then
        rm -f -- "$state_script"
        rmdir -- "$state" 2>/dev/null || true
    fi
    apply
    if [ "$samba" -eq 1 ]; then
        echo "La recepción de mensajes está desinstalada: $smbconf ya no incluye $ours."
    fi
    if [ "$keep_mailbox" -eq 1 ]; then
        echo "El buzón se conserva con sus mensajes."
    elif [ ${#left[@]} -eq 0 ]; then
        echo "El buzón no existe."
    fi
    [ "$samba" -eq 0 ] || echo "Samba sigue instalado; SMB1 queda como lo tenga el resto de su configuración."
    exit 0
fi

# Another configuration set up from the same state folder is undone first.
if [ -s "$state_conf" ]; then
    previous=$(head -n 1 -- "$state_conf")
    if [ "$previous" != "$smbconf" ] && [ -f "$previous" ] \
        && grep -q -x -F -e "include = $(dirname -- "$previous")/velrisa.conf" -- "$previous"; then
        fail "la recepción ya está configurada en $previous: deshágala antes con --desinstalar --configuracion=$previous"
    fi
fi

check_safe_folders "$mailbox"
if [ -L "$mailbox" ] || { [ -e "$mailbox" ] && [ ! -d "$mailbox" ]; }; then
    fail "$mailbox existe y no es una carpeta"
fi
if [ -e "$mailbox" ] && ! is_our_mailbox "$mailbox"; then
    fail "la carpeta $mailbox ya existe y no la creó recepcion.sh: no se toca; elija otro --buzon o bórrela usted"
fi

if ! command -v smbd >/dev/null && [ ! -x /usr/sbin/smbd ]; then
    echo "Instalando samba..."
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq samba >/dev/null
fi

# The receiver beside this script (an installed program's folder, a build folder) comes first.
if [ -z "$receiver" ]; then
    for candidate in "$(dirname -- "$(readlink -f -- "$0")")/velrisa-recibe" /usr/lib/velrisa/velrisa-recibe \
        /usr/local/lib/velrisa/velrisa-recibe; do
        [ -x "$candidate" ] && receiver=$candidate && break
    done
    [ -n "$receiver" ] || fail "no se encuentra velrisa-recibe: indíquelo con --receptor=RUTA"
fi
receiver=$(readlink -f -- "$receiver")
[ -f "$receiver" ] && [ -x "$receiver" ] || fail "no es un programa: $receiver"
safe_path "$receiver" || fail "la ruta de velrisa-recibe debe ser de letras, cifras y / . _ + -: $receiver"

# smbd runs the message command as its guest account: the mailbox is that account's.
guest=$(effective "guest account")
guest=${guest:-nobody}
id -u "$guest" >/dev/null 2>&1 || fail "la cuenta de invitado de Samba no existe: $guest"
group=$(id -gn "$guest")

# The state first: a set-up is never left without what undoing it needs.
install -d -m 0755 -- "$state"
created=0
if [ ! -e "$mailbox" ]; then
    created=1
    install -d -o "$guest" -g "$group" -m 0755 -- "$mailbox"
    echo "Buzón de Velrisa, creado por recepcion.sh; recepcion.sh --desinstalar lo borra." >"$mailbox/$mark"
    changed=1
elif [ "$(stat -c '%U %G %a' -- "$mailbox")" != "$guest $group 755" ]; then
    chown "$guest:$group" -- "$mailbox"
    chmod 0755 -- "$mailbox"
    changed=1
fi
grep -q -x -F -e "$mailbox" -- "$state_mailboxes" 2>/dev/null || echo "$mailbox" >>"$state_mailboxes"
runuser -u "$guest" -- test -x "$receiver" -a -w "$mailbox" \
    || fail "la cuenta $guest no puede ejecutar $receiver o escribir en $mailbox (¿alguna carpeta por encima cerrada?)"
# Each person's own folder: the user's, in the guest's group with setgid, mode 2770. The
# receiver (the guest) lists, writes and prunes there through the group; the user reads and
# deletes as its owner; nobody else can even list it. Records are 0644, so the user reads them.
declare -A seen_=()
for user in "${owner_[@]}"; do
    [ -z "${seen_[$user]:-}" ] || continue
    seen_[$user]=1
    own=$mailbox/$user
    if [ -L "$own" ] || { [ -e "$own" ] && [ ! -d "$own" ]; }; then
        fail "$own existe y no es una carpeta"
    fi
    if [ "$(stat -c '%U %G %a' -- "$own" 2>/dev/null)" != "$user $group 2770" ]; then
        install -d -o "$user" -g "$group" -m 2770 -- "$own"
        chown -- "$user:$group" "$own"
        chmod 2770 -- "$own"
        changed=1
    fi
done
replace "$user_map" < <(
    echo "$map_header"
    for key in "${!owner_[@]}"; do
        echo "$key ${owner_[$key]}"
    done | sort
)
chown root:root -- "$user_map"
chmod 0644 -- "$user_map"
[ "$(readlink -f -- "$0")" = "$(readlink -f -- "$state_script")" ] || install -m 0755 -- "$0" "$state_script"

# What was there before, for undoing: kept from the first set-up while smb.conf stays as the
# set-up left it; after someone else's changes, those changes are kept too.
cp -p -- "$smbconf" "$work/smbconf_before"
if ! grep -q -x -F -e "$include_line" -- "$smbconf"; then
    cp -- "$smbconf" "$state_before"
    echo "$smbconf" >"$state_conf"
elif [ "$(head -n 1 -- "$state_conf" 2>/dev/null)" != "$smbconf" ] || [ ! -f "$state_before" ] \
    || ! cmp -s "$smbconf" "$state_after"; then
    without_include >"$state_before"
    echo "$smbconf" >"$state_conf"
fi
[ -f "$ours" ] && cp -p -- "$ours" "$work/ours_before"

# (Not in a pipeline: replace counts the change in this shell.)
replace "$ours" < <(
    echo "$header"
    echo "# Messenger packets come before any protocol negotiation: they need SMB1."
    echo "server min protocol = NT1"
    echo "message command = $receiver --buzon=$mailbox --usuarios=$user_map '--equipo=%m' '--direccion=%I' '%f' '%L' '%s'"
    [ ${#names_[@]} -eq 0 ] || echo "netbios aliases = ${names_[*]}"
)
replace "$smbconf" < <(with_include)

# What Samba will use, read back from the whole configuration: something later in it (a
# [global] brought in by an include further down) may still override ours.
message_command="$receiver --buzon=$mailbox --usuarios=$user_map '--equipo=%m' '--direccion=%I' '%f' '%L' '%s'"
reason=
if ! testparm -s "$smbconf" >"$work/testparm" 2>&1; then
    reason="testparm rechaza la configuración resultante: $(grep -m 3 -i -E 'error|unknown|invalid' "$work/testparm" | tr '\n' ' ')"
elif [ "$(effective "message command")" != "$message_command" ]; then
    reason="otra parte de la configuración decide el «message command»: queda «$(effective "message command")»"
elif ! [[ $(effective "server min protocol") =~ ^(CORE|COREPLUS|LANMAN1|LANMAN2|NT1)$ ]]; then
    reason="otra parte de la configuración decide el protocolo mínimo: queda «server min protocol = $(effective "server min protocol")» y los mensajes necesitan NT1"
elif [ ${#names_[@]} -gt 0 ] && [ "$(effective "netbios aliases")" != "${names_[*]}" ]; then
    reason="otra parte de la configuración decide los alias: quedan «$(effective "netbios aliases")»"
fi
if [ -n "$reason" ]; then
    replace "$smbconf" <"$work/smbconf_before"
    if [ -f "$work/ours_before" ]; then
        replace "$ours" <"$work/ours_before"
    else
        rm -f -- "$ours"
    fi
    if [ "$created" -eq 1 ]; then
        rm -f -- "$mailbox/$mark"
        rmdir -- "$mailbox"
        grep -v -x -F -e "$mailbox" -- "$state_mailboxes" >"$work/mailboxes" || true
        cat -- "$work/mailboxes" >"$state_mailboxes"
    fi
    fail "$reason. $smbconf queda como estaba."
fi
cmp -s "$smbconf" "$state_after" 2>/dev/null || cp -- "$smbconf" "$state_after"
apply

if [ "$changed" -eq 0 ]; then
    echo "Nada que cambiar: este equipo ya estaba preparado para recibir mensajes en $mailbox."
    exit 0
fi
if [ "$restart" -eq 1 ]; then
    echo "Este equipo ya recibe mensajes: smbd entrega cada uno a $receiver, que lo deja en $mailbox,"
else
    echo "Cuando se reinicie Samba, smbd entregará cada mensaje a $receiver, que lo dejará en $mailbox,"
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
