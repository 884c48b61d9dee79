#!/usr/bin/python3
"""Seeded input pictures for the benchmarks, and checks of what the tools made
of them, with Pillow only (Debian's python3-pil), so every side is judged by
the same independent decoder.

  pictures.py stamp
      prints a short hash of the generating code: inputs made by another
      version of it differ.
  pictures.py photo WIDTH HEIGHT OUT [--alpha] [--seed N]
      a photo-like picture: light and shade at two scales, slow colour
      changes and a little grain (+-8 a channel), so compressors see neither
      flat colour nor pure noise; --alpha adds an alpha of the same kind over
      the whole 0..255 range.
  pictures.py mixed FOLDER [--count N] [--seed N]
      N pictures pic00.png, pic01.tga, ... in the order png, tga, jpg, bmp;
      power-of-two sides from 128 to 1024 (not always square); every other
      PNG and every other TGA file has alpha, the rest none.
  pictures.py psnr REF OUT [--channels rgb|rgba|rg|a[,...]]
      prints the PSNR in dB of OUT's top level against REF ("inf" when
      equal), one value per channel set; exits 1 when the sizes differ.
  pictures.py maxdiff REF OUT
      prints the largest difference of one channel value between the two.
  pictures.py ddsinfo FILE
      prints "WIDTH HEIGHT FOURCC MIPS" from a DDS header.
  pictures.py ddsfolder SOURCES OUTPUTS [--list FILE]
      checks a batch conversion to DDS: for every picture in SOURCES the file
      OUTPUTS/name.dds, its format, its full mip chain and its PSNR (RGB for
      DXT1, RGBA for DXT5); prints one summary line and, with --list, one
      line "name fourcc mips psnr" per picture into FILE.
"""
import argparse
import hashlib
import inspect
import math
import os
import random
import struct
import sys

from PIL import Image, ImageChops, ImageStat


def soft_field(rnd, mode, width, height, cell):
    """Random values on a grid of cell x cell pixels, enlarged smoothly."""
    bands = len(mode)
    cw = max(2, width // cell)
    ch = max(2, height // cell)
    small = Image.frombytes(mode, (cw, ch), rnd.randbytes(cw * ch * bands))
    return small.resize((width, height), Image.BICUBIC)


def noise(rnd, n):
    """rnd.randbytes(n), in pieces: one call gives at most 2**31 bits."""
    piece = 1 << 26
    return b"".join(rnd.randbytes(min(piece, n - i)) for i in range(0, n, piece))


def make_photo(width, height, alpha, seed):
    rnd = random.Random(seed)
    # Light and shade carry the detail and colour changes slowly, as in a
    # photograph, so the channels are correlated.
    light = Image.blend(soft_field(rnd, "L", width, height, 256), soft_field(rnd, "L", width, height, 24), 0.5)
    base = Image.blend(Image.merge("RGB", (light, light, light)), soft_field(rnd, "RGB", width, height, 512), 0.4)
    del light
    grain = Image.frombytes("RGB", (width, height), noise(rnd, width * height * 3))
    grain = grain.point(lambda v: v % 17)
    picture = ImageChops.add(base, grain, 1.0, -8)
    del base, grain
    if alpha:
        # Broad areas over the full range (fully clear and fully solid parts
        # exist), finer detail and grain, so block coders work for alpha too.
        a = Image.blend(soft_field(rnd, "L", width, height, 1024), soft_field(rnd, "L", width, height, 32), 0.3)
        lo, hi = a.getextrema()
        a = a.point(lambda v: (v - lo) * 255 // max(1, hi - lo))
        grain = Image.frombytes("L", (width, height), noise(rnd, width * height)).point(lambda v: v % 9)
        picture.putalpha(ImageChops.add(a, grain, 1.0, -4))
    return picture


def cmd_stamp(args):
    code = "".join(inspect.getsource(f) for f in (soft_field, noise, make_photo, cmd_mixed))
    print(hashlib.md5(code.encode()).hexdigest()[:8])


def cmd_photo(args):
    make_photo(args.width, args.height, args.alpha, args.seed).save(args.out)


def cmd_mixed(args):
    os.makedirs(args.folder, exist_ok=True)
    rnd = random.Random(args.seed)
    sides = [128, 256, 512, 1024]
    kinds = ["png", "tga", "jpg", "bmp"]
    for i in range(args.count):
        ext = kinds[i % len(kinds)]
        w, h = rnd.choice(sides), rnd.choice(sides)
        alpha = ext in ("png", "tga") and (i // len(kinds)) % 2 == 0
        picture = make_photo(w, h, alpha, args.seed * 1000 + i)
        path = os.path.join(args.folder, "pic%02d.%s" % (i, ext))
        if ext == "jpg":
            picture.save(path, quality=90)
        else:
            picture.save(path)


CHANNELS = {"rgb": "RGB", "rgba": "RGBA", "rg": "RG", "a": "A"}


def psnr(ref_path, out_path, *channel_sets):
    """PSNR of OUT against REF for each channel set; None when sizes differ."""
    with Image.open(ref_path) as ref_file, Image.open(out_path) as out_file:
        ref = ref_file.convert("RGBA")
        out = out_file.convert("RGBA")
    if ref.size != out.size:
        return None
    # The difference image's statistics run in C; no per-pixel Python.
    sum2 = ImageStat.Stat(ImageChops.difference(ref, out)).sum2
    values = []
    for channels in channel_sets:
        bands = ["RGBA".index(c) for c in CHANNELS[channels]]
        mse = sum(sum2[b] for b in bands) / (ref.size[0] * ref.size[1] * len(bands))
        values.append(math.inf if mse == 0 else 10 * math.log10(255 * 255 / mse))
    return values


def cmd_psnr(args):
    values = psnr(args.ref, args.out, *args.channels.split(","))
    if values is None:
        print("size differs")
        sys.exit(1)
    print(" ".join("inf" if v == math.inf else "%.2f" % v for v in values))


def cmd_maxdiff(args):
    with Image.open(args.ref) as ref_file, Image.open(args.out) as out_file:
        ref = ref_file.convert("RGBA")
        out = out_file.convert("RGBA")
    if ref.size != out.size:
        print("size differs")
        sys.exit(1)
    print(max(hi for _, hi in ImageChops.difference(ref, out).getextrema()))


def read_dds_header(path):
    with open(path, "rb") as f:
        header = f.read(128)
    if len(header) < 128 or header[:4] != b"DDS ":
        return None
    height, width = struct.unpack_from("<II", header, 12)
    mips = struct.unpack_from("<I", header, 28)[0]
    flags = struct.unpack_from("<I", header, 80)[0]
    fourcc = header[84:88].decode("latin-1") if flags & 4 else "none"
    return width, height, fourcc, mips


def cmd_ddsinfo(args):
    info = read_dds_header(args.file)
    if info is None:
        print("not a DDS file")
        sys.exit(1)
    print(*info)


def cmd_ddsfolder(args):
    sources = sorted(f for f in os.listdir(args.sources) if not f.startswith("."))
    lines, values, found, full_chains, fourccs = [], [], 0, 0, {}
    for name in sources:
        out = os.path.join(args.outputs, os.path.splitext(name)[0] + ".dds")
        info = read_dds_header(out) if os.path.exists(out) else None
        if info is None:
            lines.append("%s missing - -" % name)
            continue
        found += 1
        width, height, fourcc, mips = info
        fourccs[fourcc] = fourccs.get(fourcc, 0) + 1
        if mips == max(width, height).bit_length():
            full_chains += 1
        value = psnr(os.path.join(args.sources, name), out, "rgb" if fourcc == "DXT1" else "rgba")
        values.append(value[0] if value is not None else 0)
        lines.append("%s %s %d %.2f" % (name, fourcc, mips, values[-1]))
    if args.list:
        with open(args.list, "w") as f:
            f.write("\n".join(lines) + "\n")
    kinds = ", ".join("%s %d" % kv for kv in sorted(fourccs.items()))
    finite = [v for v in values if v != math.inf] or [99.0]
    print("%d of %d written (%s), %d with full mip chains, PSNR mean %.2f dB, lowest %.2f dB"
          % (found, len(sources), kinds, full_chains, sum(finite) / len(finite), min(finite)))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("stamp")
    p.set_defaults(run=cmd_stamp)
    p = sub.add_parser("photo")
    p.add_argument("width", type=int)
    p.add_argument("height", type=int)
    p.add_argument("out")
    p.add_argument("--alpha", action="store_true")
    p.add_argument("--seed", type=int, default=1)
    p.set_defaults(run=cmd_photo)
    p = sub.add_parser("mixed")
    p.add_argument("folder")
    p.add_argument("--count", type=int, default=50)
    p.add_argument("--seed", type=int, default=1)
    p.set_defaults(run=cmd_mixed)
    p = sub.add_parser("psnr")
    p.add_argument("ref")
    p.add_argument("out")
    p.add_argument("--channels", default="rgba", help="rgb, rgba, rg or a; several joined by commas")
    p.set_defaults(run=cmd_psnr)
    p = sub.add_parser("maxdiff")
    p.add_argument("ref")
    p.add_argument("out")
    p.set_defaults(run=cmd_maxdiff)
    p = sub.add_parser("ddsinfo")
    p.add_argument("file")
    p.set_defaults(run=cmd_ddsinfo)
    p = sub.add_parser("ddsfolder")
    p.add_argument("sources")
    p.add_argument("outputs")
    p.add_argument("--list")
    p.set_defaults(run=cmd_ddsfolder)
    args = parser.parse_args()
    args.run(args)


if __name__ == "__main__":
    main()
