#!/usr/bin/env bash
# Started where no display can be opened, the program says so on standard
# error and exits with 1; it must never die on a trap (a test that connects
# while the X server resets meets exactly this).
#   e2e_no_display.sh path/to/orvanta
set -uo pipefail
binary="${1:?usage: e2e_no_display.sh path/to/orvanta}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for display in ":4077" ""; do
  XDG_CONFIG_HOME="$work" DISPLAY="$display" WAYLAND_DISPLAY= timeout 30 "$binary" >"$work/out" 2>&1
  rc=$?
  if [[ $rc -ne 1 ]] || ! grep -q "cannot open the display" "$work/out"; then
    echo "FAIL: DISPLAY=\"$display\" gave exit code $rc (expected 1 with a message); output:"
    cat "$work/out"
    exit 1
  fi
done
echo "no display: exit code 1 with a message"
