#!/usr/bin/env bash
# Installs, quietly, the Debian packages that are missing for what is asked, and does
# nothing when all are there:
#   scripts/deps.sh run   building and running the program (`make run`, `make install`)
#   scripts/deps.sh deb   that and the tools that make the Debian package (`make deb`)
#   scripts/deps.sh       all of it: also the tests, the benchmarks and the package (`make test`)
# While another apt or dpkg holds its lock, it waits for it, at most 5 minutes.
set -euo pipefail

# Building and running. One package, or a small group, per line with its reason.
run_packages=(
    cmake g++ make pkg-config
    qt6-base-dev                      # Widgets, Network, Test, moc, offscreen and xcb plugins
    libxcb1-dev                       # finding a help viewer's window by process id
    fp-utils                          # chmcmd, which compiles the help file
    smbclient                         # net delivers the messages with smbclient -M
    samba-common-bin                  # nmblookup: net finds the members of a workgroup
    xchm                              # a viewer for the help file
    xdg-utils                         # xdg-open: the help's web pages where no viewer is
    qt6-translations-l10n             # Qt's own Spanish texts (standard buttons)
    fonts-liberation2                 # the program's typeface, Liberation Sans
)

# Making the Debian package, on top of the above.
deb_packages=(
    dpkg-dev                          # dpkg-shlibdeps: the package's library dependencies
)

# Testing, benchmarks and the Debian package, on top of the above.
test_packages=(
    xvfb xauth xdotool trayer imagemagick   # desktop tests under a virtual X server
    x11-utils                         # xwininfo, xprop, xmessage: windows, stacking and focus in the end-to-end tests
    gnome-shell gnome-shell-extension-appindicator xwayland   # desktop tests: GNOME on Wayland, headless
    kwin-wayland                      # desktop tests: KDE's compositor, headless
    xfwm4 xfce4-panel                 # desktop tests: Xfce on Xvfb
    qt6-wayland                       # desktop tests: the program natively on Wayland
    dbus-daemon                       # dbus-run-session: a private session bus for the tray notification test
    samba                             # smbd: real delivery of pop-up messages in the tests
    iproute2                          # ip netns: private networks for workgroup delivery tests
    dpkg-dev                          # dpkg-shlibdeps: the package's library dependencies
    lintian                           # checks the Debian package
    desktop-file-utils appstream      # check the desktop entry and the AppStream metadata
    man-db                            # checks the manual page
    clang libclang-rt-dev             # make fuzz, make test-sanitize: libFuzzer, ASan, UBSan
    llvm                              # llvm-symbolizer: sanitizer reports name functions and lines
    python3                           # the desktop tray test reads the menu the tray host gets
)

# Wanted for one tool only: installed without the many packages they recommend.
bare_test_packages=(
    devscripts                        # hardening-check: the package test checks every installed program
)

packages=("${run_packages[@]}")
case ${1:-} in
run) ;;
deb) packages+=("${deb_packages[@]}") ;;
*) packages+=("${deb_packages[@]}" "${test_packages[@]}") ;;
esac
bare=()
[ -n "${1:-}" ] || bare=("${bare_test_packages[@]}")

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=()
for p in "${packages[@]}"; do
    installed "$p" || missing+=("$p")
done
missing_bare=()
for p in "${bare[@]}"; do
    installed "$p" || missing_bare+=("$p")
done
[ ${#missing[@]} -eq 0 ] && [ ${#missing_bare[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]} ${missing_bare[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# apt-get, again every few seconds while another apt or dpkg holds its lock (an unattended
# upgrade, a second set-up), for at most 5 minutes; any other failure ends it at once.
deadline=$((SECONDS + 300))
apt_get() {
    local errors said=0
    while :; do
        errors=$($sudo env LC_ALL=C DEBIAN_FRONTEND=noninteractive apt-get "$@" 2>&1 >/dev/null) && return 0
        if ! grep -q -E "Could not get lock|Unable to lock|Unable to acquire" <<<"$errors"; then
            printf '%s\n' "$errors" >&2
            return 1
        fi
        if [ $SECONDS -ge $deadline ]; then
            printf '%s\n' "$errors" >&2
            echo "apt has been busy for 5 minutes: run this again when it is done." >&2
            return 1
        fi
        [ $said -eq 1 ] || echo "Another apt or dpkg is running: waiting for it to finish (at most 5 minutes)..."
        said=1
        sleep 3
    done
}
apt_get update -qq
[ ${#missing[@]} -eq 0 ] || apt_get install -y -qq "${missing[@]}"
[ ${#missing_bare[@]} -eq 0 ] || apt_get install -y -qq --no-install-recommends "${missing_bare[@]}"
