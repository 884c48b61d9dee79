#!/usr/bin/env bash
# Runs every orvanta_cli subcommand on small generated pictures and checks,
# with Pillow as the independent decoder, that what it wrote holds the right
# pixels, so the benchmark driver cannot quietly go wrong. Nothing is timed.
# Usage: cli_smoke_test.sh path/to/orvanta_cli
set -euo pipefail
cli=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Pillow, the independent side, in the C locale; orvanta_cli in the caller's.
peer() { LC_ALL=C "$@"; }
pictures() { peer /usr/bin/python3 "$here/pictures.py" "$@"; }
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# expect_exit CODE COMMAND...: runs the command, output in $work/last.out.
expect_exit() {
    local want=$1 got=0
    shift
    "$@" >last.out 2>&1 || got=$?
    [ "$got" = "$want" ] || fail "exit $got (wanted $want): $* -- $(cat last.out)"
}

# check_psnr REF OUT CHANNELS MIN: MIN is a number of dB, or inf for equal pixels.
check_psnr() {
    local value
    value=$(pictures psnr "$1" "$2" --channels "$3") || fail "$2: $value"
    if [ "$4" = inf ]; then
        [ "$value" = inf ] || fail "$2 differs from $1 ($3: $value dB)"
    else
        [ "$value" = inf ] || peer /usr/bin/python3 -c "import sys; sys.exit(float('$value') < $4)" ||
            fail "$2: $3 PSNR $value dB below $4"
    fi
}

# check_dds FILE FOURCC MIPS
check_dds() {
    local info
    info=$(pictures ddsinfo "$1")
    read -r _ _ fourcc mips <<<"$info"
    [ "$fourcc" = "$2" ] && [ "$mips" = "$3" ] || fail "$1: $info (wanted $2 with $3 mips)"
}

pictures photo 64 48 rgba.png --alpha --seed 2
# Sides that are not multiples of 4 catch partial blocks and odd halvings.
pictures photo 37 21 rgb.png --seed 3
head -c 3000 /dev/urandom >junk.png

# open
expect_exit 0 "$cli" open rgba.png
[ "$(cat last.out)" = "rgba.png: 64 x 48, Portable Network Graphics, with transparency" ] || fail "open: $(cat last.out)"
expect_exit 0 "$cli" open rgb.png
[ "$(cat last.out)" = "rgb.png: 37 x 21, Portable Network Graphics" ] || fail "open: $(cat last.out)"
for bad in missing.png junk.png; do
    expect_exit 1 "$cli" open "$bad"
    grep -q "could not be loaded" last.out || fail "open $bad: $(cat last.out)"
done

# Wrong arguments are refused before any work.
for args in "" "open" "frob x" "dds rgb.png x.dds" "dds rgb.png x.dds --format bc7" "batch ." \
    "resize rgb.png 0 5" "resize rgb.png 5 16385" "resize rgb.png 5"; do
    # shellcheck disable=SC2086
    expect_exit 2 "$cli" $args
done

# convert: source, output, channels compared, lowest PSNR, DDS format and mips
while read -r src out channels min fourcc mips; do
    expect_exit 0 "$cli" convert "$src" "$out"
    check_psnr "$src" "$out" "$channels" "$min"
    [ "$fourcc" = - ] || check_dds "$out" "$fourcc" "$mips"
done <<'EOF'
rgba.png c.png rgba inf - -
rgba.png c.tga rgba inf - -
rgba.png c.tiff rgba inf - -
rgb.png c.bmp rgb inf - -
rgb.png c.jpeg rgb 30 - -
rgba.png c_alpha.dds rgba 30 DXT5 7
rgb.png c_plain.dds rgb 30 DXT1 6
EOF
expect_exit 1 "$cli" convert rgb.png c.hdr
grep -q "not an HDR texture" last.out || fail "convert to .hdr: $(cat last.out)"
[ ! -e c.hdr ] || fail "convert to .hdr wrote a file"

# dds: format, source, channels, lowest PSNR, mips option (- none), fourcc, mips in the header
while read -r format src channels min option fourcc mips; do
    out=d_$format$option.dds
    opts=()
    [ "$option" = - ] || opts=("$option")
    expect_exit 0 "$cli" dds "$src" "$out" --format "$format" "${opts[@]}"
    check_psnr "$src" "$out" "$channels" "$min"
    check_dds "$out" "$fourcc" "$mips"
done <<'EOF'
dxt1 rgb.png rgb 30 --mips DXT1 6
dxt5 rgba.png rgba 30 --mips DXT5 7
dxt5 rgba.png rgba 30 - DXT5 1
bc5 rgba.png rg 30 --mips ATI2 7
rgba rgba.png rgba inf - none 1
EOF

# resize: halvings, a smooth step, an enlargement; a bad file fails
for size in "18 10" "9 5" "20 7" "74 42"; do
    expect_exit 0 "$cli" resize rgb.png $size
    [ "$(cat last.out)" = "${size/ / x }" ] || fail "resize to $size: $(cat last.out)"
done
expect_exit 1 "$cli" resize junk.png 4 4

# batch: two sources of one name are numbered, transparency picks DXT5
mkdir out sub
cp rgb.png sub/rgba.png
pictures photo 32 32 t.tga --alpha --seed 4
cp rgb.png j.png && peer /usr/bin/python3 -c "from PIL import Image; Image.open('j.png').save('j.jpg', quality=90)"
expect_exit 0 "$cli" batch out rgba.png sub/rgba.png t.tga j.jpg
[ "$(head -1 last.out)" = "Converted: 4   Skipped: 0   Failed: 0" ] || fail "batch: $(cat last.out)"
while read -r src out channels fourcc mips; do
    check_psnr "$src" "out/$out" "$channels" 30
    check_dds "out/$out" "$fourcc" "$mips"
done <<'EOF'
rgba.png rgba.dds rgba DXT5 7
sub/rgba.png rgba_2.dds rgb DXT1 6
t.tga t.dds rgba DXT5 6
j.jpg j.dds rgb DXT1 6
EOF
# A second run finds every output there and leaves it alone.
cp out/rgba.dds before.dds
expect_exit 0 "$cli" batch out rgba.png sub/rgba.png t.tga j.jpg
[ "$(head -1 last.out)" = "Converted: 0   Skipped: 4   Failed: 0" ] || fail "batch again: $(cat last.out)"
cmp -s before.dds out/rgba.dds || fail "batch again changed an existing output"
# A file that does not load fails alone; the others are still converted.
mkdir out2
expect_exit 1 "$cli" batch out2 junk.png rgb.png
grep -q "^Converted: 1   Skipped: 0   Failed: 1" last.out || fail "batch with a damaged file: $(cat last.out)"
grep -q "^junk.png: " last.out || fail "batch log: $(cat last.out)"
expect_exit 1 "$cli" batch no-such-folder rgb.png

echo "orvanta_cli smoke test passed"
