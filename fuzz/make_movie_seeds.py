#!/usr/bin/env python3
"""Writes the seed movies of fuzz_movie_samples: small whole files in our own
layout ('mdat' first, then the movie atom), one per codec that the movie
reader decodes itself, two frames each, so that mutations reach the sample
data, the sample tables and the description fields that pick the decoder.
Run it from anywhere; it rewrites fuzz/corpus/fuzz_movie_samples/.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
# The atom writers of the movie golden script, which this shares.
sys.path.insert(0, os.path.join(HERE, "..", "tests", "media"))
from make_movie_golden import IDENTITY, atom, be16, be32  # noqa: E402

OUT = os.path.join(HERE, "corpus", "fuzz_movie_samples")
W, H = 4, 2
FRAMES = 2
TS = 600


def colour_table(entries):
    t = be32(0) + be16(0x8000) + be16(len(entries) - 1)
    for i, (r, g, b) in enumerate(entries):
        t += be16(i) + be16(r) + be16(g) + be16(b)
    return t


def description(codec, depth, quality=1024, clut=None):
    size = 86 + (len(clut) if clut else 0)
    d = be32(size) + codec + be32(0) + be16(0) + be16(1)
    d += be16(1) + be16(1) + b"appl" + be32(0) + be32(quality)
    d += be16(W) + be16(H) + be32(72 << 16) + be32(72 << 16) + be32(0) + be16(1)
    d += bytes(32) + be16(depth) + be16(0 if clut else 0xFFFF)
    assert len(d) == 86
    return d + (clut or b"")


def movie(desc, frames):
    n = len(frames)
    first = 8
    offsets = []
    pos = first
    for f in frames:
        offsets.append(pos)
        pos += len(f)
    mdat = be32(8 + sum(len(f) for f in frames)) + b"mdat" + b"".join(frames)
    dur = 20
    stsd = atom(b"stsd", be32(0) + be32(1) + desc)
    stts = atom(b"stts", be32(0) + be32(1) + be32(n) + be32(dur))
    stsc = atom(b"stsc", be32(0) + be32(1) + be32(1) + be32(1) + be32(1))
    sizes = {len(f) for f in frames}
    if len(sizes) == 1:
        stsz = atom(b"stsz", be32(0) + be32(len(frames[0])) + be32(n))
    else:
        stsz = atom(b"stsz", be32(0) + be32(0) + be32(n) + b"".join(be32(len(f)) for f in frames))
    stco = atom(b"stco", be32(0) + be32(n) + b"".join(be32(o) for o in offsets))
    stbl = atom(b"stbl", stsd + stts + stsc + stsz + stco)
    vmhd = atom(b"vmhd", be32(1) + be16(0x40) + be16(0x8000) * 3)
    dinf = atom(b"dinf", atom(b"dref", be32(0) + be32(1) + atom(b"alis", be32(1))))
    minf = atom(b"minf", vmhd + dinf + stbl)
    media = n * dur
    mdhd = atom(b"mdhd", be32(0) + be32(0) + be32(0) + be32(TS) + be32(media) + be16(0) + be16(0))
    hdlr = atom(b"hdlr", be32(0) + b"mhlrvideappl" + be32(0) + be32(0) + b"\x00")
    mdia = atom(b"mdia", mdhd + hdlr + minf)
    elst = atom(b"edts", atom(b"elst", be32(0) + be32(1) + be32(media) + be32(0) + be32(0x10000)))
    tkhd = atom(b"tkhd", be32(0xF) + be32(0) + be32(0) + be32(1) + be32(0) + be32(media)
                + bytes(8) + be16(0) + be16(0) + be16(0) + be16(0) + IDENTITY + be32(W << 16) + be32(H << 16))
    trak = atom(b"trak", tkhd + elst + mdia)
    mvhd = atom(b"mvhd", be32(0) + be32(0) + be32(0) + be32(TS) + be32(media) + be32(0x10000)
                + be16(0x00FF) + bytes(10) + IDENTITY + bytes(24) + be32(2))
    return mdat + atom(b"moov", mvhd + trak)


def pattern(k, count, scale=1):
    return [((k * 31 + i * 57 + 11) * scale) & 0xFFFF for i in range(count)]


def bytes8(k, count):
    return bytes(v & 0xFF for v in pattern(k, count))


def words(k, count):
    return b"".join(be16(v * 263) for v in pattern(k, count))


def main():
    os.makedirs(OUT, exist_ok=True)
    n = W * H
    grey_clut = colour_table([(i * 0x1111, i * 0x1111, i * 0x1111) for i in range(16)])
    seeds = {
        "raw8_clut.mov": (description(b"raw ", 8, clut=grey_clut), [bytes8(k, n) for k in range(FRAMES)]),
        "raw8_grey.mov": (description(b"raw ", 40), [bytes8(k, n) for k in range(FRAMES)]),
        "raw24.mov": (description(b"raw ", 24), [bytes8(k, 3 * n) for k in range(FRAMES)]),
        "raw32.mov": (description(b"raw ", 32), [bytes8(k, 4 * n) for k in range(FRAMES)]),
        "2vuy.mov": (description(b"2vuy", 24), [bytes8(k, 2 * n) for k in range(FRAMES)]),
        "yuv2.mov": (description(b"yuv2", 24), [bytes8(k, 2 * n) for k in range(FRAMES)]),
        "v308.mov": (description(b"v308", 24), [bytes8(k, 3 * n) for k in range(FRAMES)]),
        "b16g.mov": (description(b"b16g", 16), [words(k, n) for k in range(FRAMES)]),
        "b32a.mov": (description(b"b32a", 32), [words(k, 2 * n) for k in range(FRAMES)]),
        "b48r.mov": (description(b"b48r", 24), [words(k, 3 * n) for k in range(FRAMES)]),
        "b64a.mov": (description(b"b64a", 32), [words(k, 4 * n) for k in range(FRAMES)]),
        # Raw Bayer: 8 bits with a 'GRBG' trailer, 16 bits with 'RGGB', one
        # 16-bit frame without a trailer; low and high demosaic quality.
        "bayer8.mov": (description(b"BGGR", 8, quality=256), [bytes8(k, n) + b"GRBG" for k in range(FRAMES)]),
        "bayer16.mov": (description(b"BGGR", 16, quality=1024),
                        [words(0, n) + b"RGGB", words(1, n)]),
    }
    for name, (desc, frames) in seeds.items():
        with open(os.path.join(OUT, name), "wb") as fh:
            fh.write(movie(desc, frames))


if __name__ == "__main__":
    main()
