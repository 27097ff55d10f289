#!/usr/bin/env bash
# Draws the program's own art into res/: the main window's background picture (a calm stage
# with lamps on a truss and soft coloured beams) and the window icons (a spotlight and its
# beam) in the sizes and the SVG a Linux desktop takes, plus the copies a Windows build embeds
# (a 24-bit BMP and an ICO of the four sizes).
# Needs ImageMagick 6. Usage: tools/make_art.sh [output directory, default res/]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-res}
# Called by full path: another program named "convert" may come first on PATH.
im=/usr/bin/convert
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

width=640
height=498
light='#f3f6f8'  # the top band, where the texts are drawn, stays this light
dusk='#8a86b8'  # a violet evening between the light band and the dark stage
dark='#15122b'

# Sky: flat and light at the top, darkening smoothly below the texts' band.
$im \( -size ${width}x150 xc:"$light" \) \
    \( -size ${width}x$((height - 150)) gradient:black-white -evaluate pow 0.9 \
       \( -size 1x128 gradient:"$light"-"$dusk" -size 1x128 gradient:"$dusk"-"$dark" -append \) \
       -clut \) \
    -append "$work/sky.png"

# Lamps hang from the truss at these x positions; each throws a beam of its own colour.
lamps=(96 224 352 480 576)
colours=('#ffb347' '#ff6fae' '#62d4ff' '#9cf08c' '#b99cff')
lens=196    # y of the lamps' lenses
floor=462   # y where the beams land

# Beams: one additive layer per lamp, blurred, faded towards the floor.
beams=()
pools=()
for i in "${!lamps[@]}"; do
  x=${lamps[$i]}
  spread=$((70 + (i % 2) * 18))
  lean=$(((i - 2) * 14))  # the outer lamps point a little outwards
  $im -size ${width}x$height xc:black -fill "${colours[$i]}" \
      -draw "polygon $((x - 7)),$lens $((x + 7)),$lens $((x + lean + spread)),$floor $((x + lean - spread)),$floor" \
      -blur 0x7 "$work/beam$i.png"
  $im -size ${width}x$height xc:black -fill "${colours[$i]}" \
      -draw "ellipse $((x + lean)),$((floor + 8)) $((spread + 4)),13 0,360" \
      -blur 0x5 "$work/pool$i.png"
  beams+=("$work/beam$i.png")
  pools+=("$work/pool$i.png")
done
$im "${beams[@]}" -background black -compose screen -flatten \
    \( -size ${width}x$height gradient:'#c8c8c8'-'#5a5a5a' \) -compose multiply -composite \
    "$work/beams.png"
$im "${pools[@]}" -background black -compose screen -flatten -evaluate multiply 0.8 \
    "$work/pools.png"

# Truss: two chords with zigzag bracing, the lamps' housings hanging below.
truss="stroke #4a4f5c stroke-width 3 line 0,160 $width,160 line 0,176 $width,176 stroke-width 1.5"
for ((x = 0; x < width; x += 32)); do
  truss+=" line $x,160 $((x + 16)),176 line $((x + 16)),176 $((x + 32)),160"
done
housings=""
for x in "${lamps[@]}"; do
  housings+=" fill #3b3f4a stroke none roundrectangle $((x - 9)),177 $((x + 9)),$((lens - 2)) 3,3"
  housings+=" fill #fff3d0 ellipse $x,$((lens - 1)) 7,3 0,360"
done

# The stage floor: a slightly lighter plane under the beams, where their pools of light lie.
$im -size ${width}x$height xc:none -fill '#2b2650' -draw "rectangle 0,$((floor - 4)) $width,$height" \
    -fill '#4a4378' -draw "rectangle 0,$((floor - 4)) $width,$((floor - 3))" "$work/floor.png"

$im "$work/sky.png" "$work/floor.png" -compose over -composite \
    "$work/beams.png" -compose screen -composite \
    "$work/pools.png" -compose screen -composite \
    -fill none -draw "$truss" -draw "$housings" \
    -alpha off -strip -depth 8 -define png:compression-level=9 "$out/background.png"
$im "$out/background.png" -dither FloydSteinberg -colors 256 -type Palette -compress None BMP3:"$out/background.bmp"

# Icon: a spotlight at the top pointing down, its warm beam widening below it, on a 128 x 128
# plan. Each shape is given once and drawn twice: by ImageMagick at four times the size or more
# and reduced, so that the edges come out smooth, and as the scalable SVG the Linux desktop
# uses (beam, inner beam, housing, its bracket, lens).
beam='50,58 78,58 118,124 10,124'
inner='56,58 72,58 92,124 36,124'
icon() {  # size, output
  local k=$((($1 + 31) / 32))  # the plan's scale: 1 up to 32 px, more for the larger sizes
  local big=$((128 * k))
  $im -size ${big}x$big xc:none -draw "scale $k,$k
        fill rgba(255,214,90,0.85) polygon $beam
        fill rgba(255,240,170,0.9) polygon $inner
        fill #2f3a45 roundrectangle 36,10 92,54 10,10
        fill #2f3a45 rectangle 58,0 70,12
        fill #fff6c8 ellipse 64,56 22,7 0,360" \
      -filter Triangle -resize "$1x$1" -strip -depth 8 "$2"
}
icon 256 "$out/icon-256.png"
icon 48 "$out/icon-48.png"
icon 32 "$out/icon-32.png"
icon 16 "$out/icon-16.png"
$im "$out/icon-16.png" "$out/icon-32.png" "$out/icon-48.png" "$out/icon-256.png" "$out/morva.ico"
# ImageMagick's rectangles take both corners in; SVG's take a width, hence the +1.
cat >"$out/morva.svg" <<SVG
<svg xmlns="http://www.w3.org/2000/svg" width="128" height="128" viewBox="0 0 128 128">
  <polygon points="$beam" fill="#ffd65a" fill-opacity="0.85"/>
  <polygon points="$inner" fill="#fff0aa" fill-opacity="0.9"/>
  <rect x="36" y="10" width="57" height="45" rx="10" fill="#2f3a45"/>
  <rect x="58" y="0" width="13" height="13" fill="#2f3a45"/>
  <ellipse cx="64" cy="56" rx="22" ry="7" fill="#fff6c8"/>
</svg>
SVG
