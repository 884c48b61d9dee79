# Shared steps of the end-to-end scripts (sourced, not run on its own):
# checks the display and tools, starts the program with a fresh config folder,
# finds its main window, quits it with Ctrl+Q and checks the exit code.
# Needs: binary (the program) set by the caller; provides: work (also the
# working folder, so that nothing a step writes by accident lands where the
# script was started, the build), log, pid, window, fail, peer,
# start_program, wait_for_window, quit_and_check.

e2e_require() {
  if [[ -z "${DISPLAY:-}" ]]; then
    echo "SKIP: no display (run under xvfb-run)"; exit 0
  fi
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed"; exit 1; }
  done
}

binary=$(realpath "$binary")
work=$(mktemp -d)
cd "$work" || exit 1
log="$work/program.log"
pid=
window=
e2e_cleanup() {
  if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null; sleep 0.5; kill -9 "$pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap e2e_cleanup EXIT
fail() { echo "FAIL: $*"; echo "--- program output:"; cat "$log" 2>/dev/null; exit 1; }
# peer COMMAND...: a tool around the program (ImageMagick, tesseract,
# Pillow) in the C locale, where it reads its arguments as written: in a
# Turkish one ImageMagick knows neither "info:" nor "gradient:". The program
# keeps the caller's locale.
peer() { LC_ALL=C "$@"; }

# start_program [args...]: a fresh config folder, so no stored window place
# or preference interferes.
start_program() {
  XDG_CONFIG_HOME="$work/config" "$binary" "$@" >"$log" 2>&1 &
  pid=$!
}

# wait_for_window TITLE-REGEX: sets window to the program's visible window.
wait_for_window() {
  local _
  for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || fail "the program ended before its window appeared"
    window=$(xdotool search --all --onlyvisible --pid "$pid" --name "$1" 2>/dev/null | head -1) && [[ -n "$window" ]] && return
    sleep 0.2
  done
  fail "no window titled \"$1\" within 20 seconds"
}

window_geometry() { xwininfo -id "$window" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w"x"h}'; }

# What a program that does not end is doing: its state, where the kernel
# holds it, and every thread's stack when gdb is there.
describe_stuck_program() {
  echo "--- state: $(grep -E '^State' /proc/"$pid"/status 2>/dev/null) wchan: $(cat /proc/"$pid"/wchan 2>/dev/null)"
  echo "--- windows: $(xwininfo -root -children | grep -c '"orvanta"') focus: $(xdotool getwindowfocus 2>&1)"
  command -v gdb >/dev/null && gdb -p "$pid" -batch -ex "thread apply all bt 12" 2>/dev/null | grep -E '^(#|Thread)' | head -60
}

# Ctrl+Q with no unsaved edits quits without asking; the exit code must be 0.
quit_and_check() {
  xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window" 2>/dev/null
  sleep 0.3
  # The X server outlives the programs it serves: a key that an earlier run
  # pressed into a window that vanished at once (its Ctrl+Q) can still be
  # down in the server, and pressing a held key does nothing.
  xdotool keyup ctrl+q 2>/dev/null
  xdotool key --window "$window" --clearmodifiers ctrl+q
  local status= _
  for _ in $(seq 1 100); do
    if ! kill -0 "$pid" 2>/dev/null; then wait "$pid"; status=$?; break; fi
    sleep 0.1
  done
  [[ -n "$status" ]] || { describe_stuck_program; fail "the program did not end within 10 seconds of Ctrl+Q"; }
  pid=
  [[ "$status" == 0 ]] || fail "exit code $status, expected 0"
}
