#!/usr/bin/env python3
"""Writes the small seed files of the texture fuzz target into tests/fuzz/seeds/fuzz_tex/."""
import os
import struct

out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "seeds", "fuzz_tex")
os.makedirs(out, exist_ok=True)


def v4(flags, w0, h0, first_mip, frames, tag=b"FRMS"):
    return (b"TVER" + struct.pack("<i", 4) + b"TDAT" +
            struct.pack("<7i", flags, w0, h0, 5, first_mip, frames, 0)[:24] + tag)


def v3(flags, w0, h0, frame_size, frames):
    return (b"TVER" + struct.pack("<i", 3) + b"TDAT" +
            struct.pack("<8i", flags, w0, h0, 3, 0, 0, frame_size, frames) + b"FRMS")


trailer = (b"ANIMADAT" + struct.pack("<i", 1) + b"OnlyAnim".ljust(32, b"\0") +
           bytes([0x0A, 0xD7, 0xA3, 0x3C]) + struct.pack("<2i", 1, 0))
seeds = {
    "v4_rgb_4x4": v4(0, 4, 4, 0, 1) + bytes(range(48)) + trailer,
    "v4_rgba_2frames_mip1": v4(1, 8, 4, 1, 2) + bytes(range(64)) + trailer,
    "v3_alpha_3x2": v3(1, 3, 2, 14, 2) + bytes(range(28)),
    "effect_buffer_name": (v4(0, 4, 4, 0, 1, b"FXDT") + struct.pack("<3i", 7, 2, 2) + b"FXBF" +
                           struct.pack("<4i", -5, 0, 9, 2**31 - 1) + b"DFNM" + struct.pack("<i", 13) +
                           b"walls\\base.tex"[:13]),
    "effect_name_only": v4(0, 4, 4, 0, 1, b"FXDT") + struct.pack("<3i", 0, 3, 3) + b"DFNM" +
                        struct.pack("<i", 8) + b"base.tex",
    "meta_dk2": b"CTSEMETA" + bytes(8) + struct.pack("<i", 18) + b"$Version: Dravik 2" + bytes(16),
    "signed_meta": b"SIGSTRM1" + bytes(40) + b"CTSEMETA" + bytes(8) + struct.pack("<i", 4) + b"abcd",
}
for name, data in seeds.items():
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)
