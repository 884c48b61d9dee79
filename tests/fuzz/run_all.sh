#!/usr/bin/env bash
# Runs every fuzz target in a build folder for the given seconds, in parallel,
# seeded with tests/fuzz/seeds/<target>/ and the kept crash inputs in tests/crashes/.
set -euo pipefail
build=$1
seconds=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
pids=()
for bin in "$build"/fuzz_*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  corpus=$(mktemp -d)
  [ -d "$root/tests/fuzz/seeds/$name" ] && cp -r "$root/tests/fuzz/seeds/$name/." "$corpus/"
  [ -d "$root/tests/crashes/$name" ] && cp -r "$root/tests/crashes/$name/." "$corpus/"
  "$bin" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -timeout=30 -print_final_stats=1 \
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
