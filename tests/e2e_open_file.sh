#!/usr/bin/env bash
# Starts the real program with a picture named on the command line and checks
# what a user sees: the title names the file, the window has its size, the
# preview shows the picture enlarged 4 times, and the status bar (read back
# by OCR from a screenshot) tells the name, size and format.
#   e2e_open_file.sh path/to/orvanta
set -uo pipefail
binary="${1:?usage: e2e_open_file.sh path/to/orvanta}"
source "$(dirname "$0")/e2e-common.bash"
e2e_require xdotool xwininfo import convert-im6.q16 tesseract

# 64 x 32 opaque red: both sides under 256, so the preview enlarges it 4 times.
peer convert-im6.q16 -size 64x32 'xc:rgb(220,30,40)' "$work/brick.png" || fail "could not make the test picture"

start_program "$work/brick.png"
wait_for_window '^Dravik Orvanta'
sleep 1  # let the first paint finish

title=$(xdotool getwindowname "$window")
[[ "$title" == "Dravik Orvanta - brick.png" ]] || fail "window title is \"$title\""

peer import -window "$window" "$work/shot.png" 2>/dev/null || fail "no screenshot"
shot=$(peer convert-im6.q16 "$work/shot.png" -format '%wx%h' info:)
geometry=$(window_geometry)
[[ "$shot" == "$geometry" ]] || fail "screenshot is $shot, window is $geometry"
w=${geometry%x*}; h=${geometry#*x}
(( w >= 824 && h >= 448 )) || fail "window is only $geometry"

# The preview: scroll area at (4, 4), canvas 4 further in, picture 256 x 128.
# Sample inside the enlarged picture and just outside it.
pixel() { peer convert-im6.q16 "$work/shot.png" -crop "1x1+$1+$2" -format '%[fx:int(255*r)],%[fx:int(255*g)],%[fx:int(255*b)]' info:; }
inside=$(pixel 200 100)
[[ "$inside" == "220,30,40" ]] || fail "preview pixel inside the picture is $inside, expected 220,30,40"
outside=$(pixel 300 100)
[[ "$outside" != "220,30,40" ]] || fail "the picture reaches past its enlarged width of 256"

# The status bar: the bottom strip, enlarged and in grey for the OCR.
peer convert-im6.q16 "$work/shot.png" -gravity south -crop 100%x30+0+0 +repage -resize 300% -colorspace gray "$work/status.png"
status=$(peer tesseract "$work/status.png" - 2>/dev/null | tr -s ' \n' ' ')
echo "status bar reads: $status"
# OCR is unsure about the width of spaces, so they are left out of the comparison.
squeezed=${status// /}
for expected in "brick.png" "64 x 32" "Portable Network Graphics" "Enlarged 4x for visibility"; do
  [[ "$squeezed" == *"${expected// /}"* ]] || fail "status bar does not show \"$expected\""
done

quit_and_check
echo "PASS: opened from the command line with title, preview and status bar as expected"
