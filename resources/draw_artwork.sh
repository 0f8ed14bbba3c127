#!/usr/bin/env bash
# Draws the main window's artwork (left picture, window and tray icons, button images)
# with ImageMagick, and the desktop icon as SVG with its theme sizes (rsvg-convert, package
# librsvg2-bin). Run by hand after changing a drawing; the results are committed.
set -euo pipefail
cd "$(dirname "$0")"
convert=/usr/bin/convert   # /usr/local/bin/convert may be a stand-in on build machines

# Left strip, 84 x 303: a blue gradient, a pattern of globes, an envelope at the top.
globe() { # centre x, centre y, radius
    local x=$1 y=$2 r=$3
    echo "circle $x,$y $((x + r)),$y"
    echo "ellipse $x,$y $((r / 2)),$r 0,360"
    echo "line $x,$((y - r)) $x,$((y + r))"
    echo "line $((x - r)),$y $((x + r)),$y"
    echo "ellipse $x,$((y - r / 2)) $((r * 87 / 100)),$((r / 8)) 0,360"
    echo "ellipse $x,$((y + r / 2)) $((r * 87 / 100)),$((r / 8)) 0,360"
}
globes="$(globe 42 112 30; globe 12 178 26; globe 72 190 26; globe 42 256 30; globe 8 302 22; globe 78 310 24)"
$convert -size 303x84 gradient:'#0b2f7a'-'#2a6fd0' -rotate 90 \
    -fill none -stroke '#5d9bf0' -strokewidth 1.5 -draw "$globes" \
    -stroke none -fill '#0b2f7a' -draw "rectangle 0,0 83,70" \
    -fill '#ffffff' -stroke '#0a1f55' -strokewidth 1.5 -draw "rectangle 18,18 66,50" \
    -fill none -stroke '#0a1f55' -strokewidth 1.5 -draw "polyline 18,18 42,37 66,18" \
    -draw "line 18,50 36,33" -draw "line 66,50 48,33" \
    -fill '#f2c230' -stroke '#8a5a00' -strokewidth 1 -draw "circle 62,48 62,41" \
    -strip PNG24:pictures/fondo.png

# Window icon: an envelope in front of a globe (32 and 16 px); tray icon: 16 colours.
icon() { # size
    local s=$1 k
    k=$(awk -v s="$s" 'BEGIN { print s / 32 }')
    $convert -size "${s}x${s}" xc:none -scale 100% \
        -fill '#2a6fd0' -stroke '#0b2f7a' -strokewidth "$k" \
        -draw "circle $(awk -v k="$k" 'BEGIN { printf "%g,%g %g,%g", 20*k, 12*k, 20*k, 1.5*k }')" \
        -fill none -stroke '#9cc4ff' \
        -draw "ellipse $(awk -v k="$k" 'BEGIN { printf "%g,%g %g,%g 0,360", 20*k, 12*k, 5*k, 10.5*k }')" \
        -draw "line $(awk -v k="$k" 'BEGIN { printf "%g,%g %g,%g", 9.5*k, 12*k, 30.5*k, 12*k }')" \
        -fill '#ffffff' -stroke '#0a1f55' -strokewidth "$(awk -v k="$k" 'BEGIN { print (k < 1 ? 1 : 1.5 * k) }')" \
        -draw "rectangle $(awk -v k="$k" 'BEGIN { printf "%g,%g %g,%g", 1*k, 14*k, 22*k, 29*k }')" \
        -fill none \
        -draw "polyline $(awk -v k="$k" 'BEGIN { printf "%g,%g %g,%g %g,%g", 1*k, 14*k, 11.5*k, 22*k, 22*k, 14*k }')" \
        -strip "$2"
}
icon 32 PNG32:icons/velrisa32.png
icon 16 PNG32:icons/velrisa16.png
$convert icons/velrisa16.png -channel A -threshold 50% +channel -colors 15 -strip PNG8:icons/tray.png

# Button images, 16 x 16.
$convert -size 16x16 xc:none -fill '#2a6fd0' -stroke '#0b2f7a' -draw "circle 7.5,7.5 7.5,0.5" \
    -stroke none -fill white -draw "rectangle 6.5,6.5 8.5,12" -draw "circle 7.5,4 7.5,2.8" \
    -strip PNG32:icons/boton_acerca.png
$convert -size 16x16 xc:none -fill '#f2c230' -stroke '#8a5a00' -draw "circle 7.5,7.5 7.5,0.5" \
    -fill none -stroke '#0a1f55' -strokewidth 1.8 -draw "arc 5,3 10,8 180,45" \
    -draw "line 8.5,7.8 7.5,9.5" -stroke none -fill '#0a1f55' -draw "circle 7.5,12 7.5,11" \
    -strip PNG32:icons/boton_ayuda.png
$convert -size 16x16 xc:none -fill '#d83030' -stroke '#7a0a0a' -draw "circle 7.5,7.5 7.5,0.5" \
    -stroke white -strokewidth 2 -draw "line 5,5 10,10" -draw "line 10,5 5,10" \
    -strip PNG32:icons/boton_cancelar.png
$convert -size 16x16 xc:none -fill white -stroke '#0a1f55' -draw "rectangle 0.5,3.5 12.5,12.5" \
    -fill none -draw "polyline 0.5,3.5 6.5,8.5 12.5,3.5" \
    -fill '#2ea043' -stroke '#125a20' -draw "polygon 9,9 15,12 9,15" \
    -strip PNG32:icons/boton_enviar.png

# Desktop icon: the window icon's drawing on a 32-unit grid, as SVG, and the sizes of the
# hicolor icon theme: the small ones drawn like the window icon, which keeps them crisp, the
# others rendered from the SVG.
mkdir -p icons/hicolor
cat >icons/hicolor/velrisa.svg <<'SVG'
<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 32 32">
  <title>Velrisa</title>
  <circle cx="20" cy="12" r="10.5" fill="#2a6fd0" stroke="#0b2f7a" stroke-width="1"/>
  <g fill="none" stroke="#9cc4ff" stroke-width="1">
    <ellipse cx="20" cy="12" rx="5" ry="10.5"/>
    <line x1="9.5" y1="12" x2="30.5" y2="12"/>
  </g>
  <g stroke="#0a1f55" stroke-width="1.5" stroke-linejoin="round">
    <rect x="1" y="14" width="21" height="15" fill="#ffffff"/>
    <polyline points="1,14 11.5,22 22,14" fill="none"/>
  </g>
</svg>
SVG
for s in 16 22 24 32; do
    icon "$s" "PNG32:icons/hicolor/velrisa$s.png"
done
for s in 48 64 128 256; do
    rsvg-convert -w "$s" -h "$s" icons/hicolor/velrisa.svg -o "icons/hicolor/velrisa$s.tmp.png"
    $convert "icons/hicolor/velrisa$s.tmp.png" -strip "PNG32:icons/hicolor/velrisa$s.png"
    rm "icons/hicolor/velrisa$s.tmp.png"
done
