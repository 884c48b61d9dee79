#!/usr/bin/python3
"""Seeded input pictures for the benchmarks, and checks of what the tools made
of them, with Pillow only (Debian's python3-pil), so every side is judged by
the same independent decoder.

  pictures.py photo WIDTH HEIGHT OUT [--alpha] [--seed N]
      a photo-like picture: light and shade at two scales, slow colour
      changes and a little grain (+-8 a channel), so compressors see neither
      flat colour nor pure noise; --alpha adds a smooth alpha over the whole
      0..255 range.
  pictures.py mixed FOLDER [--count N] [--seed N]
      N pictures pic00.png, pic01.tga, ... in the order png, tga, jpg, bmp;
      power-of-two sides from 128 to 1024 (not square); the PNG and TGA
      files of even number have alpha, the rest none.
  pictures.py psnr REF OUT [--channels rgb|rgba|rg|a]
      prints the PSNR in dB of OUT's top level against REF ("inf" when
      equal); exits 1 when the sizes differ.
  pictures.py ddsinfo FILE
      prints "WIDTH HEIGHT FOURCC MIPS" from a DDS header.
"""
import argparse
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


def make_photo(width, height, alpha, seed):
    rnd = random.Random(seed)
    # Light and shade carry the detail and colour changes slowly, as in a
    # photograph, so the channels are correlated.
    light = Image.blend(soft_field(rnd, "L", width, height, 256), soft_field(rnd, "L", width, height, 24), 0.5)
    base = Image.blend(Image.merge("RGB", (light, light, light)), soft_field(rnd, "RGB", width, height, 512), 0.4)
    del light
    grain = Image.frombytes("RGB", (width, height), rnd.randbytes(width * height * 3))
    grain = grain.point(lambda v: v % 17)
    picture = ImageChops.add(base, grain, 1.0, -8)
    del base, grain
    if alpha:
        a = soft_field(rnd, "L", width, height, 1024)
        # Stretch to the full range so fully clear and fully solid parts exist.
        lo, hi = a.getextrema()
        a = a.point(lambda v: (v - lo) * 255 // max(1, hi - lo))
        picture.putalpha(a)
    return picture


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
        alpha = ext in ("png", "tga") and i % 2 == 0
        picture = make_photo(w, h, alpha, args.seed * 1000 + i)
        path = os.path.join(args.folder, "pic%02d.%s" % (i, ext))
        if ext == "jpg":
            picture.save(path, quality=90)
        else:
            picture.save(path)


CHANNELS = {"rgb": "RGB", "rgba": "RGBA", "rg": "RG", "a": "A"}


def psnr(ref_path, out_path, channels):
    with Image.open(ref_path) as ref_file, Image.open(out_path) as out_file:
        ref = ref_file.convert("RGBA")
        out = out_file.convert("RGBA")
    if ref.size != out.size:
        return None
    bands = [ref.getbands().index(c) for c in CHANNELS[channels]]
    # The difference image's statistics run in C; no per-pixel Python.
    sum2 = ImageStat.Stat(ImageChops.difference(ref, out)).sum2
    mse = sum(sum2[b] for b in bands) / (ref.size[0] * ref.size[1] * len(bands))
    return math.inf if mse == 0 else 10 * math.log10(255 * 255 / mse)


def cmd_psnr(args):
    value = psnr(args.ref, args.out, args.channels)
    if value is None:
        print("size differs")
        sys.exit(1)
    print("inf" if value == math.inf else "%.2f" % value)


def cmd_ddsinfo(args):
    with open(args.file, "rb") as f:
        header = f.read(128)
    if len(header) < 128 or header[:4] != b"DDS ":
        print("not a DDS file")
        sys.exit(1)
    height, width = struct.unpack_from("<II", header, 12)
    mips = struct.unpack_from("<I", header, 28)[0]
    flags = struct.unpack_from("<I", header, 80)[0]
    fourcc = header[84:88].decode("latin-1") if flags & 4 else "none"
    print(width, height, fourcc, mips)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
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
    p.add_argument("--channels", choices=sorted(CHANNELS), default="rgba")
    p.set_defaults(run=cmd_psnr)
    p = sub.add_parser("ddsinfo")
    p.add_argument("file")
    p.set_defaults(run=cmd_ddsinfo)
    args = parser.parse_args()
    args.run(args)


if __name__ == "__main__":
    main()
