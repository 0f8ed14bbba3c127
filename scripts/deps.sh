#!/usr/bin/env bash
# Installs, quietly, the Debian packages that are missing for what is asked, and does
# nothing when all are there:
#   scripts/deps.sh run   building and running the program (`make run`)
#   scripts/deps.sh       all of it: also the tests, the benchmarks and the package (`make test`)
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

# Testing, benchmarks and the Debian package, on top of the above.
test_packages=(
    xvfb xauth xdotool trayer imagemagick   # desktop tests under a virtual X server
    x11-utils                         # xwininfo: finds tray icons in the end-to-end tests
    dbus-daemon                       # dbus-run-session: a private session bus for the tray notification test
    samba                             # smbd: real delivery of pop-up messages in the tests
    iproute2                          # ip netns: private networks for workgroup delivery tests
    dpkg-dev                          # dpkg-shlibdeps: the package's library dependencies
    lintian                           # checks the Debian package
    desktop-file-utils appstream      # check the desktop entry and the AppStream metadata
    man-db                            # checks the manual page
    clang libclang-rt-dev             # make fuzz, make test-sanitize: libFuzzer, ASan, UBSan
    llvm                              # llvm-symbolizer: sanitizer reports name functions and lines
)

packages=("${run_packages[@]}")
[ "${1:-}" = run ] || packages+=("${test_packages[@]}")

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}" >/dev/null
