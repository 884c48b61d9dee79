# What the whole-process benchmark scripts share; sourced, not run, once the
# script has set $root (the checkout) and $build. Sets $cli (the core's
# command-line driver), $python, $inputs (the seeded input files) and $work
# (a scratch folder, removed at exit), after checking the tools are there.

cli=$build/orvanta_cli
[ -x "$cli" ] || { echo "no $cli: build it with cmake --build $build --target orvanta_cli" >&2; exit 1; }
python=/usr/bin/python3
[ -x /usr/bin/time ] || { echo "GNU time is needed (apt-get install time)" >&2; exit 1; }
pictures() { "$python" "$root/bench/tools/pictures.py" "$@"; }

# Prints the folder of seeded input files, made if need be. Inputs depend only
# on the generating code and the seeds (in the names); a changed generator
# makes a fresh set and the old one goes.
inputs_folder() {
    local stamp inputs old
    stamp=$(pictures stamp)
    inputs=${ORVANTA_BENCH_INPUTS:-$build/bench-inputs}/$stamp
    mkdir -p "$inputs"
    for old in "$(dirname "$inputs")"/????????; do
        [ "$old" = "$inputs" ] || [ ! -d "$old" ] || rm -rf "$old"
    done
    echo "$inputs"
}

# made FILE COMMAND...: unless FILE is there, runs the command, which writes
# FILE's temporary twin named in $tmp (a local the command sees), then gives
# it FILE's name, so an interrupted run leaves no half-made input behind.
made() {
    local file=$1 tmp
    shift
    if [ ! -s "$file" ]; then
        echo "  making $(basename "$file") (once)"
        tmp=$(dirname "$file")/tmp-$(basename "$file")
        "$@"
        mv "$tmp" "$file"
    fi
}
# One timed run of side $1: the prep_<side> function (untimed) when defined,
# then the command in the array cmd_<side> under GNU time. Appends
# "wall cpu% peakKiB" to $work/times.<side>. Files the run before left
# unwritten go to disk first (untimed): a side that flushes its output must
# not pay for writing out another side's.
measure() {
    local side=$1
    local -n cmd=cmd_$side
    if declare -F "prep_$side" >/dev/null; then "prep_$side"; fi
    sync
    local t0=$EPOCHREALTIME status=0
    /usr/bin/time -f '%U %S %M' -o "$work/time.out" "${cmd[@]}" >"$work/log.$side" 2>&1 || status=$?
    local t1=$EPOCHREALTIME
    if [ $status -ne 0 ]; then
        echo "  $side failed (exit $status): ${cmd[*]}" >&2
        tail -5 "$work/log.$side" >&2
        exit 1
    fi
    read -r user sys rss < <(tail -n1 "$work/time.out")
    "$python" -c "import sys; w=float(sys.argv[2])-float(sys.argv[1]); print('%.4f %.0f %s' % (w, 100*(float(sys.argv[3])+float(sys.argv[4]))/w, sys.argv[5]))" \
        "$t0" "$t1" "$user" "$sys" "$rss" >>"$work/times.$side"
}

inputs=$(inputs_folder)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
