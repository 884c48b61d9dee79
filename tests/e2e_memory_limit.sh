#!/usr/bin/env bash
# shellcheck disable=SC2317  # conditions are called by name
# The real program in a memory control group of its own: it opens a
# picture, gets an unsaved edit (Tools > Channels > Invert alpha, so the
# history holds two pictures), then one step that needs more picture-sized
# memory is driven through its menus and dialogs. Past the limit the kernel
# would end the program and the edit with it, so each step must be done or
# refused with a message box, the program must live on with its edit, and no
# temporary (".orvanta-*") may be left. Then the core beside it
# (orvanta_cli) in groups of its own: a batch converts every item that
# converts alone. ORVANTA_E2E_ONLY="levels save" runs only the steps named. Needs
# root and memory control groups (v1 or v2).
set -uo pipefail
binary=$(realpath "${1:?usage: e2e_memory_limit.sh path/to/orvanta}")
# The group is charged the cache of what the program writes, which a folder
# held in memory (tmpfs) could never give back.
[[ "$(stat -f -c %T "${TMPDIR:-/tmp}" 2>/dev/null)" == tmpfs ]] && export TMPDIR="$PWD"
# shellcheck source-path=SCRIPTDIR source=e2e-common.bash
source "$(dirname "$0")/e2e-common.bash"
[[ -n "${DISPLAY:-}" ]] || { echo "SKIP: no display (run under xvfb-run)"; exit 0; }
command -v xdotool >/dev/null || { echo "SKIP: xdotool is not installed"; exit 0; }
[[ $(id -u) == 0 ]] || { echo "SKIP: making memory control groups needs root"; exit 0; }
e2e_require xwininfo /usr/bin/python3

# Step, picture, second picture, room: the MiB a group holds above what the
# program takes with its picture open (measured first, so GTK's and a
# sanitizer's own memory do not shift it). The room holds the edit (a
# picture and the 64 MiB reserve) but not what the step used to take
# unchecked: a preview copy, a decoded picture or mask, or for the save a
# DDS mip level, a quarter of a larger picture.
scenarios=(
  "levels 8192x4096  -         224"
  "open   8192x4096  8192x4096 224"
  "save   12288x8192 -         466"
  "mask   8192x4096  8192x4096 224"
)

# --- Memory control groups: v1's memory hierarchy, else v2's ----------------
cg=; if cg=$(sed -n 's/^[0-9]*:\([^:]*,\)\?memory\(,[^:]*\)\?://p' /proc/self/cgroup) && [[ -n "$cg" ]]; then
  cg_parent=/sys/fs/cgroup/memory$cg limit_file=memory.limit_in_bytes usage_file=memory.usage_in_bytes
  swap_file=memory.memsw.limit_in_bytes
else
  cg_parent=/sys/fs/cgroup$(sed -n 's/^0:://p' /proc/self/cgroup) limit_file=memory.max usage_file=memory.current
  swap_file=memory.swap.max
  echo +memory >"$cg_parent/cgroup.subtree_control" 2>/dev/null
fi
[[ -d "$cg_parent" ]] || cg_parent=${cg_parent%"${cg:-}"}  # a container sees its own group as the root
group=''
make_group() {  # NAME MIB (0: no limit), with no swap either
  group="$cg_parent/orvanta-e2e-$$-$1"
  mkdir "$group" 2>/dev/null && [[ -f "$group/cgroup.procs" ]] || return 1
  (($2 == 0)) || echo $(($2 << 20)) >"$group/$limit_file" || return 1
  if [[ $swap_file == *max ]]; then echo 0 >"$group/$swap_file"
  elif (($2 > 0)); then echo $(($2 << 20)) >"$group/$swap_file"; fi 2>/dev/null
  return 0
}
group_usage_mib() { echo $(($(cat "$group/$usage_file" 2>/dev/null || echo 0) >> 20)); }
remove_group() {
  local _
  [[ -n "$group" ]] && for _ in $(seq 1 50); do rmdir "$group" 2>/dev/null && break; sleep 0.1; done
  group=
}
make_group probe 64 || { remove_group; echo "SKIP: cannot make a memory control group in $cg_parent"; exit 0; }
remove_group
trap 'e2e_cleanup; remove_group' EXIT

# --- The program ----------------------------------------------------------
# A shell joins the group, then becomes the program. ASan's quarantine would
# keep freed pictures counted.
start_in_group() {
  XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache" \
    GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=0" \
    bash -c 'echo $$ >"$0/cgroup.procs" && exec "$@"' "$group" "$binary" "$@" >"$log" 2>&1 &
  pid=$!
}
alive() { kill -0 "$pid" 2>/dev/null; }
stop_program() { kill "$pid" 2>/dev/null; sleep 0.5; kill -9 "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; pid=; }
# await SECONDS CONDITION...: 0 when it holds, 1 when the time is up, 2 as
# soon as the program is gone.
await() {
  local end=$((SECONDS + $1)); shift
  while ((SECONDS < end)); do
    alive || return 2
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
windows_named() { xdotool search --all --onlyvisible --pid "$pid" --name "$1" 2>/dev/null; }
window_named() { windows_named "$1" | head -1; }
has_window() { [[ -n "$(window_named "$1")" ]]; }
no_window() { ! has_window "$1"; }
gone() { ! xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }
popups_are() { [[ $(windows_named '^orvanta$' | wc -l) == "$1" ]]; }
# A message box bears the program's title alone.
message_box() { windows_named '^Dravik Orvanta$' | head -1 | grep .; }
has_box() { message_box >/dev/null; }
# Settled: almost no processor time for a second, as while it waits for input.
settled() {
  local before after
  before=$(awk '{print $14 + $15}' /proc/"$pid"/stat 2>/dev/null); sleep 1
  after=$(awk '{print $14 + $15}' /proc/"$pid"/stat 2>/dev/null)
  [[ -n "$before" && -n "$after" ]] && ((after - before <= 2))
}
focus() { timeout 10 xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1" 2>/dev/null; sleep 0.1; }
press() { xdotool key --clearmodifiers "$@"; }
# menu RIGHTS DOWNS SUBMENU-DOWNS from F10 (File). Keys sent before a popup
# holds the keyboard would reach the window below, so each is waited for.
menu() {
  local i
  focus "$main"; press F10
  await 10 popups_are 1 || return 1
  for ((i = 0; i < $1; i++)); do press Right; sleep 0.1; done
  for ((i = 0; i < $2; i++)); do press Down; sleep 0.05; done
  press Right
  await 10 popups_are 2 || return 1
  for ((i = 0; i < $3; i++)); do press Down; sleep 0.05; done
  press Return
  await 10 popups_are 0
}
# choose_file TITLE PATH: typed into an open dialog's location or a save dialog's name.
choose_file() {
  await 20 has_window "$1" || return 1
  focus "$(window_named "$1")"
  [[ "$1" == '^Save As$' ]] || press ctrl+l
  press ctrl+a; xdotool type --delay 10 "$2"; sleep 0.3; press Return
  await 20 no_window "$1"
}
# RGBA with alpha from 96 to 223: still transparent after Invert alpha, so
# Save As offers DXT5.
make_picture() {  # WxH
  [[ -f "$work/$1.png" ]] || peer /usr/bin/python3 - "${1%x*}" "${1#*x}" "$work/$1.png" <<'EOF' || fail "could not make $1"
import sys
from PIL import Image
w, h, path = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
alpha = Image.linear_gradient('L').resize((w, h)).point(lambda v: 96 + v // 2)
red = Image.linear_gradient('L').rotate(90).resize((w, h))
Image.merge('RGBA', (red, Image.new('L', (w, h), 120), Image.new('L', (w, h), 60), alpha)).save(path, compress_level=1)
EOF
}

# --- The steps: each ends when the program is gone, a new message box shows
# or its condition of being done holds; outcome says which. ---------------
outcome='' box=''
finish_step() {
  ended() { has_box || "$@"; }
  await 60 ended "$@"
  case $? in
    2) outcome=killed ;;
    1) outcome="neither done nor refused within a minute" ;;
    0) # A box just shown may miss one query: two looks must agree.
       local _
       for _ in $(seq 1 10); do
         if box=$(message_box); then outcome=refused; return; fi
         "$@" && ! has_box && { outcome="done"; return; }
         sleep 0.2
       done
       outcome="neither done nor refused" ;;
  esac
}
step_levels() {
  focus "$main"; press ctrl+l
  levels_shown() { has_window '^Levels$' && settled; }
  finish_step levels_shown
  [[ $outcome == "done" ]] || return
  focus "$(window_named '^Levels$')"; press Escape
  await 20 no_window '^Levels$' || outcome="Escape did not close Levels"
}
step_open() {
  focus "$main"; press ctrl+o
  choose_file '^Open file$' "$dir/second.png" || { outcome="the Open file dialog did not take the name"; return; }
  await 20 has_box || { outcome="no question about the unsaved edit"; return; }
  local question
  question=$(message_box)
  focus "$question"; press Return  # Yes, discard them
  await 20 gone "$question" || { outcome="the question stayed"; return; }
  second_shown() { has_window '^Dravik Orvanta - second\.png$'; }
  finish_step second_shown
}
step_save() {
  focus "$main"; press shift+ctrl+s
  choose_file '^Save As$' "$dir/out.dds" || { outcome="the Save As dialog did not take the name"; return; }
  await 20 has_window '^Save as DDS$' || { outcome="no DDS options"; return; }
  # OK in the 380 x 150 dialog, mipmaps ticked already.
  local dialog w h
  dialog=$(window_named '^Save as DDS$')
  read -r w h < <(xwininfo -id "$dialog" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w, h}')
  focus "$dialog"
  xdotool mousemove --window "$dialog" $((w * 236 / 380)) $((h * 124 / 150)) click 1
  saved() { has_window '^Dravik Orvanta - main\.png$'; }  # no " *" once saved
  finish_step saved
}
step_mask() {
  menu 4 2 4 || { outcome="could not reach Tools > Channels > Load alpha from image"; return; }
  choose_file '^Choose a mask' "$dir/mask.png" || { outcome="the mask dialog did not take the name"; return; }
  finish_step settled  # done shows no sign but the program idle again
}

declare -A baselines  # MiB the program takes with a picture open, by picture
failures=0 ran=0
for row in "${scenarios[@]}"; do
  read -r name picture second room <<<"$row"
  [[ -z "${ORVANTA_E2E_ONLY:-}" || " $ORVANTA_E2E_ONLY " == *" $name "* ]] || continue
  make_picture "$picture"
  if [[ -z "${baselines[$picture]:-}" ]]; then
    make_group baseline 0 || fail "cannot make a memory control group in $cg_parent"
    start_in_group "$work/$picture.png"
    await 60 has_window '^Dravik Orvanta - ' || fail "the picture did not open"
    settled
    baselines[$picture]=$(group_usage_mib)
    stop_program; remove_group
  fi
  limit=$((baselines[$picture] + room))
  dir="$work/$name"
  mkdir -p "$dir"
  ln -f "$work/$picture.png" "$dir/main.png"
  [[ "$second" == - ]] || { make_picture "$second"; ln -f "$work/$second.png" "$dir/second.png"; ln -f "$work/$second.png" "$dir/mask.png"; }
  make_group "$name" "$limit" || fail "cannot make a memory control group of $limit MiB in $cg_parent"
  outcome='' box='' problem=''
  start_in_group "$dir/main.png"
  edited_or_box() { has_window '^Dravik Orvanta - main\.png \*$' || has_box; }
  if ! await 60 has_window '^Dravik Orvanta - main\.png$'; then problem="the picture did not open"
  else
    main=$(window_named '^Dravik Orvanta - main\.png$')
    settled
    if ! menu 4 2 5 || ! await 60 edited_or_box || has_box; then problem="Invert alpha made no edit"; fi
  fi
  alive || problem="the program ended before the step"
  usage=$(group_usage_mib)
  [[ -n "$problem" ]] || "step_$name"
  alive || outcome=killed
  if [[ $outcome == refused ]]; then
    focus "$box"; press Return
    await 20 gone "$box" || problem="the message box stayed"
    settled
  fi
  title=$(alive && xdotool getwindowname "$main" 2>/dev/null)
  # Refused, the edit must still be there; only Open, told to, lets it go.
  [[ $outcome == refused && $name != open && "$title" != *' *' ]] && problem="refused, and the edit is gone"
  [[ $name == save && $outcome == refused && -e "$dir/out.dds" ]] && problem="refused, yet out.dds was written"
  [[ $name == save && $outcome == "done" && ! -s "$dir/out.dds" ]] && problem="done, yet out.dds is missing"
  [[ $outcome == "done" || $outcome == refused ]] || problem+="${problem:+; }neither done nor refused"
  left=$(find "$dir" -name '.orvanta-*' -printf '%f ' 2>/dev/null)
  [[ -n "$left" ]] && problem+="${problem:+; }temporary left: $left"
  line=$(printf '%-6s in %4s MiB (%4s MiB before the step): %s' "$name" "$limit" "$usage" "${outcome:-not run}")
  if [[ -n "$problem" ]]; then
    failures=$((failures + 1))
    echo "FAIL $line: $problem"; echo "--- program output:"; tail -20 "$log"
  else
    echo "ok   $line"
  fi
  [[ -n "$pid" ]] && stop_program
  remove_group
  rm -rf "$dir"
  ran=$((ran + 1))
done
# --- The core on its own ---------------------------------------------------
cli=$(dirname "$binary")/orvanta_cli
[[ -x "$cli" ]] || fail "no orvanta_cli beside the program"
# least_alone COMMAND...: the fewest MiB, to 2 MiB, in which it succeeds.
least_alone() {
  local lo=16 hi=1024 mid
  while ((hi - lo > 2)); do
    mid=$(((lo + hi) / 2))
    if "$@" "$mid"; then hi=$mid; else lo=$mid; fi
  done
  echo "$hi"
}

# Four pictures and, second, one cut short: each good one converts alone in
# some group; the batch of all five, in 16 MiB more, converts every good one
# as a run without a group does, byte for byte, and fails only the cut one.
# ASan's quarantine would keep one item's freed pictures for the next.
batch_into() {  # FOLDER [MIB]: the batch of $pictures, in a group of MIB; 137 when the kernel ended it
  rm -rf "$1" && mkdir "$1" || return 1
  [[ -z "${2:-}" ]] && { "$cli" batch "$1" "${pictures[@]}" >"$log" 2>&1; return; }
  make_group core "$2" || fail "cannot make a memory control group of $2 MiB"
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=0" \
    bash -c 'echo $$ >"$0/cgroup.procs" && exec "$@"' "$group" "$cli" batch "$1" "${pictures[@]}" >"$log" 2>&1
  local rc=$?
  remove_group
  return $rc
}
if [[ -z "${ORVANTA_E2E_ONLY:-}" || " $ORVANTA_E2E_ONLY " == *" batch "* ]]; then
  for i in 1 2 3 4; do make_picture "2048x$((2048 + i))"; done
  head -c $(($(stat -c %s "$work/2048x2050.png") * 95 / 100)) "$work/2048x2050.png" >"$work/cut.png"
  pictures=("$work/2048x2049.png"); alone() { batch_into "$work/alone" "$1"; }
  least=$(least_alone alone)
  pictures=("$work/2048x2049.png" "$work/cut.png" "$work/2048x2050.png" "$work/2048x2051.png" "$work/2048x2052.png")
  batch_into "$work/free"
  batch_into "$work/tight" $((least + 16)); rc=$?
  summary=$(head -1 "$log") problem=''
  [[ $rc == 137 ]] && problem="the kernel ended the batch"
  [[ $summary == "Converted: 4   Skipped: 0   Failed: 1" ]] || problem+="${problem:+; }$summary"
  diff -r "$work/free" "$work/tight" >/dev/null || problem+="${problem:+; }outputs differ from a run without a group"
  line=$(printf 'batch  in %4s MiB (one item alone in %s MiB): %s' $((least + 16)) "$least" "$summary")
  if [[ -n "$problem" ]]; then failures=$((failures + 1)); echo "FAIL $line: $problem"; else echo "ok   $line"; fi
  ran=$((ran + 1))
fi

((ran > 0)) || fail "no step named in ORVANTA_E2E_ONLY=\"${ORVANTA_E2E_ONLY:-}\""
((failures == 0)) || { echo "FAIL: $failures of $ran steps lost the program, the edit or a temporary"; exit 1; }
echo "PASS: every step was done or refused with a message, the program lived on with its edit, and the batch converted what fits"
