#!/usr/bin/env python3
"""Derives the expected bytes of small recorded movies straight from the
layout tables (header, movie atom, sample description, grey colour table),
independently of the C++ builders. Run it to regenerate tests/media/golden/.

Fixtures: 4 x 2 pixels, 3 frames at t = 1000, 1040, 1080 ms, media time scale
600, creation time 3029529600 (2000-01-01 00:00:00 local, 1904 epoch).
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "golden")
W, H = 4, 2
TIMES = [1000.0, 1040.0, 1080.0]
TS = 600
CTIME = 3029529600


def be32(v):
    return struct.pack(">I", v & 0xFFFFFFFF)


def be16(v):
    return struct.pack(">H", v & 0xFFFF)


def atom(kind, body):
    return be32(8 + len(body)) + kind + body


IDENTITY = b"".join(be32(v) for v in (0x10000, 0, 0, 0, 0x10000, 0, 0, 0, 0x40000000))


def grey_table():
    t = be32(0) + be16(0) + be16(255)
    for i in range(256):
        t += be16(i) + be16(i * 257) * 3
    assert len(t) == 2056
    return t


def description(codec, vendor, quality, depth, clut, version=1, revision=1):
    size = 86 + (2056 if clut else 0)
    d = be32(size) + codec + be32(0) + be16(0) + be16(0)  # data reference index 0
    d += be16(version) + be16(revision) + vendor + be32(0) + be32(quality)
    d += be16(W) + be16(H) + be32(72 << 16) + be32(72 << 16) + be32(0) + be16(1)
    d += bytes(32) + be16(depth) + be16(0 if clut else 0xFFFF)
    assert len(d) == 86
    if clut:
        d += grey_table()
    return d


def stts_entries():
    # k = 0.6; intervals 40, 40 -> 24, 24 -> one run of 2, plus the last frame: (3, 24)
    return [(3, 24)]


def moov(desc, frame_bytes):
    n = len(TIMES)
    runs = stts_entries()
    media = sum(c * d for c, d in runs)        # D = 72
    movie = round(media / TS * 600)            # 72
    stsd = atom(b"stsd", be32(0) + be32(1) + desc)
    stts = atom(b"stts", be32(0) + be32(len(runs)) + b"".join(be32(c) + be32(d) for c, d in runs))
    stsc = atom(b"stsc", be32(0) + be32(1) + be32(1) + be32(1) + be32(1))
    stsz = atom(b"stsz", be32(0) + be32(frame_bytes) + be32(n))
    stco = atom(b"stco", be32(0) + be32(n) + b"".join(be32(4096 + k * frame_bytes) for k in range(n)))
    stbl = atom(b"stbl", stsd + stts + stsc + stsz + stco)
    vmhd = atom(b"vmhd", be32(1) + be16(0x40) + be16(0x8000) * 3)
    dhlr = atom(b"hdlr", be32(0) + b"dhlralisappl" + be32(0x10000001) + be32(0x00010163)
                + bytes([24]) + b"Apple Alias Data Handler" + bytes(3))
    dinf = atom(b"dinf", atom(b"dref", be32(0) + be32(1) + atom(b"alis", be32(1))))
    minf = atom(b"minf", vmhd + dhlr + dinf + stbl)
    mdhd = atom(b"mdhd", be32(0) + be32(CTIME) + be32(CTIME) + be32(TS) + be32(media) + be16(0) + be16(0))
    mhlr = atom(b"hdlr", be32(0) + b"mhlrvideappl" + be32(0x10000000) + be32(0x0001014F)
                + bytes([25]) + b"Apple Video Media Handler" + bytes(2))
    mdia = atom(b"mdia", mdhd + mhlr + minf)
    elst = atom(b"elst", be32(0) + be32(1) + be32(movie) + be32(0) + be32(0x10000))
    edts = atom(b"edts", elst)
    tkhd = atom(b"tkhd", be32(0xF) + be32(CTIME) + be32(CTIME) + be32(1) + be32(0) + be32(movie)
                + bytes(8) + be16(0) + be16(0) + be16(0) + be16(0) + IDENTITY + be32(W << 16) + be32(H << 16))
    trak = atom(b"trak", tkhd + edts + mdia)
    mvhd = atom(b"mvhd", be32(0) + be32(CTIME) + be32(CTIME) + be32(600) + be32(movie) + be32(0x10000)
                + be16(0x00FF) + bytes(10) + IDENTITY + bytes(24) + be32(2))
    m = atom(b"moov", mvhd + trak)
    # The fixed part is 484 bytes; the sample tables follow.
    assert len(m) == 484 + len(stsd) + len(stts) + len(stsc) + len(stsz) + len(stco)
    return m


def frame8(k):
    return bytes(((k * 8 + i) * 29 + 3) & 0xFF for i in range(W * H))


def main():
    os.makedirs(OUT, exist_ok=True)
    # 8-bit grey 'raw ': the whole file.
    f = 8
    body = b"".join(frame8(k) for k in range(3))
    t = 4096 + 3 * f
    header = be32(8) + b"wide" + be32(t - 8) + b"mdat"
    m = moov(description(b"raw ", b"appl", 1024, 8, True), f)
    assert len(m) == 484 + 2158 + 24 + 28 + 20 + 28
    with open(os.path.join(OUT, "raw8_grey.mov"), "wb") as fh:
        fh.write(header + bytes(4080) + body + m)
    # 'b16g': the movie atom.
    with open(os.path.join(OUT, "b16g.moov"), "wb") as fh:
        fh.write(moov(description(b"b16g", b"appl", 1024, 16, False), 16))
    # 16-bit raw Bayer, medium quality: the movie atom.
    with open(os.path.join(OUT, "bayer16.moov"), "wb") as fh:
        fh.write(moov(description(b"BGGR", b"ORX ", 768, 16, False), 2 * W * H + 4))


if __name__ == "__main__":
    main()
