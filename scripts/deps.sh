#!/usr/bin/env bash
# Installs, quietly, the Debian packages that building, running and testing need and
# that are not installed yet. Does nothing when all are there.
set -euo pipefail

packages=(
    cmake g++ make pkg-config
    qt6-base-dev                      # Widgets, Network, Test, moc, offscreen and xcb plugins
    qt6-translations-l10n             # Qt's own Spanish texts (standard buttons)
    fonts-liberation2                 # the program's typeface, Liberation Sans
    xvfb xauth xdotool trayer imagemagick   # desktop tests under a virtual X server
    x11-utils                         # xwininfo: finds tray icons in the end-to-end tests
    samba smbclient                   # real delivery of pop-up messages
    iproute2                          # ip netns: private networks for workgroup delivery tests
    fp-utils                          # chmcmd, which compiles the help file
    libxcb1-dev                       # finding a help viewer's window by process id
)

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
