#!/usr/bin/env bash
# Whole save of one 4096 x 4096 picture as DXT5 with mips: ours against
# NVIDIA Texture Tools and ImageMagick, best of three wall times each.
# Usage: bench/dds_save_compare.sh [build folder with orvanta_bench]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
bench="$build/orvanta_bench"
[ -x "$bench" ] || { echo "no $bench: build with libbenchmark-dev installed" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A seeded plasma enlarged to 4096 x 4096 with a gradient alpha: detail
# everywhere, no flat areas, 8 bits a channel.
convert-im6.q16 -seed 7 -size 1024x1024 plasma:fractal -resize 4096x4096 \( -size 4096x4096 gradient: \) \
  -alpha off -compose copy_opacity -composite -depth 8 "$work/in.png"
# The same pixels, uncompressed, for our benchmark to start from.
convert-im6.q16 "$work/in.png" -define dds:compression=none -define dds:mipmaps=0 "$work/in.dds"

best_of_three() {
  local best=""
  for _ in 1 2 3; do
    local start end t
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
  done
  echo "$best"
}

ours_ms=$(ORVANTA_BENCH_DDS_INPUT="$work/in.dds" TMPDIR="$work" "$bench" \
  --benchmark_filter=BM_SaveDdsDxt5Mips --benchmark_repetitions=3 --benchmark_format=json 2>/dev/null |
  /usr/bin/python3 -c 'import json,sys
runs=[b for b in json.load(sys.stdin)["benchmarks"] if b.get("run_type")=="iteration"]
print(min(b["real_time"] for b in runs))')
ours=$(echo "$ours_ms / 1000" | bc -l)

printf '%-34s %8.3f s\n' "orvanta WriteDdsFile (DXT5, mips)" "$ours"
if command -v nvcompress >/dev/null; then
  nv=$(best_of_three nvcompress -nocuda -fast -bc3 "$work/in.png" "$work/nv.dds")
  printf '%-34s %8.3f s   ours/nvcompress = %.3f\n' "nvcompress -nocuda -fast -bc3" "$nv" "$(echo "$ours / $nv" | bc -l)"
fi
if command -v convert-im6.q16 >/dev/null; then
  im=$(best_of_three convert-im6.q16 "$work/in.png" -define dds:compression=dxt5 -define dds:mipmaps=12 "$work/im.dds")
  printf '%-34s %8.3f s   ours/ImageMagick = %.3f\n' "ImageMagick dxt5, 12 mips" "$im" "$(echo "$ours / $im" | bc -l)"
fi
