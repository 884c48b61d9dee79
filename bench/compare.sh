#!/usr/bin/env bash
# Whole-process comparisons: the program's core (build/orvanta_cli) and other
# tools doing the same work on the same seeded input files. Every side is a
# whole process, so start-up, decoding and writing count on both sides; all
# cores are allowed to every side. The sides run alternately (A B A B ...)
# for several rounds, and each row prints per side the median wall time, the
# median CPU use (100 % = one core busy) and the median peak resident memory
# (GNU time), then the ratio of medians ours / peer (below 1: ours is faster
# or smaller). Encoders also print the PSNR of every side's output against
# the input, and every row checks that the outputs decode (with Pillow) to
# the right pixels, so a fast wrong result cannot look good.
#
# Usage: bench/compare.sh [--rounds N] [--build DIR] [ROW...]
#   open-png   open an 8192 x 8192 RGB PNG              (peer: Pillow)
#   save-png   open that PNG and save it as PNG         (peer: Pillow)
#   dxt5-mips  4096 x 4096 RGBA PNG to DXT5 with mips   (peers: nvcompress, ImageMagick)
#   batch      50 mixed pictures to DDS by the batch rule (peer: mogrify)
#   open-dds   open an 8192 x 8192 DXT1 DDS             (peer: Pillow)
# Without a row, all five run. Inputs are made once (seeded, reproducible) in
# $ORVANTA_BENCH_INPUTS (default BUILD/bench-inputs); the machine's load is
# printed, since other work running beside makes the figures noisy.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=5
build=$root/build
rows=()
while [ $# -gt 0 ]; do
    case $1 in
    --rounds) rounds=$2 && shift 2 ;;
    --build) build=$2 && shift 2 ;;
    open-png | save-png | dxt5-mips | batch | open-dds) rows+=("$1") && shift ;;
    *) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2 && exit 2 ;;
    esac
done
[ ${#rows[@]} -gt 0 ] || rows=(open-png save-png dxt5-mips batch open-dds)
# shellcheck source=bench/tools/timing.bash
source "$root/bench/tools/timing.bash"
have() { command -v "$1" >/dev/null 2>&1; }
failures=0

# The input files; the seed is part of each name.
png8192=$inputs/photo8192-s1.png
png4096=$inputs/photo4096a-s7.png
mixed50=$inputs/mixed50-s3
dds8192=$inputs/dxt1-8192-s1.dds
make_png8192() { pictures photo 8192 8192 "$tmp" --seed 1; }
make_png4096() { pictures photo 4096 4096 "$tmp" --alpha --seed 7; }
make_mixed50() { rm -rf "$tmp" && pictures mixed "$tmp" --count 50 --seed 3; }
# The DXT1 file comes from another tool, so ours reads a file it did not write.
make_dds8192() {
    made "$png8192" make_png8192
    if have nvcompress; then
        nvcompress -nocuda -fast -bc1 -nomips "$png8192" "$tmp" >/dev/null
    else
        convert-im6.q16 "$png8192" -define dds:compression=dxt1 -define dds:mipmaps=0 "$tmp"
    fi
}

# run_row TITLE SIDE... : rounds of alternating runs, then the medians.
# desc_<side> names each side; the first side is ours.
run_row() {
    local title=$1
    shift
    local sides=("$@") side
    echo
    echo "== $title"
    for side in "${sides[@]}"; do rm -f "$work/times.$side"; done
    for ((round = 1; round <= rounds; round++)); do
        for side in "${sides[@]}"; do measure "$side"; done
    done
    local args=()
    for side in "${sides[@]}"; do
        local desc=desc_$side
        args+=("${!desc}" "$work/times.$side")
    done
    "$python" - "$title" "$work/summary" "${args[@]}" <<'EOF'
import statistics, sys
title, summary, rest = sys.argv[1], sys.argv[2], sys.argv[3:]
sides = []
for name, path in zip(rest[0::2], rest[1::2]):
    runs = [tuple(map(float, line.split())) for line in open(path)]
    sides.append((name, [statistics.median(r[i] for r in runs) for i in range(3)], len(runs)))
print("   %-44s %9s %7s %10s" % ("side (%d runs each)" % sides[0][2], "wall s", "CPU %", "peak MiB"))
for name, (wall, cpu, rss), _ in sides:
    print("   %-44s %9.3f %7.0f %10.1f" % (name, wall, cpu, rss / 1024))
ours = sides[0]
with open(summary, "a") as out:
    for name, (wall, cpu, rss), _ in sides[1:]:
        peer = name.split()[0].rstrip(":")
        line = "ours / %s: time %.2fx, memory %.2fx" % (peer, ours[1][0] / wall, ours[1][2] / rss)
        print("   " + line)
        out.write("%-28s %-12s %7.3f s %7.3f s %6.2fx %6.2fx\n" % (
            title.split(":")[0], peer, ours[1][0], wall, ours[1][0] / wall, ours[1][2] / rss))
EOF
}

# A line under the row's figures in the summary at the end.
summary_note() { echo "    $1" >>"$work/summary"; }

check() {  # check DESCRIPTION CONDITION-COMMAND...
    local what=$1
    shift
    if "$@"; then echo "   check: $what: yes"; else echo "   CHECK FAILED: $what"; failures=$((failures + 1)); fi
}
same_pixels() { [ "$(pictures psnr "$1" "$2" --channels "${3:-rgba}")" = inf ]; }
mib() { "$python" -c "import os, sys; print('%.1f MiB' % (os.path.getsize(sys.argv[1]) / 1048576))" "$1"; }

peer_name() { local name=${1%% *}; echo "${name%:}"; }

at_least() { "$python" -c 'import sys; sys.exit(not float(sys.argv[1]) >= float(sys.argv[2]))' "$1" "$2"; }

# Both open rows: ours opens as the editor does; Pillow decodes the whole picture.
open_sides() {
    cmd_ours=("$cli" open "$1")
    desc_ours="ours: orvanta_cli open"
    cmd_pillow=("$python" -c 'import sys; from PIL import Image; im = Image.open(sys.argv[1]); im.load()' "$1")
    desc_pillow="Pillow: Image.open(), load()"
}

row_open_png() {
    made "$png8192" make_png8192
    local in=$png8192
    open_sides "$in"
    run_row "open-png: open an 8192 x 8192 RGB PNG ($(mib "$in"))" ours pillow
    # The picture as ours decoded it, written raw, against Pillow's decoding.
    "$cli" dds "$in" "$work/check.dds" --format rgba
    check "ours decodes the same pixels as Pillow" same_pixels "$in" "$work/check.dds" rgb
}

row_save_png() {
    made "$png8192" make_png8192
    local in=$png8192
    cmd_ours=("$cli" convert "$in" "$work/ours.png")
    desc_ours="ours: orvanta_cli convert (Save As .png)"
    cmd_pillow=("$python" -c 'import sys; from PIL import Image; Image.open(sys.argv[1]).save(sys.argv[2])'
        "$in" "$work/pillow.png")
    desc_pillow="Pillow: open().save() defaults"
    run_row "save-png: open the 8192 x 8192 PNG and save it as PNG" ours pillow
    local sizes
    sizes="files: ours $(mib "$work/ours.png"), Pillow $(mib "$work/pillow.png"), size ours / Pillow $("$python" -c \
        'import os, sys; print("%.3fx" % (os.path.getsize(sys.argv[1]) / os.path.getsize(sys.argv[2])))' \
        "$work/ours.png" "$work/pillow.png")"
    echo "   $sizes"
    summary_note "$sizes"
    check "ours wrote the input's pixels" same_pixels "$in" "$work/ours.png" rgb
    check "Pillow wrote the input's pixels" same_pixels "$in" "$work/pillow.png" rgb
}

row_dxt5_mips() {
    made "$png4096" make_png4096
    local in=$png4096 sides=(ours)
    cmd_ours=("$cli" dds "$in" "$work/ours.dds" --format dxt5 --mips)
    desc_ours="ours: orvanta_cli dds --format dxt5 --mips"
    if have nvcompress; then
        cmd_nv=(nvcompress -nocuda -fast -bc3 "$in" "$work/nv.dds")
        desc_nv="nvcompress -nocuda -fast -bc3"
        sides+=(nv)
    fi
    cmd_im=(convert-im6.q16 "$in" -define dds:compression=dxt5 -define dds:mipmaps=12 "$work/im.dds")
    desc_im="ImageMagick convert, dxt5, 12 mips"
    sides+=(im)
    run_row "dxt5-mips: 4096 x 4096 RGBA PNG to DXT5 with a full mip chain" "${sides[@]}"
    # Each encoder searches its own way; speed means little without quality.
    local side name rgb a notes=""
    for side in "${sides[@]}"; do
        local desc=desc_$side
        name=$(peer_name "${!desc}")
        read -r rgb a < <(pictures psnr "$in" "$work/$side.dds" --channels rgb,a)
        printf '   quality %-12s PSNR RGB %s dB, A %s dB\n' "$name" "$rgb" "$a"
        notes+="${notes:+; }$name PSNR RGB $rgb dB, A $a dB"
        check "$name wrote DXT5 with 13 levels" [ "$(pictures ddsinfo "$work/$side.dds")" = "4096 4096 DXT5 13" ]
        check "top level of $name is the input picture (PSNR above 30 dB)" at_least "$(echo -e "$rgb\n$a" | sort -g | head -1)" 30
    done
    summary_note "$notes"
    echo "   note: the peers are different encoders (their own block search and mip filter); compare the PSNRs with the times"
}

row_batch() {
    made "$mixed50" make_mixed50
    local in=$mixed50 files
    files=("$in"/pic*)
    prep_ours() { rm -rf "$work/out-ours" && mkdir "$work/out-ours"; }
    prep_mogrify() { rm -rf "$work/out-mogrify" && mkdir "$work/out-mogrify"; }
    cmd_ours=("$cli" batch "$work/out-ours" "${files[@]}")
    desc_ours="ours: orvanta_cli batch (the batch rule)"
    # Without a compression define ImageMagick writes DXT5 for pictures with
    # an alpha channel and DXT1 for the rest, and a full mip chain. Without
    # -auto-orient it writes bottom-up TGA files upside down.
    cmd_mogrify=(mogrify-im6.q16 -path "$work/out-mogrify" -auto-orient -format dds "${files[@]}")
    desc_mogrify="mogrify -auto-orient -format dds"
    run_row "batch: 50 mixed pictures (PNG, TGA, JPEG, BMP; 128 to 1024 a side) to DDS" ours mogrify
    unset -f prep_ours prep_mogrify
    local ours mogrify
    ours=$(pictures ddsfolder "$in" "$work/out-ours" --list "$work/list-ours")
    mogrify=$(pictures ddsfolder "$in" "$work/out-mogrify" --list "$work/list-mogrify")
    echo "   ours:    $ours"
    echo "   mogrify: $mogrify"
    summary_note "PSNR ours ${ours#*PSNR }; mogrify ${mogrify#*PSNR }"
    echo "   note: ours picks DXT5 when a pixel is not opaque, mogrify when the file has an alpha channel (the inputs"
    echo "         with alpha all have transparent pixels); no input is a normal map, so BC5 is not exercised;"
    echo "         mogrify needs -auto-orient to write TGA files the right way up (it costs no measurable time)"
    check "all 50 written by both, same format for each" \
        cmp -s <(cut -d' ' -f1-3 "$work/list-ours") <(cut -d' ' -f1-3 "$work/list-mogrify")
    check "every output of both decodes to its picture (PSNR above 30 dB)" \
        "$python" -c 'import sys; sys.exit(any(l.split()[1] == "missing" or float(l.split()[3]) < 30
            for f in sys.argv[1:] for l in open(f)))' "$work/list-ours" "$work/list-mogrify"
}

row_open_dds() {
    made "$dds8192" make_dds8192
    local in=$dds8192
    open_sides "$in"
    run_row "open-dds: open an 8192 x 8192 DXT1 DDS" ours pillow
    "$cli" dds "$in" "$work/check.dds" --format rgba
    # DXT1 decoders differ in how they widen the 5- and 6-bit end colours and
    # round the thirds between them; more than one level apart is a fault.
    echo "   ours against Pillow's decoding: PSNR $(pictures psnr "$in" "$work/check.dds" --channels rgb) dB"
    check "ours decodes the pixels Pillow decodes, within one level" \
        [ "$(pictures maxdiff "$in" "$work/check.dds")" -le 1 ]
}

echo "Whole-process comparison, $rounds rounds, alternating; $(nproc) cores; load average now $(cut -d' ' -f1-3 /proc/loadavg)"
echo "Peers: Pillow $("$python" -c 'import PIL; print(PIL.__version__)'), $(convert-im6.q16 -version | head -1 | cut -d' ' -f2-3)$(have nvcompress && echo ", nvcompress (NVIDIA Texture Tools $(dpkg-query -W -f='${Version}' libnvtt-bin 2>/dev/null))")"
for row in "${rows[@]}"; do "row_${row//-/_}"; done

echo
echo "== Summary: median wall time of whole processes; ratio = ours / peer (below 1: ours is faster, smaller)"
printf '%-28s %-12s %9s %9s %7s %7s\n' row peer ours peer time memory
cat "$work/summary"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ $failures -gt 0 ]; then
    echo "$failures check(s) FAILED" >&2
    exit 1
fi
