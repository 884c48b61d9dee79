#!/usr/bin/env bash
# shellcheck disable=SC2317  # conditions are called by name
# The real program in a session with a memory limit: it runs in a memory
# control group of its own, opens a picture, gets an unsaved edit (Tools >
# Channels > Invert alpha, so the history holds two pictures), and then one
# step that needs more picture-sized memory is driven through its menus and
# dialogs. Past the limit the kernel would end the program and the edit
# with it, so each step must be done or refused with a message box, the
# program must live on with its edit, and no temporary (".orvanta-*") may be
# left.
#
#   e2e_memory_limit.sh path/to/orvanta
#       8192 x 4096 pictures (12288 x 8192 for the save): half a minute.
#   ORVANTA_E2E_FULL=1 e2e_memory_limit.sh path/to/orvanta
#       The sizes users met: up to 16384 x 8192 in groups of up to 1200 MB.
# ORVANTA_E2E_ONLY="levels save" runs only the steps named. Needs root and
# memory control groups (v1, or v2 with the memory controller delegated).
set -uo pipefail
binary=$(realpath "${1:?usage: e2e_memory_limit.sh path/to/orvanta}")
# The group is charged the file cache of what the program writes, which a
# folder held in memory (tmpfs) could never give back.
[[ "$(stat -f -c %T "${TMPDIR:-/tmp}" 2>/dev/null)" == tmpfs ]] && export TMPDIR="$PWD"
# shellcheck source-path=SCRIPTDIR source=e2e-common.bash
source "$(dirname "$0")/e2e-common.bash"
[[ -n "${DISPLAY:-}" ]] || { echo "SKIP: no display (run under xvfb-run)"; exit 0; }
command -v xdotool >/dev/null || { echo "SKIP: xdotool is not installed"; exit 0; }
[[ $(id -u) == 0 ]] || { echo "SKIP: making memory control groups needs root"; exit 0; }
e2e_require xwininfo /usr/bin/python3
/usr/bin/python3 -c 'import PIL' 2>/dev/null || fail "Pillow is missing for /usr/bin/python3 (python3-pil)"

# step, then scaled: picture, second picture, room; full: picture, second, group (MB).
# A scaled group is the room (MiB) above what the program takes with its
# picture open, measured first, so that GTK's and a sanitizer's own memory
# do not shift it. The room holds the edit (a picture and the program's 64
# MiB reserve) but not what the step used to take unchecked (a preview copy,
# a decoded picture or mask: a picture each; a DDS mip level: a quarter of
# one, so the save has a larger picture, whose quarter is past the reserve).
scenarios=(
  "levels 8192x4096  -         224 8192x8192  -         780"
  "open   8192x4096  8192x4096 224 16384x8192 8192x8192 1200"
  "save   12288x8192 -         466 16384x8192 -         1200"
  "mask   8192x4096  8192x4096 224 16384x8192 8192x8192 1200"
)
full=${ORVANTA_E2E_FULL:-0}

# --- Memory control groups ----------------------------------------------------
cg_version='' cg_parent='' group=''
find_group_parent() {  # the folder of this process's memory group
  local line root mount rel
  if line=$(grep -m1 -E '^[0-9]+:([^:]*,)?memory(,[^:]*)?:' /proc/self/cgroup); then
    cg_version=1
    read -r root mount < <(awk '{ split($0, p, " - "); split(p[2], f, " ")
      if (f[1] == "cgroup" && f[3] ~ /(^|,)memory(,|$)/) { print $4, $5; exit } }' /proc/self/mountinfo)
  elif line=$(grep -m1 '^0::' /proc/self/cgroup); then
    cg_version=2
    read -r root mount < <(awk '{ split($0, p, " - "); split(p[2], f, " ")
      if (f[1] == "cgroup2") { print $4, $5; exit } }' /proc/self/mountinfo)
  fi
  [[ -n "$cg_version" && -n "${mount:-}" ]] || return 1
  rel=$(cut -d: -f3- <<<"$line")
  [[ "$root" != / && "$rel" == "$root"* ]] && rel=${rel#"$root"}
  cg_parent="$mount$rel"
  [[ -d "$cg_parent" ]] || cg_parent=$mount
  # v2 hands the controller to child groups only when asked to.
  [[ $cg_version == 1 ]] || grep -qw memory "$cg_parent/cgroup.subtree_control" 2>/dev/null ||
    echo +memory >"$cg_parent/cgroup.subtree_control" 2>/dev/null
}
make_group() {  # NAME MIB (0: no limit), with no swap either
  group="$cg_parent/orvanta-e2e-$$-$1"
  mkdir "$group" 2>/dev/null && [[ -f "$group/cgroup.procs" ]] || return 1
  (($2 > 0)) || return 0
  if [[ $cg_version == 1 ]]; then
    echo $(($2 << 20)) >"$group/memory.limit_in_bytes" || return 1
    echo $(($2 << 20)) >"$group/memory.memsw.limit_in_bytes" 2>/dev/null
  else
    echo $(($2 << 20)) >"$group/memory.max" || return 1
    echo 0 >"$group/memory.swap.max" 2>/dev/null
  fi
  return 0
}
group_usage_mib() {
  local file=memory.current
  [[ $cg_version == 1 ]] && file=memory.usage_in_bytes
  echo $(($(cat "$group/$file" 2>/dev/null || echo 0) >> 20))
}
remove_group() {
  local _
  [[ -n "$group" ]] && for _ in $(seq 1 50); do rmdir "$group" 2>/dev/null && break; sleep 0.1; done
  group=
}

# --- The program --------------------------------------------------------------
# A shell joins the group, then becomes the program, so nothing it takes is
# outside the group. ASan's quarantine would keep freed pictures counted.
start_in_group() {
  XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache" \
    GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=0" \
    bash -c 'echo $$ >"$0/cgroup.procs" && exec "$@"' "$group" "$binary" "$@" >>"$log" 2>&1 &
  pid=$!
}
alive() { kill -0 "$pid" 2>/dev/null; }
stop_program() {
  [[ -n "$pid" ]] || return 0
  kill "$pid" 2>/dev/null; sleep 0.5; kill -9 "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; pid=
}
# await SECONDS CONDITION...: 0 when it holds, 1 at the end of the time, 2
# as soon as the program is gone.
await() {
  local end=$((SECONDS + $1)); shift
  while ((SECONDS < end)); do
    alive || return 2
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
# --all: without it this xdotool takes a window meeting any one condition.
window_named() { xdotool search --all --onlyvisible --pid "$pid" --name "$1" 2>/dev/null | head -1; }
has_window() { [[ -n "$(window_named "$1")" ]]; }
no_window() { [[ -z "$(window_named "$1")" ]]; }
gone() { ! xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }
popups_are() { [[ $(xdotool search --all --onlyvisible --pid "$pid" --name '^orvanta$' 2>/dev/null | wc -l) == "$1" ]]; }
# A message box has the program's title alone; ids given are boxes seen before.
message_box() {
  local id
  for id in $(xdotool search --all --onlyvisible --pid "$pid" --name '^Dravik Orvanta$' 2>/dev/null); do
    [[ " $* " == *" $id "* ]] || { echo "$id"; return 0; }
  done
  return 1
}
has_box() { message_box "$@" >/dev/null; }
# Settled: almost no processor time for a second, as while it waits for input.
settled() {
  local before after
  before=$(awk '{print $14 + $15}' /proc/"$pid"/stat 2>/dev/null)
  sleep 1
  after=$(awk '{print $14 + $15}' /proc/"$pid"/stat 2>/dev/null)
  [[ -n "$before" && -n "$after" ]] && ((after - before <= 2))
}
focus() { timeout 10 xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1" 2>/dev/null; sleep 0.1; }
press() { xdotool key --clearmodifiers "$@"; }

# menu RIGHTS DOWNS SUBMENU-DOWNS: F10 opens File, Right moves to later
# menus, Down to an entry, Right into its submenu. Keys sent before a popup
# holds the keyboard would reach the window below, so each is waited for.
menu() {
  local i
  focus "$main"
  press F10
  await 10 popups_are 1 || return 1
  for ((i = 0; i < $1; i++)); do press Right; sleep 0.1; done
  for ((i = 0; i < $2; i++)); do press Down; sleep 0.05; done
  press Right
  await 10 popups_are 2 || return 1
  for ((i = 0; i < $3; i++)); do press Down; sleep 0.05; done
  press Return
  await 10 popups_are 0
}
# choose_file DIALOG-TITLE PATH: typed into an open dialog's location field
# or a save dialog's name field.
choose_file() {
  await 20 has_window "$1" || return 1
  focus "$(window_named "$1")"
  [[ "$1" == '^Save As$' ]] || press ctrl+l
  press ctrl+a
  xdotool type --delay 10 "$2"
  sleep 0.3
  press Return
  await 20 no_window "$1"
}

# RGBA with alpha from 96 to 223: still transparent after Invert alpha, so
# Save As offers DXT5.
make_picture() {  # WxH PATH
  [[ -f "$2" ]] || /usr/bin/python3 - "${1%x*}" "${1#*x}" "$2" <<'EOF' || fail "could not make the picture $2"
import sys
from PIL import Image
w, h, path = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
alpha = Image.linear_gradient('L').resize((w, h)).point(lambda v: 96 + v // 2)
red = Image.linear_gradient('L').rotate(90).resize((w, h))
Image.merge('RGBA', (red, Image.new('L', (w, h), 120), Image.new('L', (w, h), 60), alpha)).save(path, compress_level=1)
EOF
}

# --- The steps: each ends when the program is gone, a new message box shows,
# or its condition of being done holds, and sets outcome. --------------------
outcome='' box=''
finish_step() {
  local seen=$box
  ended() { has_box "$seen" || "$@"; }
  await $((full == 1 ? 600 : 60)) ended "$@"
  case $? in
    2) outcome=killed ;;
    1) outcome="stuck: neither done nor refused" ;;
    0) if box=$(message_box "$seen"); then outcome=refused; else outcome="done"; fi ;;
  esac
}
stuck() { if alive; then outcome="stuck: $1"; else outcome=killed; fi; }

step_levels() {
  focus "$main"
  press ctrl+l
  levels_shown() { has_window '^Levels$' && settled; }
  finish_step levels_shown
  [[ $outcome == "done" ]] || return
  focus "$(window_named '^Levels$')"
  press Escape
  await 20 no_window '^Levels$' || outcome="stuck: Escape did not close Levels"
}
step_open() {
  focus "$main"
  press ctrl+o
  choose_file '^Open file$' "$dir/second.png" || { stuck "the Open file dialog did not take the name"; return; }
  await 20 has_box || { stuck "no question about the unsaved edit"; return; }
  box=$(message_box)
  focus "$box"
  press Return  # Yes, discard them
  await 20 gone "$box" || { stuck "the question stayed"; return; }
  second_shown() { has_window '^Dravik Orvanta - second\.png$'; }
  finish_step second_shown
}
step_save() {
  focus "$main"
  press shift+ctrl+s
  choose_file '^Save As$' "$dir/out.dds" || { stuck "the Save As dialog did not take the name"; return; }
  await 20 has_window '^Save as DDS$' || { stuck "no DDS options"; return; }
  # OK in the 380 x 150 dialog, mipmaps ticked already. No --sync: the
  # pointer may be there already, and no motion would come.
  local dialog w h
  dialog=$(window_named '^Save as DDS$')
  read -r w h < <(xwininfo -id "$dialog" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w, h}')
  focus "$dialog"
  xdotool mousemove --window "$dialog" $((w * 236 / 380)) $((h * 124 / 150)) click 1
  saved() { has_window '^Dravik Orvanta - main\.png$'; }  # no " *" once saved
  finish_step saved
}
step_mask() {
  menu 4 2 4 || { stuck "could not reach Tools > Channels > Load alpha from image"; return; }
  choose_file '^Choose a mask' "$dir/mask.png" || { stuck "the mask dialog did not take the name"; return; }
  finish_step settled  # done shows no sign but the program idle again
}

# What the program takes with a picture open, in a group without a limit.
declare -A baselines
measure_baseline() {  # PICTURE: sets baselines[PICTURE], in MiB
  if [[ -z "${baselines[$1]:-}" ]]; then
    make_group baseline 0 || fail "cannot make a memory control group in $cg_parent"
    start_in_group "$work/pictures/$1.png"
    await 60 has_window '^Dravik Orvanta - ' || fail "the picture did not open"
    settled
    baselines[$1]=$(group_usage_mib)
    stop_program
    remove_group
  fi
}

failures=0
run_scenario() {  # NAME PICTURE SECOND LIMIT-MIB
  local name=$1 problem='' usage title left
  dir="$work/$name"
  mkdir -p "$dir"
  ln -f "$work/pictures/$2.png" "$dir/main.png"
  [[ "$3" == - ]] || ln -f "$work/pictures/$3.png" "$dir/$([[ $name == mask ]] && echo mask || echo second).png"
  make_group "$name" "$4" || fail "cannot make a memory control group of $4 MiB in $cg_parent"
  outcome='' box=''
  : >"$log"
  start_in_group "$dir/main.png"
  if ! await 60 has_window '^Dravik Orvanta - main\.png$'; then problem="the picture did not open"
  else
    main=$(window_named '^Dravik Orvanta - main\.png$')
    settled
    edited_or_box() { has_window '^Dravik Orvanta - main\.png \*$' || has_box; }
    if ! menu 4 2 5; then problem="could not reach Tools > Channels > Invert alpha"
    elif ! await 60 edited_or_box || has_box; then problem="Invert alpha made no edit"
    fi
  fi
  alive || problem="the program ended before the step"
  usage=$(group_usage_mib)
  [[ -n "$problem" ]] || "step_$name"
  if [[ $outcome == refused ]] && alive; then
    focus "$box"
    press Return
    await 20 gone "$box" || outcome="stuck: the message box stayed"
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
  local line
  line=$(printf '%-6s in %4s MiB (%4s MiB before the step): %s' "$name" "$4" "$usage" "${outcome:-not run}")
  if [[ -n "$problem" ]]; then
    failures=$((failures + 1))
    echo "FAIL $line: $problem"
    echo "--- program output:"; tail -20 "$log"
  else
    echo "ok   $line"
  fi
  stop_program
  remove_group
  rm -rf "$dir"
}

find_group_parent || { echo "SKIP: this process has no memory control group to make groups in"; exit 0; }
trap 'e2e_cleanup; remove_group' EXIT
make_group probe 64 || { remove_group; echo "SKIP: cannot make a memory control group with a limit in $cg_parent"; exit 0; }
remove_group
mkdir -p "$work/pictures"
echo "cgroup v$cg_version in $cg_parent, $([[ $full == 1 ]] && echo full || echo scaled) sizes"
ran=0
for row in "${scenarios[@]}"; do
  read -r name p1 p2 room f1 f2 mb <<<"$row"
  [[ -z "${ORVANTA_E2E_ONLY:-}" || " $ORVANTA_E2E_ONLY " == *" $name "* ]] || continue
  if [[ $full == 1 ]]; then p1=$f1 p2=$f2; fi
  make_picture "$p1" "$work/pictures/$p1.png"
  [[ "$p2" == - ]] || make_picture "$p2" "$work/pictures/$p2.png"
  if [[ $full == 1 ]]; then limit=$((mb * 1000000 >> 20)); else measure_baseline "$p1" && limit=$((baselines[$p1] + room)); fi
  run_scenario "$name" "$p1" "$p2" "$limit"
  ran=$((ran + 1))
done
((ran > 0)) || fail "no step named in ORVANTA_E2E_ONLY=\"${ORVANTA_E2E_ONLY:-}\""
((failures == 0)) || { echo "FAIL: $failures of $ran steps lost the program, the edit or a temporary"; exit 1; }
echo "PASS: every step was done or refused with a message, and the program lived on with its edit"
