#!/usr/bin/env bash
# Starts the real program with no argument, checks that the main window comes
# up with its title and menus, quits it with Ctrl+Q and checks the exit code.
#   e2e_startup.sh path/to/orvanta
set -uo pipefail
binary="${1:?usage: e2e_startup.sh path/to/orvanta}"
if [[ -z "${DISPLAY:-}" ]]; then
  echo "SKIP: no display (run under xvfb-run)"; exit 0
fi
for tool in xdotool xwininfo; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 1; }
done

work=$(mktemp -d)
log="$work/program.log"
pid=
cleanup() {
  if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null; sleep 0.5; kill -9 "$pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "--- program output:"; cat "$log" 2>/dev/null; exit 1; }

# A fresh config folder, so no stored window place or preference interferes.
XDG_CONFIG_HOME="$work/config" "$binary" >"$log" 2>&1 &
pid=$!

window=
for _ in $(seq 1 100); do
  kill -0 "$pid" 2>/dev/null || fail "the program ended before its window appeared"
  window=$(xdotool search --sync --onlyvisible --pid "$pid" --name '^Dravik Orvanta$' 2>/dev/null | head -1) && [[ -n "$window" ]] && break
  sleep 0.2
done
[[ -n "$window" ]] || fail "no window titled \"Dravik Orvanta\" within 20 seconds"

title=$(xdotool getwindowname "$window")
[[ "$title" == "Dravik Orvanta" ]] || fail "window title is \"$title\""

# The menu bar lives inside the window; F10 opens its first menu ("File",
# six entries), which shows up as a new popup window of the program.
geometry=$(xwininfo -id "$window" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w"x"h}')
w=${geometry%x*}; h=${geometry#*x}
(( w >= 824 && h >= 448 )) || fail "window is only ${geometry}, expected at least 824x448 inside"
echo "window $window \"$title\" ${geometry}"

xdotool windowfocus --sync "$window" 2>/dev/null
list_windows() { xwininfo -root -children | grep '"orvanta"' | awk '{print $1, $(NF-1)}' | sort; }
before=$(list_windows)
xdotool key --window "$window" F10
menu=
for _ in $(seq 1 30); do
  sleep 0.1
  menu=$(comm -13 <(echo "$before") <(list_windows) | awk '{print $2}' | awk -F'[x+]' '$1 >= 150 && $2 >= 100' | head -1)
  [[ -n "$menu" ]] && break
done
[[ -n "$menu" ]] || fail "F10 opened no menu popup"
echo "File menu popup ${menu}"
xdotool key --window "$window" Escape
sleep 0.3

if command -v import >/dev/null; then
  import -window "$window" "$work/shot.png" 2>/dev/null && echo "screenshot taken"
fi

# Ctrl+Q with nothing open quits without asking.
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window" 2>/dev/null
sleep 0.3
xdotool key --window "$window" --clearmodifiers ctrl+q

status=
for _ in $(seq 1 100); do
  if ! kill -0 "$pid" 2>/dev/null; then wait "$pid"; status=$?; break; fi
  sleep 0.1
done
[[ -n "$status" ]] || fail "the program did not end within 10 seconds of Ctrl+Q"
pid=
[[ "$status" == 0 ]] || fail "exit code $status, expected 0"
echo "PASS: window came up and Ctrl+Q ended the program with exit code 0"
