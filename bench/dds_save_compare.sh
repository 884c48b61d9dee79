#!/usr/bin/env bash
# A whole DXT5-with-mips save of one 4096 x 4096 RGBA PNG: the program's core
# against NVIDIA Texture Tools and ImageMagick, whole processes on the same
# file, alternating rounds, medians, with every side's PSNR.
# Usage: bench/dds_save_compare.sh [--rounds N] [--build DIR] (or the build folder alone)
if [ $# -gt 0 ] && [ -d "$1" ]; then set -- --build "$@"; fi
exec "$(dirname "$0")/compare.sh" dxt5-mips "$@"
