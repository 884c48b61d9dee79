#!/usr/bin/env bash
# How the cost of the heavy work grows with the picture: wall time and peak
# resident memory of whole processes of the program's core (build/orvanta_cli)
# on square photo-like RGBA PNG pictures, on one core and on all cores. The
# one-core side runs under taskset on CPU 0: the program's thread pool sizes
# itself to the CPUs it may use, so it runs every loop inline there.
#
#   open    orvanta_cli open: decode into the 32-bit picture
#   dds     orvanta_cli dds --format dxt5 --mips: open, block-encode every
#           level (halving for each mip), save
#   resize  orvanta_cli resize to 3/4 of each side: open, one smooth
#           (Mitchell) resample, as the Resize window does
#
# Every process opens the file, so the open row is part of the other two.
# The sides run alternately for several rounds; each line prints the medians
# and the wall time per pixel in ns, which stays level while the cost grows
# linearly with the number of pixels.
#
# Usage: bench/scaling.sh [--rounds N] [--build DIR] [SIDE...]
#   SIDE: picture sides to run (default 512 2048 8192 16384). 16384 needs
#   about 3 GiB of memory for the picture and its mips, and a few minutes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=3
build=$root/build
sizes=()
while [ $# -gt 0 ]; do
    case $1 in
    --rounds) rounds=$2 && shift 2 ;;
    --build) build=$2 && shift 2 ;;
    [0-9]*) sizes+=("$1") && shift ;;
    *) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2 && exit 2 ;;
    esac
done
[ ${#sizes[@]} -gt 0 ] || sizes=(512 2048 8192 16384)
# shellcheck source=bench/tools/timing.bash
source "$root/bench/tools/timing.bash"

input() { echo "$inputs/scale$1-s5.png"; }
for side in "${sizes[@]}"; do
    make_png() { pictures photo "$side" "$side" "$tmp" --alpha --seed 5; }
    made "$(input "$side")" make_png
done

echo "Cost by picture size, $rounds rounds, alternating; $(nproc) cores; load average now $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-7s %7s %-8s %9s %10s %9s\n' work side threads "wall s" "peak MiB" "ns/pixel"
for side in "${sizes[@]}"; do
    png=$(input "$side")
    three=$((side * 3 / 4))
    for work_name in open dds resize; do
        case $work_name in
        open) cmd_all=("$cli" open "$png") ;;
        dds) cmd_all=("$cli" dds "$png" "$work/out.dds" --format dxt5 --mips) ;;
        resize) cmd_all=("$cli" resize "$png" "$three" "$three") ;;
        esac
        cmd_one=(taskset -c 0 "${cmd_all[@]}")
        rm -f "$work/times.one" "$work/times.all"
        for ((round = 1; round <= rounds; round++)); do
            measure one
            measure all
        done
        for threads in one all; do
            "$python" - "$work_name" "$side" "$threads" "$work/times.$threads" <<'EOF'
import statistics, sys
work, side, threads, path = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
runs = [tuple(map(float, line.split())) for line in open(path)]
wall = statistics.median(r[0] for r in runs)
rss = statistics.median(r[2] for r in runs)
print("%-7s %7d %-8s %9.3f %10.1f %9.2f" % (work, side, "1" if threads == "one" else "all", wall, rss / 1024,
                                            wall * 1e9 / side / side))
EOF
        done
    done
done
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
