#!/usr/bin/env bash
# view_run.sh VIEWER TOOL [SHOTS_DIR]: quillo-view end to end in a real X server. Opens an image
# from the command line, checks the screen shows it pixel for pixel, drags a selection with the
# mouse, negates it with the keyboard shortcut, saves with Ctrl+S, and compares the saved file
# with the same selection and operation done by the library through the command-line tool. Exit
# 77 (a skip) when Xvfb, xdotool or ImageMagick is missing. Screenshots are kept in SHOTS_DIR if
# given.
set -u
viewer=$(realpath "$1")
tool=$(realpath "$2")
shots=${3:-}
. "$(dirname "$0")/xserver.sh"
x_require Xvfb xdotool import convert compare
fail() {
  echo "FAILED: $*"
  echo "--- viewer output"; cat "$work/log"
  [ -n "$shots" ] && cp "$work"/*.png "$shots"/ 2>/dev/null
  exit 1
}
x_start 1024x768

# A photograph-like picture in 8-bit RGB (nothing a PNG rewrite could lose), pure red along its
# top row so that it can be found on the screen.
convert -size 300x200 gradient:'#FF0000-#0000FF' -fill '#FFFF00' -draw 'circle 150,100 150,40' \
  -depth 8 PNG24:"$work/photo.png" || fail "no test image"
cp "$work/photo.png" "$work/orig.png"

( cd "$work" && exec "$viewer" photo.png ) >"$work/log" 2>&1 &
x_client_pid=$!
wid=$(xdotool search --sync --onlyvisible --name "photo.png.*quillo-view" | head -1)
[ -n "$wid" ] || fail "no window"
xdotool windowmove --sync "$wid" 0 0 windowfocus --sync "$wid" 2>/dev/null
sleep 1
import -window root "$work/open.png"
# The image's top-left pixel: the first pure red one on the screen.
origin=$(convert "$work/open.png" txt:- | grep -m1 '#FF0000' | cut -d: -f1)
[ -n "$origin" ] || fail "the image is not on the screen"
ox=${origin%,*}
oy=${origin#*,}
echo "image shown at $ox,$oy"
convert "$work/open.png" -crop "300x200+$ox+$oy" +repage "$work/shown.png"
[ "$(compare -metric AE "$work/shown.png" "$work/orig.png" null: 2>&1)" = "0" ] ||
  fail "the screen does not show the image pixel for pixel at 100%"

# A rectangle selection dragged from image pixel (31, 24) to (131, 104), then Ctrl+I.
xdotool mousemove --sync $((ox + 31)) $((oy + 24)) mousedown 1 \
  mousemove --sync $((ox + 80)) $((oy + 60)) mousemove --sync $((ox + 131)) $((oy + 104)) mouseup 1
sleep 0.3
xdotool key ctrl+i
sleep 0.5
import -window root "$work/negated.png"
before=$(convert "$work/orig.png" -format '%[hex:p{60,50}]' info:)
after=$(convert "$work/negated.png" -format "%[hex:p{$((ox + 60)),$((oy + 50))}]" info:)
outside=$(convert "$work/negated.png" -format "%[hex:p{$((ox + 200)),$((oy + 150))}]" info:)
[ "$after" != "$before" ] || fail "the selection was not negated on the screen"
[ "$outside" = "$(convert "$work/orig.png" -format '%[hex:p{200,150}]' info:)" ] ||
  fail "pixels outside the selection changed on the screen"

sum=$(md5sum <"$work/photo.png")
xdotool key ctrl+s
for _ in $(seq 100); do [ "$(md5sum <"$work/photo.png")" != "$sum" ] && break; sleep 0.1; done
[ "$(md5sum <"$work/photo.png")" != "$sum" ] || fail "Ctrl+S did not save"
sleep 0.3
"$tool" --quiet process "$work/orig.png" "$work/expect.png" select 31 24 132 105 negative ||
  fail "the tool failed"
ae=$(compare -metric AE "$work/photo.png" "$work/expect.png" "$work/diff.png" 2>&1)
[ "$ae" = "0" ] || fail "the saved file differs from the library's result in $ae pixels"

# A box annotation (B, then a drag) is written into the saved file; the image under it is not
# touched inside the box.
xdotool mousemove --sync $((ox + 200)) $((oy + 150)) click 1
xdotool key b
sleep 0.2
xdotool mousemove --sync $((ox + 150)) $((oy + 120)) mousedown 1 \
  mousemove --sync $((ox + 200)) $((oy + 150)) mousemove --sync $((ox + 250)) $((oy + 180)) mouseup 1
sleep 0.3
sum=$(md5sum <"$work/photo.png")
xdotool key ctrl+s
for _ in $(seq 100); do [ "$(md5sum <"$work/photo.png")" != "$sum" ] && break; sleep 0.1; done
[ "$(md5sum <"$work/photo.png")" != "$sum" ] || fail "the annotated image was not saved"
sleep 0.3
[ "$(convert "$work/photo.png" -format '%[hex:p{150,150}]' info:)" = "000000" ] ||
  fail "the box's left edge is not in the saved file"
[ "$(convert "$work/photo.png" -format '%[hex:p{200,150}]' info:)" = \
  "$(convert "$work/expect.png" -format '%[hex:p{200,150}]' info:)" ] ||
  fail "the inside of a clear box changed"
import -window root "$work/annotated.png"
xdotool key m

# The wheel turned up zooms in: the image grows over what was background beside its corner.
[ "$(convert "$work/open.png" -format "%[hex:p{$((ox - 4)),$((oy - 4))}]" info:)" = "404040" ] ||
  fail "no background beside the image"
xdotool mousemove --sync $((ox + 150)) $((oy + 100)) click 4
sleep 0.8
import -window root "$work/zoomed.png"
[ "$(convert "$work/zoomed.png" -format "%[hex:p{$((ox - 4)),$((oy - 4))}]" info:)" != "404040" ] ||
  fail "the wheel did not zoom in"
[ -n "$shots" ] && cp "$work"/open.png "$work"/negated.png "$work"/annotated.png "$work"/zoomed.png "$shots"/
echo "1 passed, 0 failed"
exit 0
