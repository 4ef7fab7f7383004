#!/usr/bin/env bash
# Draws every picture of the program with ImageMagick and the DejaVu fonts,
# then writes them at their exact sizes and colour depths into res/art/
# (committed; run again only to change the artwork).
set -euo pipefail
cd "$(dirname "$0")"
out=art
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$out"

SITE="www.tarvel-software.com"
BODY='rgb(207,233,254)'   # light-blue body of both dialogs
BAND='rgb(2,77,246)'      # blue of the top band (the caption's background)
WHITE='rgb(255,255,255)'
LINK='rgb(0,51,204)'
URL='rgb(0,0,150)'
SANS=DejaVu-Sans
BOLD=DejaVu-Sans-Bold
COND=DejaVu-Sans-Condensed
CONDB=DejaVu-Sans-Condensed-Bold

bmp() { python3 bmp_tool.py bmp "$1" "$out/$2.bmp" "$3"; }

# A text line as a tight image: label FONT SIZE COLOUR TEXT OUT.
label() {
  convert -background none -font "$1" -pointsize "$2" -fill "$3" label:"$4" -trim +repage "$5"
}

# Places a text line centred horizontally at row Y of IMAGE, underlined
# when the last argument is "underline".
put_line() {
  local image="$1" font="$2" size="$3" colour="$4" text="$5" y="$6" deco="${7:-}"
  label "$font" "$size" "$colour" "$text" "$tmp/line.png"
  local w h W
  w=$(identify -format %w "$tmp/line.png")
  h=$(identify -format %h "$tmp/line.png")
  W=$(identify -format %w "$image")
  local x=$(((W - w) / 2))
  convert "$image" "$tmp/line.png" -geometry "+$x+$y" -composite "$image"
  if [ "$deco" = underline ]; then
    convert "$image" -fill "$colour" -draw "rectangle $x,$((y + h + 1)) $((x + w - 1)),$((y + h + 1))" "$image"
  fi
}

# A rounded, vertically shaded button face: face W H TOP BOTTOM BORDER OUT.
face() {
  local w="$1" h="$2"
  convert -size "${w}x${h}" gradient:"$3"-"$4" \
    \( -size "${w}x${h}" xc:black -fill white -draw "roundrectangle 0,0 $((w - 1)),$((h - 1)) 7,7" \) \
    -alpha off -compose CopyOpacity -composite \
    -fill none -stroke "$5" -draw "roundrectangle 0,0 $((w - 1)),$((h - 1)) 7,7" "$6"
}

# --- background 180: band, body, white panel, bottom strip --------------
bg="$tmp/background.png"
convert -size 527x338 xc:"$BODY" \
  \( -size 527x40 gradient:'rgb(40,110,250)'-"$BAND" \) -geometry +0+0 -composite \
  -fill "$BAND" -draw "rectangle 0,40 526,61" \
  -fill 'rgb(1,45,160)' -draw "rectangle 0,62 526,63" \
  -fill "$WHITE" -stroke 'rgb(150,185,235)' -draw "roundrectangle 7,103 519,279 9,9" -stroke none \
  \( -size 527x16 gradient:'rgb(150,195,253)'-"$BAND" \) -geometry +0+322 -composite \
  "$bg"
# The product's mark: a shield with a magnifier, then its name.
convert "$bg" \
  -fill 'rgb(255,255,255)' -draw "path 'M 12,5 L 38,5 L 38,20 Q 38,32 25,38 Q 12,32 12,20 Z'" \
  -fill "$BAND" -draw "path 'M 15,8 L 35,8 L 35,20 Q 35,30 25,35 Q 15,30 15,20 Z'" \
  -fill none -stroke 'rgb(255,200,40)' -strokewidth 3 -draw "circle 24,18 24,24" \
  -draw "line 28,23 32,28" -stroke none -strokewidth 1 \
  -font "$BOLD" -pointsize 23 -fill "$WHITE" -annotate +48+29 "Sorvane" \
  -font "$SANS" -pointsize 11 -fill 'rgb(210,228,255)' -annotate +160+29 "Ver 1.0" \
  -font "$COND" -pointsize 11 -fill 'rgb(210,228,255)' -annotate +300+22 "Backdoor removal utility" \
  "$bg"
if [ "$(convert "$bg" -fill black +opaque 'rgb(255,0,255)' -format '%[fx:maxima.r]' info:)" != 0 ]; then
  echo "draw_artwork: the background holds the region's colour key" >&2
  exit 1
fi
bmp "$bg" background 8

# --- SCAN and DOWNLOAD: green buttons, DISABLE plain body colour ---------
green_button() {
  local name="$1" text="$2"
  face 176 29 'rgb(120,205,95)' 'rgb(25,125,35)' 'rgb(15,85,25)' "$tmp/face.png"
  for state in notfocus focus; do
    local img="$tmp/${name}_$state.png"
    convert -size 180x33 xc:"$BODY" "$tmp/face.png" -geometry +2+2 -composite "$img"
    if [ "$state" = focus ]; then
      convert "$img" -fill none -stroke 'rgb(255,246,170)' -strokewidth 2 \
        -draw "roundrectangle 1,1 178,31 8,8" "$img"
    fi
    convert "$img" -font "$BOLD" -pointsize 15 -fill 'rgb(10,70,15)' -gravity center \
      -annotate +1+1 "$text" -fill "$WHITE" -annotate +0+0 "$text" "$img"
    bmp "$img" "${name}_$state" 8
  done
  convert -size 180x33 xc:"$BODY" "$tmp/${name}_disable.png"
  bmp "$tmp/${name}_disable.png" "${name}_disable" 4
}
green_button scan "Scan"
green_button download "Download Antivirus"

# --- X: orange square with a white cross, on the band --------------------
for state in notfocus focus; do
  img="$tmp/x_$state.png"
  fill='rgb(240,120,20)'
  [ "$state" = focus ] && fill='rgb(255,165,60)'
  convert -size 21x21 xc:"$BAND" -fill "$fill" -stroke 'rgb(150,60,0)' \
    -draw "roundrectangle 1,1 19,19 3,3" -stroke "$WHITE" -strokewidth 3 \
    -draw "line 6,6 14,14" -draw "line 14,6 6,14" "$img"
  [ "$state" = focus ] && convert "$img" -fill none -stroke "$WHITE" -strokewidth 1 \
    -draw "roundrectangle 0,0 20,20 3,3" "$img"
  bmp "$img" "x_$state" 8
done

# --- OK, CANCEL, YES, NO: light grey buttons -----------------------------
grey_button() {
  local name="$1" text="$2"
  for state in notfocus focus; do
    local img="$tmp/${name}_$state.png" border='rgb(130,135,150)' ink='rgb(30,35,70)'
    if [ "$state" = focus ]; then border="$BAND"; ink="$BAND"; fi
    face 90 22 'rgb(250,250,252)' 'rgb(200,204,212)' "$border" "$tmp/face.png"
    convert -size 92x24 xc:"$BODY" "$tmp/face.png" -geometry +1+1 -composite \
      -font "$BOLD" -pointsize 11 -fill "$ink" -gravity center -annotate +0+0 "$text" "$img"
    if [ "$state" = focus ]; then
      convert "$img" -fill none -stroke "$BAND" -draw "roundrectangle 2,2 89,21 6,6" "$img"
    fi
    bmp "$img" "${name}_$state" 8
  done
}
grey_button ok "OK"
grey_button cancel "Cancel"
grey_button yes "Yes"
grey_button no "No"

# --- DLINK and ULINK: pictures of text links ------------------------------
for state in notfocus focus; do
  deco=
  [ "$state" = focus ] && deco=underline
  img="$tmp/dlink_$state.png"
  convert -size 313x43 xc:"$WHITE" "$img"
  put_line "$img" "$BOLD" 12 "$LINK" "Download and install Kelvora Antivirus" 6 "$deco"
  put_line "$img" "$SANS" 10 "$URL" "$SITE/download/downloadnow.htm" 26 "$deco"
  bmp "$img" "dlink_$state" 4

  img="$tmp/ulink_$state.png"
  convert -size 244x28 xc:"$BODY" "$img"
  put_line "$img" "$BOLD" 9 "$LINK" "More free virus removal tools" 2 "$deco"
  put_line "$img" "$COND" 9 "$URL" "$SITE/download/utility.htm" 15 "$deco"
  bmp "$img" "ulink_$state" 8
done

# --- the maker's logo ------------------------------------------------------
for state in notfocus focus; do
  img="$tmp/tarvellogo_$state.png"
  ring='rgb(240,120,20)'
  [ "$state" = focus ] && ring='rgb(255,160,50)'
  convert -size 38x36 xc:"$BODY" -fill "$ring" -draw "circle 19,12 19,2" \
    -fill "$BAND" -draw "circle 19,12 19,6" \
    -fill "$WHITE" -draw "rectangle 14,8 24,10" -draw "rectangle 18,8 20,17" "$img"
  put_line "$img" "$CONDB" 8 "$BAND" "TARVEL" 25
  bmp "$img" "tarvellogo_$state" 8
done

# --- message pictures (42 x 40, 24 bits), symbol left of centre ------------
pic="$tmp/pic.png"
convert -size 42x40 xc:"$BODY" -fill 'rgb(255,210,0)' -stroke 'rgb(150,100,0)' \
  -draw "polygon 18,3 35,35 1,35" -stroke none -fill black \
  -draw "rectangle 17,12 19,25" -draw "rectangle 17,28 19,31" "$pic"
python3 bmp_tool.py bmp "$pic" "$out/warning.bmp" 24
balloon() {
  convert -size 42x40 xc:"$BODY" -fill "$WHITE" -stroke "$BAND" \
    -draw "ellipse 18,16 16,13 0,360" -draw "polygon 9,26 5,37 17,28" -stroke none \
    -fill "$WHITE" -draw "ellipse 18,16 15,12 0,360" \
    -font DejaVu-Serif-Bold -pointsize 20 -fill "$BAND" -gravity northwest -annotate "+$1+3" "$2" "$3"
}
balloon 13 "i" "$pic"
python3 bmp_tool.py bmp "$pic" "$out/information.bmp" 24
balloon 11 "?" "$pic"
python3 bmp_tool.py bmp "$pic" "$out/question.bmp" 24
convert -size 42x40 xc:"$BODY" -fill 'rgb(215,30,30)' -stroke 'rgb(130,0,0)' \
  -draw "circle 18,19 18,2" -stroke "$WHITE" -strokewidth 4 \
  -draw "line 12,13 24,25" -draw "line 24,13 12,25" "$pic"
python3 bmp_tool.py bmp "$pic" "$out/error.bmp" 24

# --- icon 128: the shield on blue ------------------------------------------
convert -size 48x48 gradient:'rgb(40,110,250)'-'rgb(1,45,160)' \
  -fill "$WHITE" -draw "path 'M 9,5 L 39,5 L 39,22 Q 39,37 24,44 Q 9,37 9,22 Z'" \
  -fill "$BAND" -draw "path 'M 13,9 L 35,9 L 35,22 Q 35,34 24,40 Q 13,34 13,22 Z'" \
  -fill none -stroke 'rgb(255,200,40)' -strokewidth 3 -draw "circle 23,20 23,27" \
  -draw "line 28,26 32,31" "$tmp/icon.png"
python3 bmp_tool.py ico "$tmp/icon.png" "$out/sorvane.ico"

echo "draw_artwork: wrote $(find "$out" -type f | wc -l) files into res/$out"
