#!/usr/bin/env python3
"""Writes the seed files of the writer, block, resize, TIFF-fallback and PNG
file fuzz targets into tests/fuzz/seeds/<target>/. The first three take a few
choice bytes and then a picture (two 16-bit sides, a depth byte, pixel bytes);
the TIFF seeds are small files of the kinds only libtiff reads, made with
Pillow and tiffcp; the PNG file seeds are the chunks of PNG files, without
the signature."""
import os
import random
import struct
import subprocess
import tempfile
import zlib

from PIL import Image

here = os.path.dirname(os.path.abspath(__file__))
rng = random.Random()


def out_dir(target):
    path = os.path.join(here, "seeds", target)
    os.makedirs(path, exist_ok=True)
    return path


def start(target):
    # Each target's own random sequence, so changing one target's seeds
    # leaves the others' bytes alone.
    rng.seed(target)


def write(target, name, data):
    with open(os.path.join(out_dir(target), name), "wb") as f:
        f.write(data)


def picture(w, h, depth, pixels):
    # Sides are taken modulo the target's limit and plus one.
    return struct.pack("<HHB", w - 1, h - 1, 1 if depth == 24 else 0) + pixels


def noise(n):
    return bytes(rng.randrange(256) for _ in range(n))


def gradient(n):
    return bytes((i * 7) & 255 for i in range(n))


def plain_tiff(w, h, entries, pixels):
    """A little-endian uncompressed TIFF: the pixels in one strip at 8, the
    values that do not fit in their entries after them, then the directory.
    entries: (tag, type, count, value), the value a number or the values' bytes."""
    body = pixels
    tags = [(256, 4, 1, w), (257, 4, 1, h), (259, 3, 1, 1), (273, 4, 1, 8), (279, 4, 1, len(pixels))]
    for tag, kind, count, value in entries:
        if isinstance(value, bytes):
            body += b"\0" * (len(body) % 2)
            tags.append((tag, kind, count, 8 + len(body)))
            body += value
        else:
            tags.append((tag, kind, count, value))
    body += b"\0" * (len(body) % 2)
    ifd = struct.pack("<H", len(tags))
    for tag, kind, count, value in sorted(tags):
        ifd += struct.pack("<HHI", tag, kind, count)
        ifd += struct.pack("<HH", value, 0) if kind == 3 and count == 1 else struct.pack("<I", value)
    return b"II*\0" + struct.pack("<I", 8 + len(body)) + body + ifd + b"\0\0\0\0"


# fuzz_writers: shape (low six bits 0: a wide strip), options, first mip,
# JPEG quality + 20, three doubles, picture.
start("fuzz_writers")
doubles = struct.pack("<3d", 1.0, 0.5, 1e-3)
write("fuzz_writers", "opaque_5x3_mips", bytes([1, 0x3C, 2, 95]) + doubles + picture(5, 3, 32, gradient(60)))
write("fuzz_writers", "alpha_9x7_24bit", bytes([1, 0xC3, 0, 40]) + doubles + picture(9, 7, 24, noise(189)))
write("fuzz_writers", "wide_rle_hdr_17x2", bytes([1, 0xFF, 20, 120]) + struct.pack("<3d", 1e30, -1.0, float("nan")) +
      picture(17, 2, 32, noise(136)))
write("fuzz_writers", "single_pixel", bytes([1, 0x00, 1, 0]) + struct.pack("<3d", float("inf"), 0.0, 2.0**-120) +
      picture(1, 1, 32, bytes([10, 200, 30, 0])))
# No wide strip among the seeds: a fuzzer mutating one keeps it wide and slow.

# fuzz_blocks: 48 colour texels, 16 channel values, width, height, format, blocks/picture.
start("fuzz_blocks")
ramp = bytes(i * 16 for i in range(16))
texels = bytes(v for i in range(16) for v in (255 - i * 16, i * 16, 128))
uniform = bytes([200, 100, 50] * 16)
write("fuzz_blocks", "dxt1_5x3", texels + ramp + struct.pack("<hhb", 5, 3, 1) + noise(16))
write("fuzz_blocks", "dxt5_8x8", uniform + bytes([77] * 16) + struct.pack("<hhb", 8, 8, 3) + noise(64))
write("fuzz_blocks", "bc5_6x6", noise(48) + bytes([0, 255] * 8) + struct.pack("<hhb", 6, 6, 4) + noise(64))
write("fuzz_blocks", "dxt3_4x4", noise(64) + struct.pack("<hhb", 4, 4, 2) + noise(16))
write("fuzz_blocks", "picture_7x5", texels + ramp + struct.pack("<hhb", 1, 1, 1) + picture(7, 5, 32, noise(140)))

# fuzz_resize: a 64-bit number, three 32-bit sizes, flags, resize and shrink
# targets (each taken modulo its limit, plus one), picture.
start("fuzz_resize")
write("fuzz_resize", "enlarge_3x2_to_9x4", struct.pack("<qiiiBBBBB", 3, 2000, 1000, 1024, 3, 8, 3, 0, 0) +
      picture(3, 2, 32, noise(24)))
write("fuzz_resize", "shrink_odd_24bit", struct.pack("<qiiiBBBBB", 2**62 + 1, 768, 768, 1000, 1, 10, 30, 4, 6) +
      picture(37, 23, 24, gradient(37 * 23 * 3)))
write("fuzz_resize", "halve_mixed_alpha_11x7", struct.pack("<qiiiBBBBB", 6, 3, 3, 2, 3, 4, 2, 3, 1) +
      picture(11, 7, 32, noise(11 * 7 * 4)))
write("fuzz_resize", "solid_transparent", struct.pack("<qiiiBBBBB", -5, 0, -7, 0, 2, 100, 1, 2, 2) +
      picture(9, 9, 32, bytes([40, 80, 120, 0])))

# fuzz_tiff_fallback: files the own reader refuses, in the forms libtiff reads.
start("fuzz_tiff_fallback")
rgb = Image.frombytes("RGB", (8, 6), noise(8 * 6 * 3))
rgba = Image.frombytes("RGBA", (8, 6), noise(8 * 6 * 4))
with tempfile.TemporaryDirectory() as tmp:
    def save(name, image, **options):
        path = os.path.join(tmp, name)
        image.save(path, **options)
        return path

    def keep(name, path):
        with open(path, "rb") as f:
            write("fuzz_tiff_fallback", name, f.read())

    keep("lzw_rgb.tif", save("a.tif", rgb, compression="tiff_lzw"))
    keep("deflate_rgba.tif", save("b.tif", rgba, compression="tiff_adobe_deflate"))
    keep("packbits_grey.tif", save("c.tif", rgb.convert("L"), compression="packbits"))
    keep("jpeg_rgb.tif", save("d.tif", rgb, compression="jpeg"))
    keep("group4_bilevel.tif", save("e.tif", rgb.convert("1"), compression="group4"))
    keep("palette.tif", save("f.tif", rgb.convert("P"), compression="raw"))
    keep("grey16.tif", save("g.tif", rgb.convert("L").convert("I").convert("I;16"), compression="raw"))
    keep("cmyk.tif", save("h.tif", rgb.convert("CMYK"), compression="raw"))
    plain = save("plain.tif", rgb, compression="raw")
    for name, args in (("big_endian.tif", ["-B"]), ("tiled.tif", ["-t", "-w", "16", "-l", "16"]),
                       ("planar.tif", ["-p", "separate"]), ("ycbcr_jpeg.tif", ["-c", "jpeg"])):
        target = os.path.join(tmp, name)
        subprocess.run(["tiffcp", *args, plain, target], check=True)
        keep(name, target)
    # Rasters stored turned a quarter, in strips and in tiles, and CIE L*a*b*.
    for name, args in (("turned_lzw.tif", ["-c", "lzw", "-r", "2"]), ("transposed_tiles.tif", ["-t", "-w", "16", "-l", "16"])):
        target = os.path.join(tmp, name)
        subprocess.run(["tiffcp", *args, plain, target], check=True)
        subprocess.run(["tiffset", "-s", "274", "6" if name.startswith("turned") else "5", target], check=True)
        keep(name, target)
    keep("lab8.tif", save("lab8.tif", Image.frombytes("LAB", (8, 6), noise(8 * 6 * 3)), compression="raw"))
    write("fuzz_tiff_fallback", "lab16_white_point.tif", plain_tiff(3, 2, [
        (258, 3, 3, struct.pack("<3H", 16, 16, 16)), (262, 3, 1, 8), (277, 3, 1, 3),
        (318, 5, 2, struct.pack("<4I", 3127, 10000, 3290, 10000))], noise(3 * 2 * 6)))

# fuzz_tiff: the own reader's kind, here with the raster stored turned a quarter.
start("fuzz_tiff")
write("fuzz_tiff", "turned_rgb_3x2.tif", plain_tiff(3, 2, [(262, 3, 1, 2), (274, 3, 1, 6), (277, 3, 1, 3)], noise(18)))

# fuzz_png_file: the chunks after the signature. Flat grey rows that inflate
# to several of the reading thread's pieces, over many IDAT chunks (an empty
# one too) between text chunks.


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


flat = zlib.compress(b"".join(b"\0" + bytes(600) for _ in range(400)), 9)
write("fuzz_png_file", "grey_flat_inflates_far_text_around",
      chunk(b"IHDR", struct.pack(">IIBBBBB", 600, 400, 8, 0, 0, 0, 0)) + chunk(b"tEXt", b"Title\0seed") +
      b"".join(chunk(b"IDAT", flat[i:i + 64]) for i in range(0, len(flat), 64)) + chunk(b"IDAT", b"") +
      chunk(b"zTXt", b"Note\0\0" + zlib.compress(b"after the picture")) + chunk(b"IEND", b""))
