#!/usr/bin/env python3
"""Expected bytes of a 4 x 3 16-bit FITS frame named "m42.fits", saved at
2007-03-04 05:06:07 UTC, derived from the card table by hand."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
cards = [
    "SIMPLE  =                    T",
    "BITPIX  =                   16",
    "NAXIS   =                    2",
    "NAXIS1  =                    4",
    "NAXIS2  =                    3",
    "EXTEND  =                    T",
    "BZERO   =                    32768",
    "OBJECT  = 'm42.fits'",
    "ORIGIN  = 'Quillfeather Imaging And Services'",
    "DATE    = '2007-03-04T05:06:07'",
    "END",
]
header = "".join(c.ljust(80) for c in cards).ljust(2880).encode("ascii")
samples = [0, 1, 32767, 32768, 65535, 4660, 22136, 39612, 65534, 2, 100, 40000]
data = b"".join(struct.pack(">h", s - 32768) for s in samples)
assert data[:2] == b"\x80\x00" and data[8:10] == b"\x7f\xff" and data[6:8] == b"\x00\x00"
blob = header + data + bytes(2880 - len(data))
os.makedirs(os.path.join(HERE, "golden"), exist_ok=True)
with open(os.path.join(HERE, "golden", "grey16.fits"), "wb") as f:
    f.write(blob)
