#!/usr/bin/env bash
# Runs every fuzz target in a build folder, in parallel, seeded with
# tests/fuzz/seeds/<target>/ and the kept inputs in tests/crashes/<target>/.
#   run_all.sh BUILD          a fixed number of inputs per target from a fixed
#                             random seed, so a run gives the same verdict each time
#   run_all.sh BUILD SECONDS  explore: fresh random seeds for SECONDS per target
set -euo pipefail
build=$1
seconds=${2:-}
root=$(cd "$(dirname "$0")/../.." && pwd)

# About forty seconds of work each on one core; targets differ a lot in speed.
runs_for() {
  case $1 in
    fuzz_gro) echo 120000 ;;
    fuzz_tga) echo 100000 ;;
    fuzz_pcx) echo 250000 ;;
    fuzz_hdr) echo 500000 ;;
    fuzz_codecs) echo 1500000 ;;
    fuzz_dk3) echo 2000000 ;;
    fuzz_tiff) echo 3000000 ;;
    *) echo 4000000 ;;
  esac
}

pids=()
for bin in "$build"/fuzz_*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  corpus=$(mktemp -d)
  [ -d "$root/tests/fuzz/seeds/$name" ] && cp -r "$root/tests/fuzz/seeds/$name/." "$corpus/"
  [ -d "$root/tests/crashes/$name" ] && cp -r "$root/tests/crashes/$name/." "$corpus/"
  if [ -n "$seconds" ]; then
    limits=(-max_total_time="$seconds")
  else
    # The time limit only guards a very slow machine; normally the run count ends it.
    limits=(-seed=1 -runs="$(runs_for "$name")" -max_total_time=300)
  fi
  "$bin" "${limits[@]}" -max_len=65536 -rss_limit_mb=2048 -timeout=30 -print_final_stats=1 \
    -artifact_prefix="$build/$name-" "$corpus" >"$build/$name.log" 2>&1 &
  pids+=("$!:$name")
done
status=0
for entry in "${pids[@]}"; do
  pid=${entry%%:*}; name=${entry#*:}
  if wait "$pid"; then
    echo "$name: no finding ($(grep -o 'stat::number_of_executed_units: [0-9]*' "$build/$name.log" || tail -n1 "$build/$name.log"))"
  else
    echo "$name: FOUND A PROBLEM"; tail -n 60 "$build/$name.log"; status=1
  fi
done
exit $status
