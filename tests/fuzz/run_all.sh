#!/usr/bin/env bash
# Runs every fuzz target in a build folder, in parallel, seeded with
# tests/fuzz/seeds/<target>/ and the kept inputs in tests/crashes/<target>/.
#   run_all.sh BUILD          a fixed number of inputs per target from a fixed
#                             random seed: the same inputs on every machine and
#                             from every clone path, so the verdict is the code's
#   run_all.sh BUILD SECONDS  explore: fresh random seeds for SECONDS per target
set -euo pipefail
build=$1
seconds=${2:-}
root=$(cd "$(dirname "$0")/../.." && pwd)

# About thirty seconds of one core's work each, so that the whole phase takes
# about a minute on eight cores, four on two and eight on one: far below the
# time limit below, and a small part of CI's time on a small machine. Targets
# differ a lot in speed under the sanitizers.
runs_for() {
  case $1 in
    fuzz_png_file) echo 4000 ;;
    fuzz_writers) echo 5000 ;;
    fuzz_resize) echo 20000 ;;
    fuzz_gro) echo 50000 ;;
    fuzz_blocks) echo 150000 ;;
    fuzz_tiff_fallback) echo 250000 ;;
    fuzz_tiff) echo 450000 ;;
    fuzz_codecs) echo 600000 ;;
    fuzz_hdr) echo 700000 ;;
    fuzz_tga) echo 800000 ;;
    fuzz_dk3) echo 1500000 ;;
    fuzz_dds) echo 1800000 ;;
    fuzz_dk2 | fuzz_pcx | fuzz_tex) echo 2000000 ;;
    *) echo 3000000 ;;
  esac
}

# Memory limits, in MB. The code gets a room of 192 MiB (support.cpp), so
# its own check refuses claims that would not fit; a single allocation of
# 256 MB is a bomb taken without asking. Under the sanitizers a run holds
# 300 to 600 MB by itself; 1 GB resident catches growth in small pieces. The archive target may
# allocate a little past 4 GiB at once: an LZMA entry makes liblzma reserve
# the dictionary its header names (up to 4 GiB, rounded up) before any data
# are unpacked, and those pages stay untouched unless the data fill them; it
# also holds the most by itself (750 MB), so its resident limit is higher.
malloc_limit_for() {
  case $1 in
    fuzz_gro) echo 4160 ;;
    *) echo 256 ;;
  esac
}
rss_limit_for() {
  case $1 in
    fuzz_gro) echo 1536 ;;
    *) echo 1024 ;;
  esac
}

# A fixed seed alone is not enough: the corpus rereading, the table of
# compared values (pointers move with timing and path lengths) and the leak
# check's reruns (counted toward -runs) vary between runs, so fixed runs
# switch all three off; LeakSanitizer still fails a leak at the end. The
# stack depth is no coverage in this build (CMakeLists.txt).
fixed=()
if [ -z "$seconds" ] && setarch "$(uname -m)" -R true 2>/dev/null; then
  fixed=(setarch "$(uname -m)" -R)
fi

pids=()
corpora=()
trap 'rm -rf "${corpora[@]}"' EXIT
for bin in "$build"/fuzz_*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  corpus=$(mktemp -d)
  corpora+=("$corpus")
  [ -d "$root/tests/fuzz/seeds/$name" ] && cp -r "$root/tests/fuzz/seeds/$name/." "$corpus/"
  [ -d "$root/tests/crashes/$name" ] && cp -r "$root/tests/crashes/$name/." "$corpus/"
  if [ -n "$seconds" ]; then
    limits=(-max_total_time="$seconds")
  else
    # The time limit only guards against a run that never ends: a plan
    # takes minutes even on one core. A run it stops fails below.
    limits=(-seed=1 -runs="$(runs_for "$name")" -reload=0 -use_cmp=0 -detect_leaks=0 -max_total_time=1800)
  fi
  "${fixed[@]}" "$bin" "${limits[@]}" -max_len=65536 -rss_limit_mb="$(rss_limit_for "$name")" -malloc_limit_mb="$(malloc_limit_for "$name")" \
    -timeout=30 -print_final_stats=1 \
    -artifact_prefix="$build/$name-" "$corpus" >"$build/$name.log" 2>&1 &
  pids+=("$!:$name")
done
# A fixed run must run every input it plans: one cut short by the time limit
# ends as well as a whole one, and a fault late in the sequence would go
# unseen on a slow machine. libFuzzer counts the initial corpus toward -runs.
status=0
for entry in "${pids[@]}"; do
  pid=${entry%%:*}; name=${entry#*:}
  if ! wait "$pid"; then
    echo "$name: FOUND A PROBLEM"; tail -n 60 "$build/$name.log"; status=1
    continue
  fi
  executed=$(sed -n 's/^stat::number_of_executed_units: \([0-9]*\)$/\1/p' "$build/$name.log")
  if [ -n "$seconds" ]; then
    echo "$name: no finding in ${executed:-?} inputs"
  elif [ "${executed:-0}" -ge "$(runs_for "$name")" ]; then
    echo "$name: no finding in all $executed planned inputs"
  else
    echo "$name: STOPPED SHORT, ran ${executed:-no} of its $(runs_for "$name") planned inputs" \
      "($(grep -m1 '^Done ' "$build/$name.log" || tail -n1 "$build/$name.log"))"
    status=1
  fi
done
echo "Fuzzing took ${SECONDS} s."
exit $status
