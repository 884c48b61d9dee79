#!/usr/bin/env bash
# Starts the real program with no argument, checks that the main window comes
# up with its title and menus, quits it with Ctrl+Q and checks the exit code.
#   e2e_startup.sh path/to/orvanta
set -uo pipefail
binary="${1:?usage: e2e_startup.sh path/to/orvanta}"
source "$(dirname "$0")/e2e-common.bash"
e2e_require xdotool xwininfo

start_program
wait_for_window '^Dravik Orvanta$'

title=$(xdotool getwindowname "$window")
[[ "$title" == "Dravik Orvanta" ]] || fail "window title is \"$title\""

# The menu bar lives inside the window; F10 opens its first menu ("File",
# six entries), which shows up as a new popup window of the program.
geometry=$(window_geometry)
w=${geometry%x*}; h=${geometry#*x}
(( w >= 824 && h >= 448 )) || fail "window is only ${geometry}, expected at least 824x448 inside"
echo "window $window \"$title\" ${geometry}"

xdotool windowfocus --sync "$window" 2>/dev/null
list_windows() { xwininfo -root -children | grep '"orvanta"' | awk '{print $1, $(NF-1)}' | sort; }
# The popup is a window new by its id: a slow (sanitized) start may still
# resize the main window, so the list is taken once it is steady.
before=$(list_windows)
for _ in $(seq 1 10); do
  sleep 1
  now=$(list_windows)
  [[ "$now" == "$before" ]] && break
  before=$now
done
xdotool key --window "$window" F10
menu=
for _ in $(seq 1 30); do
  sleep 0.1
  menu=$(awk 'NR == FNR { seen[$1] = 1; next } !($1 in seen) { print $2 }' <(echo "$before") <(list_windows) |
    awk -F'[x+]' '$1 >= 150 && $2 >= 100' | head -1)
  [[ -n "$menu" ]] && break
done
[[ -n "$menu" ]] || fail "F10 opened no menu popup"
echo "File menu popup ${menu}"
# While the popup is open it holds the keyboard, so Ctrl+Q would go to the
# menu: wait until it is really gone, with Escape again each second it stays.
popup=$(list_windows | awk -v g="$menu" '$2 == g {print $1; exit}')
closed=
for i in $(seq 0 49); do
  ((i % 10 == 0)) && xdotool key --window "$window" Escape
  sleep 0.1
  xwininfo -id "$popup" 2>/dev/null | grep -q "Map State: IsViewable" || { closed=1; break; }
done
[[ -n "$closed" ]] || fail "Escape did not close the File menu"

if command -v import >/dev/null; then
  peer import -window "$window" "$work/shot.png" 2>/dev/null && echo "screenshot taken"
fi

quit_and_check
echo "PASS: window came up and Ctrl+Q ended the program with exit code 0"
