#!/bin/bash
# Draws Corvane's artwork into this folder: the installer banner, the window
# icon (32 and 64 px) and the three list icons.
#
# Shapes are drawn at SS (BS for the banner) times their final size and then
# box-averaged down (-scale), which gives even anti-aliased edges at 16 px
# where ImageMagick's own anti-aliasing looks ragged. Text is drawn at final
# size so the font's hinting keeps it sharp. Re-run after any edit; it
# overwrites the PNGs.
#
# Needs ImageMagick 6 or 7 (convert or magick) and the DejaVu fonts.
set -euo pipefail
cd "$(dirname "$0")"

SS=8

if command -v magick >/dev/null 2>&1; then IM=(magick); else IM=(convert); fi

FONT=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
[ -f "$FONT" ] || FONT=DejaVu-Sans-Bold

# Palette
BLUE_DEEP='#1f4e79'
BLUE='#2a72b5'
BLUE_DARK='#1a4d80'
TEAL='#178a8f'
TEAL_LIGHT='#7cc7c9'
GREEN='#34a853'
GREEN_DARK='#1f7a37'
INK='#2c3e50'
RIM='#3d4f61'

# Written PNGs carry no time stamps, so re-running gives identical files.
OUT_OPTS=(-strip -define 'png:exclude-chunks=date,time')

# render WIDTH HEIGHT OUTPUT MVG
# MVG coordinates are in final pixels; the leading scale maps them onto the
# oversized canvas (stroke widths scale with them).
render() {
    local w=$1 h=$2 out=$3 mvg=$4
    "${IM[@]}" -size $((w * SS))x$((h * SS)) xc:none \
        -draw "scale $SS,$SS $mvg" \
        -scale "${w}x${h}" "${OUT_OPTS[@]}" "PNG32:$out"
}

# A clock face at (cx,cy) with radius r: white dial, dark rim, four hour marks
# and the hands at three o'clock.
clock() {
    local cx=$1 cy=$2 r=$3
    awk -v cx="$cx" -v cy="$cy" -v r="$r" -v rim="$RIM" -v ink="$INK" 'BEGIN {
        sw = r * 0.2
        printf "stroke \"%s\" stroke-width %.3f fill white circle %.3f,%.3f %.3f,%.3f ", rim, sw, cx, cy, cx, cy - r + sw / 2
        printf "stroke none fill \"%s\" ", ink
        # four hour marks
        m = r * 0.72; d = r * 0.09
        printf "circle %.3f,%.3f %.3f,%.3f ", cx, cy - m, cx, cy - m + d
        printf "circle %.3f,%.3f %.3f,%.3f ", cx + m, cy, cx + m, cy + d
        printf "circle %.3f,%.3f %.3f,%.3f ", cx, cy + m, cx, cy + m + d
        printf "circle %.3f,%.3f %.3f,%.3f ", cx - m, cy, cx - m, cy + d
        printf "stroke \"%s\" stroke-width %.3f stroke-linecap round fill none ", ink, r * 0.17
        printf "line %.3f,%.3f %.3f,%.3f ", cx, cy, cx, cy - r * 0.62
        printf "line %.3f,%.3f %.3f,%.3f ", cx, cy, cx + r * 0.48, cy
        printf "stroke none fill \"%s\" circle %.3f,%.3f %.3f,%.3f ", ink, cx, cy, cx, cy + r * 0.13
    }'
}

# An arrow as a polygon, from tail (x1,y1) to tip (x2,y2), shaft width sw,
# head length hl and head width hw. Prints the polygon's points.
arrow_points() {
    awk -v x1="$1" -v y1="$2" -v x2="$3" -v y2="$4" -v sw="$5" -v hl="$6" -v hw="$7" 'BEGIN {
        dx = x2 - x1; dy = y2 - y1; len = sqrt(dx * dx + dy * dy)
        ux = dx / len; uy = dy / len; px = -uy; py = ux
        bx = x2 - ux * hl; by = y2 - uy * hl
        s = sw / 2; h = hw / 2
        printf "%.3f,%.3f %.3f,%.3f %.3f,%.3f %.3f,%.3f %.3f,%.3f %.3f,%.3f %.3f,%.3f",
            x1 + px * s, y1 + py * s, bx + px * s, by + py * s, bx + px * h, by + py * h,
            x2, y2,
            bx - px * h, by - py * h, bx - px * s, by - py * s, x1 - px * s, y1 - py * s
    }'
}

# arrow FILL EDGE HALO x1 y1 x2 y2 sw hl hw: a filled arrow with a thin darker
# edge, sitting on a white halo so it stays apart from what lies beneath.
arrow() {
    local fill=$1 edge=$2 halo=$3; shift 3
    local pts
    pts=$(arrow_points "$@")
    printf 'stroke-linejoin round '
    if [ "$halo" != 0 ]; then
        printf 'stroke white stroke-width %s fill white polygon %s ' "$halo" "$pts"
    fi
    printf 'stroke "%s" stroke-width %s fill "%s" polygon %s ' "$edge" "$(awk -v w="$5" 'BEGIN{printf "%.3f", w * 0.22}')" "$fill" "$pts"
}

# A circle as a path segment, for even-odd fills with holes.
ring_path() {
    awk -v cx="$1" -v cy="$2" -v r="$3" 'BEGIN {
        printf "M %.3f,%.3f a %.3f,%.3f 0 1,0 %.3f,0 a %.3f,%.3f 0 1,0 %.3f,0 Z ", cx - r, cy, r, r, 2 * r, r, r, -2 * r
    }'
}

# ---------------------------------------------------------------- list icons

# Scheduled policy: a clock with a green arrow leaving it to the right.
render 18 16 policy.png "
    $(clock 7.5 7.5 6.4)
    $(arrow "$GREEN" "$GREEN_DARK" 1.6 9.2 12.1 17.4 12.1 3.0 4.2 6.6)
"

# Push: a blue target with a green arrow striking its centre.
render 18 16 push.png "
    stroke none fill white circle 11.3,8.9 11.3,1.7
    stroke '$BLUE' stroke-width 1.5 fill none circle 11.3,8.9 11.3,2.65
    stroke '$BLUE' stroke-width 1.5 fill none circle 11.3,8.9 11.3,5.4
    stroke none fill '$BLUE' circle 11.3,8.9 11.3,7.3
    $(arrow "$GREEN" "$GREEN_DARK" 1.3 1.2 -0.4 10.2 8.6 2.8 5.2 7.2)
"

# Launch pad: a clock beside a person in a blue shirt.
SHIRT='M 9.4,15.8 L 9.4,12.2 Q 9.4,8.6 13.3,8.6 Q 17.4,8.6 17.4,12.2 L 17.4,15.8 Z'
render 18 16 launchpad.png "
    $(clock 5.5 9.5 5.0)
    stroke white stroke-width 1.6 fill white
    path '$SHIRT'
    circle 13.4,4.2 13.4,1.2
    stroke '$BLUE_DARK' stroke-width 0.7 fill '$BLUE'
    path '$SHIRT'
    stroke none fill white polygon 12.1,8.7 14.5,8.7 13.3,10.6
    stroke '#8a5a3c' stroke-width 0.7 fill '#f2c9a0'
    circle 13.4,4.2 13.4,1.55
"

# --------------------------------------------------------------- window icon

# A deep blue disc with a teal groove and a see-through hub, and a green arrow
# coming down onto it. Drawn on a 64 px grid.
APP_MVG="
    fill-rule evenodd stroke none fill '$BLUE_DEEP'
    path '$(ring_path 28 36 26.5) $(ring_path 28 36 5)'
    stroke '$TEAL' stroke-width 5 fill none circle 28,36 28,17
    stroke '$TEAL_LIGHT' stroke-width 5 fill none
    path 'M 15.3,22.7 A 18.4,18.4 0 0,1 28,17.6'
    fill-rule evenodd stroke none fill '#e6eef5'
    path '$(ring_path 28 36 10.5) $(ring_path 28 36 5)'
    $(arrow "$GREEN" "$GREEN_DARK" 4.5 49 1.5 49 35 11 12 26)
"
render_app() {
    local size=$1 out=$2
    "${IM[@]}" -size 512x512 xc:none -draw "scale 8,8 $APP_MVG" \
        -scale "${size}x${size}" "${OUT_OPTS[@]}" "PNG32:$out"
}
render_app 32 corvane.png
render_app 64 corvane-64.png

# ------------------------------------------------------------------- banner

# 103 x 350. Name at the top; a disc dropping under a green arrow into a
# monitor in the middle; a light grey band at the bottom whose left part
# (x 8..65, y 308..333) is left empty for the version label the program
# paints there, with an arrow pointing on at the right.
BS=4
BANNER_MVG="
    push graphic-context
    translate 0,8
    $(arrow "$GREEN" "$GREEN_DARK" 0 51.5 62 51.5 104 13 18 32)

    stroke '#8c9aa8' stroke-width 1 fill '#dfe6ed' circle 51.5,143 51.5,116.5
    stroke '#c9d4de' stroke-width 6 fill none circle 51.5,143 51.5,125
    stroke '$TEAL_LIGHT' stroke-width 6 fill none
    path 'M 36.9,129.5 A 18,18 0 0,1 51.5,125'
    stroke '#8c9aa8' stroke-width 1 fill '#f4f7fa' circle 51.5,143 51.5,134
    stroke '#8c9aa8' stroke-width 1 fill white circle 51.5,143 51.5,139

    stroke none fill '$INK' roundrectangle 9,158 94,229 5,5
    fill '$BLUE' rectangle 14,163 89,223
    fill '#3a86c8' polygon 14,163 60,163 14,209
    fill '#cfe3f3' roundrectangle 24,204 79,210 2,2
    fill '$GREEN' roundrectangle 24,204 59,210 2,2
    fill '#ffffff' rectangle 30,175 73,177
    fill '#ffffff' rectangle 30,182 63,184
    fill '#ffffff' rectangle 30,189 68,191
    fill '$INK' polygon 44,229 59,229 61,241 42,241
    fill '$INK' roundrectangle 28,240 75,245 2,2
    pop graphic-context

    fill '#e6e9ed' rectangle 0,290 103,350
    fill '#cdd3da' rectangle 0,290 103,291
    $(arrow "$TEAL" "$TEAL" 0 75 320.5 98 320.5 8 12 20)
"
"${IM[@]}" \
    -size $((103 * BS))x$((350 * BS)) gradient:'#ffffff-#eaf2f8' \
    -draw "scale $BS,$BS $BANNER_MVG" \
    -scale 103x350 \
    -font "$FONT" -pointsize 19 -fill "$BLUE_DEEP" -gravity north -annotate +0+11 Corvane \
    -gravity northwest -fill "$TEAL" -draw "rectangle 30,41 72,42" \
    -alpha off "${OUT_OPTS[@]}" PNG24:banner.png

# The Windows icon file holds both sizes of the window icon.
"${IM[@]}" corvane-64.png corvane.png corvane.ico
