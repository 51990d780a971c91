#!/usr/bin/env bash
# run.sh PROBE [SHOTS_DIR]: the end-to-end test in a real X server. Starts Xvfb, opens the
# probe's window (a hosted control and an edit control), drives it with xdotool (click, drag,
# wheel, typing), takes a screenshot of the screen with ImageMagick's import and checks its
# pixels, and passes an image through the system clipboard both ways with xclip. Exit 77 (a
# skip) when one of those programs is missing. The screenshots are kept in SHOTS_DIR if given.
set -u
probe=$1
shots=${2:-}
. "$(dirname "$0")/xserver.sh"
x_require Xvfb xdotool import xclip convert
fail() {
  echo "FAILED: $*"
  echo "--- probe log"; cat "$work/log"; echo "--- probe errors"; cat "$work/err"
  [ -n "$shots" ] && cp "$work"/*.png "$shots"/ 2>/dev/null
  exit 1
}
x_start 640x480

"$probe" >"$work/log" 2>"$work/err" &
x_client_pid=$!
for _ in $(seq 600); do grep -q ready "$work/log" && break; sleep 0.05; done
grep -q ready "$work/log" || fail "the probe did not start"
wid=$(xdotool search --sync --onlyvisible --name quillo-probe | head -1)
[ -n "$wid" ] || fail "no window"
xdotool windowmove --sync "$wid" 0 0 windowfocus --sync "$wid" 2>/dev/null
sleep 0.3
# Without a window manager the window sits at the screen's origin, so window and screen
# coordinates agree.
xdotool mousemove --sync 50 60 click 1
xdotool mousemove --sync 100 100 mousedown 1 mousemove --sync 150 120 mousemove --sync 200 140 mouseup 1
xdotool mousemove --sync 300 200 click 5 click 1
xdotool mousemove --sync 20 275 click 1
sleep 0.2
xdotool type --delay 50 "hi"
sleep 0.5
import -window root "$work/screen.png"
pixel() { convert "$work/screen.png" -format "%[hex:p{$1,$2}]" info:; }
[ "$(pixel 50 60)" = "000000" ] || fail "no dot where the mouse was pressed ($(pixel 50 60))"
[ "$(pixel 150 120)" = "000000" ] || fail "no line along the drag ($(pixel 150 120))"
[ "$(pixel 300 200)" = "FF0000" ] || fail "the wheel did not change the pen ($(pixel 300 200))"
[ "$(pixel 380 100)" = "FFFFFF" ] || fail "paper not white ($(pixel 380 100))"
grep -q "^down 0 48 58$" "$work/log" || fail "press not at the client point"
grep -q "^wheel -120$" "$work/log" || fail "no wheel"
grep -q "^text hi$" "$work/log" || fail "typing did not reach the edit control"

# The clipboard: our copy read by xclip, xclip's image pasted by us.
xdotool mousemove --sync 380 20 click 1
xdotool key c
for _ in $(seq 40); do grep -q copied "$work/log" && break; sleep 0.05; done
grep -q copied "$work/log" || fail "no copy"
xclip -selection clipboard -t image/png -o >"$work/clip.png" 2>/dev/null || fail "xclip read nothing"
[ "$(convert "$work/clip.png" -format '%wx%h' info:)" = "396x246" ] || fail "copied image of the wrong size"
[ "$(convert "$work/clip.png" -format '%[hex:p{48,58}]' info:)" = "000000" ] || fail "copied pixels differ"
convert -size 20x10 xc:'#336699' "$work/in.png"
xclip -selection clipboard -t image/png -i "$work/in.png"
sleep 0.2
xdotool key v
for _ in $(seq 40); do grep -q pasted "$work/log" && break; sleep 0.05; done
grep -q "^pasted 20 10 336699$" "$work/log" || fail "paste: $(grep pasted "$work/log")"
[ -n "$shots" ] && cp "$work/screen.png" "$shots/"
echo "1 passed, 0 failed"
exit 0
