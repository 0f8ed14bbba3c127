#!/usr/bin/env bash
# The install rules, as `cmake --install` runs them into a scratch DESTDIR for the prefix
# /usr: exactly the expected files, nothing named `net` on the search path, a desktop entry,
# AppStream metadata and manual page that their checkers accept, an installed `hh` that
# finds the installed web pages of the help, a start-at-login entry that starts the
# installed program in the tray, and the set-up for receiving that names the receiver beside it.
# Usage: install_tree.sh BUILD_DIR   (exit 77: skipped)
set -u
build=${1:?usage: $0 BUILD_DIR}
for tool in desktop-file-validate appstreamcli man; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is not installed (scripts/deps.sh installs it)"
        exit 77
    fi
done
work=$(mktemp -d /tmp/velrisa-install.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

root=$work/root
DESTDIR=$root cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 || {
    cat "$work/install.log"
    echo "FAIL: cmake --install failed"
    exit 1
}

icons=""
for s in 16 22 24 32 48 64 128 256; do
    icons="$icons usr/share/icons/hicolor/${s}x$s/apps/velrisa.png"
done
expected=$(printf '%s\n' usr/bin/velrisa usr/bin/velrisa-autoarranque \
    usr/lib/velrisa/velrisa usr/lib/velrisa/net usr/lib/velrisa/hh usr/lib/velrisa/ayuda.chm \
    usr/lib/velrisa/instalado.txt usr/share/applications/velrisa.desktop $icons \
    usr/share/icons/hicolor/scalable/apps/velrisa.svg usr/share/metainfo/org.example.velrisa.metainfo.xml \
    usr/share/man/man1/velrisa.1.gz usr/share/man/man1/velrisa-autoarranque.1.gz \
    usr/share/doc/velrisa/changelog.gz usr/share/doc/velrisa/copyright usr/share/doc/velrisa/net.ini \
    usr/share/velrisa/ayuda/{index,enviar,destinatarios,libreta,bandeja,linux,recibir}.htm)
# The receiver and its set-up, when this build has them.
[ -x "$build/velrisa-recibe" ] &&
    expected=$(printf '%s\nusr/lib/velrisa/velrisa-recibe\nusr/lib/velrisa/recepcion.sh' "$expected")
actual=$(cd "$root" && find . ! -type d | sed 's|^\./||' | sort)
[ "$actual" = "$(sort <<<"$expected")" ] ||
    fail "installed files differ from the expected ones: $(diff <(sort <<<"$expected") <(echo "$actual"))"

[ "$(readlink "$root/usr/bin/velrisa")" = ../lib/velrisa/velrisa ] ||
    fail "bin/velrisa is not a relative link to the program: $(ls -l "$root/usr/bin/velrisa")"
for dir in "$root/usr/bin" "$root/usr/sbin" "$root/bin" "$root/usr/local/bin"; do
    [ -e "$dir/net" ] && fail "$dir/net would hide Samba's net or be hidden by it"
done
for f in velrisa net hh; do
    [ -x "$root/usr/lib/velrisa/$f" ] || fail "usr/lib/velrisa/$f is not executable"
done

desktop-file-validate "$root/usr/share/applications/velrisa.desktop" || fail "desktop entry rejected"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.example.velrisa.metainfo.xml" >"$work/as.log" 2>&1 ||
    fail "AppStream metadata rejected: $(cat "$work/as.log")"
grep -q '<release version="[0-9.]*"' "$root/usr/share/metainfo/org.example.velrisa.metainfo.xml" ||
    fail "the AppStream release carries no version"
warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z \
    "$root/usr/share/man/man1/velrisa.1.gz" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "manual page warnings: $warnings"
LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$root/usr/share/man/man1/velrisa.1.gz" 2>/dev/null | grep -q "lib/velrisa/net" ||
    fail "the manual page does not say where net is"

# The installed hh, with no CHM viewer but a browser: the installed web pages.
mkdir -p "$work/bin"
printf '#!/bin/sh\nprintf "%%s\\n" "$@" > "%s/abierto.txt"\n' "$work" >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
PATH="$work/bin" "$root/usr/lib/velrisa/hh" "$root/usr/lib/velrisa/ayuda.chm" </dev/null
[ "$(cat "$work/abierto.txt" 2>/dev/null)" = "$root/usr/share/velrisa/ayuda/index.htm" ] ||
    fail "hh opened: $(cat "$work/abierto.txt" 2>/dev/null)"

# Start at login, for the user who asks only.
XDG_CONFIG_HOME=$work/config "$root/usr/bin/velrisa-autoarranque" activar >/dev/null ||
    fail "velrisa-autoarranque activar failed"
entry=$work/config/autostart/velrisa.desktop
desktop-file-validate "$entry" || fail "the start-at-login entry is rejected"
grep -qx "Exec=\"$root/usr/bin/velrisa\" -MIN" "$entry" || fail "start-at-login entry: $(cat "$entry")"
XDG_CONFIG_HOME=$work/config "$root/usr/bin/velrisa-autoarranque" desactivar >/dev/null
[ ! -e "$entry" ] || fail "velrisa-autoarranque desactivar left $entry"

# The installed set-up names the receiver beside it, against a scratch Samba configuration
# (root only: the mailbox goes to Samba's guest account, in a folder only root can change).
if [ -x "$root/usr/lib/velrisa/recepcion.sh" ] && [ "$(id -u)" -eq 0 ] && command -v testparm >/dev/null &&
    [ "$(stat -c '%u %a' /run 2>/dev/null)" = "0 755" ]; then
    chmod 755 "$work"
    safe_dir=$(mktemp -d /run/velrisa-install.XXXXXX)
    trap 'rm -rf "$work" "$safe_dir"' EXIT
    chmod 755 "$safe_dir"
    mkdir -p "$safe_dir/samba"
    printf '[global]\n   workgroup = OFICINA\n' >"$safe_dir/samba/smb.conf"
    "$root/usr/lib/velrisa/recepcion.sh" --configuracion="$safe_dir/samba/smb.conf" --buzon="$safe_dir/buzon" \
        --estado="$safe_dir/estado" --sin-reiniciar >"$work/recepcion.log" 2>&1 ||
        fail "the installed recepcion.sh failed: $(cat "$work/recepcion.log")"
    command=$(testparm -s --parameter-name="message command" "$safe_dir/samba/smb.conf" 2>/dev/null)
    [ "${command%% *}" = "$root/usr/lib/velrisa/velrisa-recibe" ] || fail "message command: $command"
else
    echo "SKIP (part): the installed recepcion.sh is run only as root with testparm and /run"
fi

if [ "$failures" -eq 0 ]; then
    echo "1 passed, 0 failed"
    exit 0
fi
echo "0 passed, 1 failed ($failures checks)"
exit 1
