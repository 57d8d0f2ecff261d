#!/usr/bin/env python3
"""Writes the seeds of fuzz_plugin_host into fuzz/corpus/plugin_host/: one hand-back of each
kind that filters return (what the test plug-ins of plugins/testpic.c hand over, and the bitmaps
of current WebP, PNG and AVIF filters), in the fake filter's layout (see fuzz_plugin_host.cpp):
result, faults, header size (2 bytes), header block, bits block."""
import os
import random
import struct
import sys

here = os.path.dirname(os.path.abspath(__file__))
out = os.path.join(here, "corpus", "plugin_host")


def header(size, width, height, depth, compression=0, colours=0):
    h = struct.pack("<IiiHHIIiiII", size, width, height, 1, depth, compression, 0, 2835, 2835, colours, 0)
    return h + bytes(size - 40)


def stride(width, depth):
    return ((width * depth + 31) // 32) * 4


def seed(name, info, bits, result=0, faults=0):
    with open(os.path.join(out, name), "wb") as f:
        f.write(bytes([result, faults]) + struct.pack("<H", len(info)) + info + bits)


def main():
    os.makedirs(out, exist_ok=True)
    rnd = random.Random(25)
    raw = lambda n: bytes(rnd.randrange(256) for _ in range(n))
    w, h = 5, 3
    masks = lambda *m: b"".join(struct.pack("<I", v) for v in m)
    for depth in (1, 4, 8):
        n = 1 << depth
        seed(f"pal{depth}.bin", header(40, w, h, depth, colours=n) + raw(4 * n), raw(stride(w, depth) * h))
        seed(f"pal{depth}_topdown.bin", header(40, w, -h, depth, colours=n) + raw(4 * n), raw(stride(w, depth) * h))
    seed("pal4_v4header.bin", header(108, w, h, 4, colours=16) + raw(64), raw(stride(w, 4) * h))
    seed("pal8_short_table.bin", header(40, w, h, 8, colours=256) + raw(12), raw(stride(w, 8) * h))
    seed("rgb24.bin", header(40, w, h, 24), raw(stride(w, 24) * h))
    seed("rgb24_half_bits.bin", header(40, w, h, 24), raw(stride(w, 24) * h // 2))
    seed("bgra32_topdown.bin", header(40, w, -h, 32), raw(w * 4 * h))
    seed("bgrx32_zero_alpha.bin", header(40, w, h, 32), bytes(b if i % 4 != 3 else 0 for i, b in enumerate(raw(w * 4 * h))))
    seed("bgra32_masks.bin", header(40, w, h, 32, 3) + masks(0xFF0000, 0xFF00, 0xFF), raw(w * 4 * h))
    seed("rgba32_v5_alpha_mask.bin",
         header(124, w, -h, 32, 3)[:40] + masks(0xFF, 0xFF00, 0xFF0000, 0xFF000000) + bytes(124 - 56), raw(w * 4 * h))
    seed("rgb565.bin", header(40, w, h, 16, 3) + masks(0xF800, 0x07E0, 0x001F), raw(stride(w, 16) * h))
    seed("rgb555.bin", header(40, w, -h, 16), raw(stride(w, 16) * h))
    seed("rle8_refused.bin", header(40, w, h, 8, 1, 256) + raw(1024), raw(20))
    seed("header_longer_than_block.bin", struct.pack("<I", 124) + header(40, w, h, 24)[4:], raw(48))
    seed("same_handle.bin", header(40, w, h, 24), raw(stride(w, 24) * h), faults=1)
    seed("no_bits_handle.bin", header(40, w, h, 24), raw(stride(w, 24) * h), faults=4)
    seed("lock_fails.bin", header(40, w, h, 24), raw(stride(w, 24) * h), faults=16)
    seed("failed_filter.bin", header(40, w, h, 24), raw(stride(w, 24) * h), result=5)
    return 0


if __name__ == "__main__":
    sys.exit(main())
