#!/usr/bin/env python3
"""Writes the seeds of fuzz_bayer_codec: raw Bayer samples as the movie tests
record them (a star on a sky level, 8- and 16-bit, with and without the
pattern trailer), each behind the 16-byte head the target reads (width,
height, dataSize, spatial quality, depth, destination, offset). Run it from
anywhere; it rewrites fuzz/corpus/fuzz_bayer_codec/.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus", "fuzz_bayer_codec")
W, H = 24, 16


def mosaic(bits):
    """A sky level with one star, sample by sample, row after row."""
    top = (1 << bits) - 1
    out = []
    for y in range(H):
        for x in range(W):
            d2 = (x - 9.5) ** 2 + (y - 6.5) ** 2
            v = 0.05 + 0.9 / (1.0 + d2 / 3.0) + 0.02 * ((x * 7 + y * 13) % 5)
            out.append(min(top, int(v * top)))
    return out


def sample(bits, trailer):
    m = mosaic(bits)
    body = bytes(m) if bits == 8 else b"".join(struct.pack(">H", v) for v in m)
    return body + (trailer.encode() if trailer else b"")


def seed(name, bits, trailer, quality, dest, offset=0, data_size=None):
    s = sample(bits, trailer)
    size = len(s) if data_size is None else data_size
    head = struct.pack(">hhiIhBB", W, H, size, quality, bits, dest, offset)
    assert len(head) == 16
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(head + s)


def main():
    os.makedirs(OUT, exist_ok=True)
    for f in os.listdir(OUT):
        os.remove(os.path.join(OUT, f))
    seed("rggb8_cells", 8, "RGGB", 256, 0)
    seed("plain8_bilinear", 8, None, 768, 0)
    seed("grbg8_offset", 8, "GRBG", 1024, 0, 0x12)
    seed("grbg16_b48r", 16, "GRBG", 1024, 1)
    seed("bggr16_argb", 16, "BGGR", 768, 0)
    seed("gbrg16_b64a", 16, "GBRG", 1024, 2)
    seed("plain16_cells", 16, None, 256, 1)
    seed("rggb16_wider", 16, "RGGB", 768, 3)
    seed("recorder8_size0", 8, "RGGB", 256, 0, 0, 0)


if __name__ == "__main__":
    main()
