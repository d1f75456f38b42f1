#!/usr/bin/env python3
"""Derives the demosaic golden fixtures from the demosaic rules of the engine
(low, medium, high quality and grey), independently of the C++ kernels.

Writes demosaic_golden.inc beside this script:
  python3 tests/media/demosaic_golden.py

Mosaics: 8x6 for LQ, MQ and MONO, 8x8 for HQ (border included, neighbours
outside the frame mirrored about the border sample). Each for 8-bit and
16-bit samples and for the four phases (RGGB family flag 1 and 0, GRBG family
flag 1 and 0). Samples come from a fixed linear congruential sequence.

Also writes bayer_codec_golden.inc beside it: the ORX_BAYER decompressor's
method 2, which is HQ except that at a green centre the diagonal gradients
take the same four half-weighted terms as at a red or blue centre. 8x8
mosaics, 8-bit (to ARGB32) and 16-bit big-endian (to ARGB32 from the high
bytes of the 16-bit results, 'b48r' and 'b64a'), the four patterns.

Also derived here:
- HQ on 12x10 mosaics whose samples are only 0 or the maximum, in the four
  phases: the sharpest edges the rule can meet, with missing colours that
  fall below 0 and above the maximum before the clamp (the script checks
  that both happen).
- The display conversion of one 8x6 frame by every route of the raw-frame
  dispatcher that the tests call: the camera pixel-format code and bit depth
  choose the unpacking, the kernel family, the start-row flag and the
  quality. 16-bit samples are in the little-endian order of the hosts we
  build for; 12-bit frames are packed as the project's one layout (bytes
  AB CD EF carry 0xABD and 0xEFC).
"""
import os
import sys

PHASES = [("RGGB", 1), ("RGGB", 0), ("GRBG", 1), ("GRBG", 0)]


def lcg_samples(count, seed, bits):
    out, state = [], seed
    for _ in range(count):
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        out.append((state >> 8) & ((1 << bits) - 1))
    return out


def colour_at(fam, flag, x, y):
    red_row = ((y & 1) ^ flag) == 1
    row = ("RG" if red_row else "GB") if fam == "RGGB" else ("GR" if red_row else "BG")
    return row[x % 2]


def other(c):
    return "B" if c == "R" else "R"


def lq(S, w, h, fam, flag):
    out = [[None] * w for _ in range(h)]
    for y in range(h - 1):
        for x in range(w):
            cols = (0, 1) if x == 0 else (x - 1, x)
            cell = {"R": [], "G": [], "B": []}
            for cy in (y, y + 1):
                for cx in cols:
                    cell[colour_at(fam, flag, cx, cy)].append(S[cy][cx])
            assert len(cell["R"]) == 1 and len(cell["G"]) == 2 and len(cell["B"]) == 1
            out[y][x] = (cell["R"][0], (cell["G"][0] + cell["G"][1]) // 2, cell["B"][0])
    out[h - 1] = list(out[h - 2])
    return out


def mq(S, w, h, fam, flag):
    out = [[None] * w for _ in range(h)]
    for y in range(h):
        for x in range(w):
            c = colour_at(fam, flag, x, y)
            val = {c: S[y][x]}
            if y < h - 1:
                up = 1 if y == 0 else y - 1  # row 1 stands in above row 0
                dn = y + 1
                if 0 < x < w - 1:
                    if c != "G":
                        val["G"] = (S[y][x - 1] + S[y][x + 1] + S[up][x] + S[dn][x]) // 4
                        val[other(c)] = (S[up][x - 1] + S[up][x + 1] + S[dn][x - 1] + S[dn][x + 1]) // 4
                    else:
                        val[colour_at(fam, flag, x - 1, y)] = (S[y][x - 1] + S[y][x + 1]) // 2
                        val[colour_at(fam, flag, x, up)] = (S[up][x] + S[dn][x]) // 2
                else:
                    inner = 1 if x == 0 else w - 2
                    if c != "G":
                        val["G"] = (S[up][x] + S[y][inner] + S[dn][x]) // 3
                        val[other(c)] = (S[up][inner] + S[dn][inner]) // 2
                    else:
                        val[colour_at(fam, flag, inner, y)] = S[y][inner]
                        val[colour_at(fam, flag, x, up)] = (S[up][x] + S[dn][x]) // 2
            else:
                up = h - 2
                if c != "G":
                    side = x - 1 if x == w - 1 else x + 1
                    val["G"] = (S[up][x] + S[y][side]) // 2
                    if x == 0:
                        val[other(c)] = S[up][1]
                    elif x == w - 1:
                        val[other(c)] = S[up][w - 2]
                    else:
                        val[other(c)] = (S[up][x - 1] + S[up][x + 1]) // 2
                else:
                    val[colour_at(fam, flag, x, up)] = S[up][x]
                    hc = colour_at(fam, flag, 1 if x == 0 else x - 1, y)
                    if x == 0:
                        val[hc] = S[y][1]
                    elif x == w - 1:
                        val[hc] = S[y][w - 2]
                    else:
                        val[hc] = (S[y][x - 1] + S[y][x + 1]) // 2
            assert len(val) == 3
            out[y][x] = (val["R"], val["G"], val["B"])
    return out


def mono(rgb):
    return [[(306 * r + 601 * g + 117 * b) >> 10 for (r, g, b) in row] for row in rgb]


def mirror(i, n):
    if i < 0:
        return -i
    if i >= n:
        return 2 * (n - 1) - i
    return i


STATS = {"counts": {}, "clamped": 0, "below": 0, "above": 0}


def hq(S, w, h, fam, flag, maxv, half_diag_at_green=False):
    out = [[None] * w for _ in range(h)]
    for y in range(h):
        for x in range(w):
            P = [None]  # P[1] .. P[25]
            for j in range(-2, 3):
                for i in range(-2, 3):
                    P.append(S[mirror(y + j, h)][mirror(x + i, w)])
            A = lambda a, b: abs(P[a] - P[b])
            c = colour_at(fam, flag, x, y)
            g = {
                "N": A(8, 18) + A(3, 13) + ((A(7, 17) + A(9, 19) + A(2, 12) + A(4, 14)) >> 1),
                "E": A(14, 12) + A(15, 13) + ((A(9, 7) + A(19, 17) + A(10, 8) + A(20, 18)) >> 1),
                "S": A(18, 8) + A(23, 13) + ((A(19, 9) + A(17, 7) + A(24, 14) + A(22, 12)) >> 1),
                "W": A(12, 14) + A(11, 13) + ((A(17, 19) + A(7, 9) + A(16, 18) + A(6, 8)) >> 1),
            }
            if c != "G" or half_diag_at_green:
                g["NE"] = A(9, 17) + A(5, 13) + ((A(8, 12) + A(14, 18) + A(4, 8) + A(10, 14)) >> 1)
                g["SE"] = A(19, 7) + A(25, 13) + ((A(14, 8) + A(18, 12) + A(20, 14) + A(24, 18)) >> 1)
                g["NW"] = A(7, 19) + A(1, 13) + ((A(12, 18) + A(8, 14) + A(6, 12) + A(2, 8)) >> 1)
                g["SW"] = A(17, 9) + A(21, 13) + ((A(18, 14) + A(12, 8) + A(22, 18) + A(16, 12)) >> 1)
            else:
                g["NE"] = A(9, 17) + A(5, 13) + A(4, 12) + A(10, 18)
                g["SE"] = A(19, 7) + A(25, 13) + A(20, 8) + A(24, 12)
                g["NW"] = A(7, 19) + A(1, 13) + A(6, 18) + A(2, 14)
                g["SW"] = A(17, 9) + A(21, 13) + A(22, 14) + A(16, 8)
            mn, mx = min(g.values()), max(g.values())
            T = int(1.5 * mn + 0.5 * (mx - mn))
            if c != "G":
                o = other(c)
                means = {  # direction: (own, G, opposite)
                    "N": ((P[3] + P[13]) // 2, P[8], (P[7] + P[9]) // 2),
                    "E": ((P[13] + P[15]) // 2, P[14], (P[9] + P[19]) // 2),
                    "S": ((P[13] + P[23]) // 2, P[18], (P[17] + P[19]) // 2),
                    "W": ((P[11] + P[13]) // 2, P[12], (P[7] + P[17]) // 2),
                    "NE": ((P[5] + P[13]) // 2, (P[4] + P[8] + P[10] + P[14]) // 4, P[9]),
                    "SE": ((P[13] + P[25]) // 2, (P[14] + P[18] + P[20] + P[24]) // 4, P[19]),
                    "NW": ((P[1] + P[13]) // 2, (P[2] + P[6] + P[8] + P[12]) // 4, P[7]),
                    "SW": ((P[13] + P[21]) // 2, (P[12] + P[16] + P[18] + P[22]) // 4, P[17]),
                }
                names = (c, "G", o)
            else:
                hname = "R" if colour_at(fam, flag, x + 1 if x + 1 < w else x - 1, y) == "R" else "B"
                means = {  # direction: (G, H, V)
                    "N": ((P[3] + P[13]) // 2, (P[2] + P[4] + P[12] + P[14]) // 4, P[8]),
                    "E": ((P[13] + P[15]) // 2, P[14], (P[8] + P[10] + P[18] + P[20]) // 4),
                    "S": ((P[13] + P[23]) // 2, (P[12] + P[14] + P[22] + P[24]) // 4, P[18]),
                    "W": ((P[11] + P[13]) // 2, P[12], (P[6] + P[8] + P[16] + P[18]) // 4),
                    "NE": ((P[5] + P[9] + P[13]) // 3, (P[4] + P[14]) // 2, (P[8] + P[10]) // 2),
                    "SE": ((P[13] + P[19] + P[25]) // 3, (P[14] + P[24]) // 2, (P[18] + P[20]) // 2),
                    "NW": ((P[1] + P[7] + P[13]) // 3, (P[2] + P[12]) // 2, (P[6] + P[8]) // 2),
                    "SW": ((P[13] + P[17] + P[21]) // 3, (P[12] + P[22]) // 2, (P[16] + P[18]) // 2),
                }
                names = ("G", hname, other(hname))
            sums, count = [0, 0, 0], 0
            for d in ("N", "E", "S", "W", "NE", "SE", "NW", "SW"):
                if g[d] <= T:
                    count += 1
                    for k in range(3):
                        sums[k] += means[d][k]
            STATS["counts"][count] = STATS["counts"].get(count, 0) + 1
            f = 1.0 / count
            val = {names[0]: P[13]}
            for k in (1, 2):
                v = int(P[13] + f * (sums[k] - sums[0]))
                if v < 0 or v > maxv:
                    STATS["clamped"] += 1
                STATS["below"] += v < 0
                STATS["above"] += v > maxv
                val[names[k]] = min(max(v, 0), maxv)
            out[y][x] = (val["R"], val["G"], val["B"])
    return out


def extremes(count, seed, maxv):
    """0 or maxv at every sample, irregularly (bit 10 of the sequence)."""
    return [maxv if (v >> 10) & 1 else 0 for v in lcg_samples(count, seed, 16)]


# ---- The raw-frame dispatcher's routes to ARGB32 ----

DISPATCH_W, DISPATCH_H = 8, 6
# Accepted (code, bits) pairs, one of each route.
DISPATCH_ROUTES = [("raw ", 8), ("raw ", 12), ("raw ", 16), ("raw ", 24), ("raw ", 32), ("raw ", 48),
                   ("2vuy", 16), ("v308", 24), ("Y411", 12),
                   ("blRG", 8), ("bmGR", 12), ("bhGB", 16), ("bmBG", 24),
                   ("mlRG", 8), ("mmBG", 12), ("mHGR", 16), ("mHGB", 32)]
# Letter pair -> (family, start-row flag). Colour codes: 'BG' is GBRG and
# 'GB' BGGR; grey codes name the first two colours of row 0.
COLOUR_PAIRS = {"RG": ("RGGB", 1), "GR": ("GRBG", 1), "BG": ("RGGB", 0), "GB": ("GRBG", 0)}
GREY_PAIRS = {"RG": ("RGGB", 1), "GR": ("GRBG", 1), "BG": ("GRBG", 0), "GB": ("RGGB", 0)}


def clamp8(v):
    return min(max(v, 0), 255)


def yuv(y, u, v):
    """The plain fixed-point rule; Python's >> floors like an arithmetic shift."""
    u, v = u - 128, v - 128
    return (clamp8(y + ((1432 * v) >> 10)), clamp8(y - ((354 * u + 730 * v) >> 10)), clamp8(y + ((1820 * u) >> 10)))


def dispatch(code, bits, src, w, h):
    """ARGB32 bytes of the frame, rows packed."""
    n = w * h
    le16 = [src[2 * i] | (src[2 * i + 1] << 8) for i in range(len(src) // 2)]
    top12 = []
    for i in range(n // 2):  # p0 = b0 x 16 + (b1 & 15), p1 = b2 x 16 + (b1 >> 4): top bytes b0, b2
        b0, b1, b2 = src[3 * i:3 * i + 3]
        p0, p1 = b0 * 16 + (b1 & 0x0F), b2 * 16 + (b1 >> 4)
        top12 += [p0 >> 4, p1 >> 4]
    px = []  # (A, R, G, B)
    if code == "raw ":
        if bits in (8, 12, 16):
            grey = src[:n] if bits == 8 else top12 if bits == 12 else [s >> 8 for s in le16[:n]]
            px = [(255, g, g, g) for g in grey]
        elif bits == 24:
            px = [(255, src[3 * i], src[3 * i + 1], src[3 * i + 2]) for i in range(n)]
        elif bits == 32:
            px = [tuple(src[4 * i:4 * i + 4]) for i in range(n)]
        elif bits == 48:
            px = [(255, le16[3 * i] >> 8, le16[3 * i + 1] >> 8, le16[3 * i + 2] >> 8) for i in range(n)]
    elif code == "v308":
        px = [(255,) + yuv(src[3 * i + 1], src[3 * i], src[3 * i + 2]) for i in range(n)]
    elif code == "2vuy":
        for i in range(n // 2):
            u, y0, v, y1 = src[4 * i:4 * i + 4]
            px += [(255,) + yuv(y0, u, v), (255,) + yuv(y1, u, v)]
    elif code == "Y411":
        for i in range(n // 4):
            u, y0, y1, v, y2, y3 = src[6 * i:6 * i + 6]
            px += [(255,) + yuv(y, u, v) for y in (y0, y1, y2, y3)]
    elif code[0] == "b":
        fam, flag = COLOUR_PAIRS[code[2:]]
        quality = code[1]
        if bits == 16 and quality == "h":  # full precision, then the high bytes
            rgb = hq(grid(le16[:n], w, h), w, h, fam, flag, 65535)
            rgb = [[tuple(c >> 8 for c in p) for p in row] for row in rgb]
        else:
            S = grid([s >> 8 for s in le16[:n]] if bits == 16 else top12 if bits == 12 else src[:n], w, h)
            rgb = hq(S, w, h, fam, flag, 255) if quality == "h" else {"l": lq, "m": mq}[quality](S, w, h, fam, flag)
        px = [(255,) + p for row in rgb for p in row]
    elif code[0] == "m":
        fam, flag = GREY_PAIRS[code[2:]]
        S = grid(src[:n] if bits == 8 else top12 if bits == 12 else [s >> 8 for s in le16[:n]], w, h)
        px = [(255, v, v, v) for row in mono(mq(S, w, h, fam, flag)) for v in row]
    assert len(px) == n, (code, bits)
    return [b for p in px for b in p]


def grid(samples, w, h):
    return [samples[y * w:(y + 1) * w] for y in range(h)]


def flat_rgb(img):
    return [v for row in img for px in row for v in px]


def flat(img):
    return [v for row in img for v in row]


def c_array(ctype, name, rows):
    lines = [f"static const {ctype} {name}[{len(rows)}][{len(rows[0])}] = {{"]
    for r in rows:
        lines.append("    {" + ", ".join(str(v) for v in r) + "},")
    lines.append("};")
    return "\n".join(lines)


CODEC_PATTERNS = [("RGGB", "RGGB", 1), ("GBRG", "RGGB", 0), ("GRBG", "GRBG", 1), ("BGGR", "GRBG", 0)]


def be16(v):
    return [v >> 8, v & 0xFF]


def encode(img, bits, depth):
    """Pixel bytes at a depth; 16-bit results shown at 32 bits by their high bytes."""
    out = []
    for row in img:
        for r, g, b in row:
            if depth == 32:
                shift = 0 if bits == 8 else 8
                out += [255, r >> shift, g >> shift, b >> shift]
            elif depth == 48:
                out += be16(r) + be16(g) + be16(b)
            else:
                out += [255, 255] + be16(r) + be16(g) + be16(b)
    return out


def write_codec_golden():
    parts = ["// Generated by demosaic_golden.py from the demosaic rules of the ORX_BAYER",
             "// decompressor's method 2; do not edit. Patterns in order: RGGB, GBRG, GRBG, BGGR.",
             "// Samples are host values; the 16-bit frames go to the decoder big-endian.", ""]
    for bits, ctype in ((8, "unsigned char"), (16, "unsigned short")):
        maxv = (1 << bits) - 1
        s8 = lcg_samples(64, 9876 + bits, bits)
        parts.append(c_array(ctype, f"kCodec{bits}In8x8", [s8]))
        S8 = grid(s8, 8, 8)
        imgs = [hq(S8, 8, 8, fam, flag, maxv, half_diag_at_green=True) for _, fam, flag in CODEC_PATTERNS]
        for depth in ((32,) if bits == 8 else (32, 48, 64)):
            parts.append(c_array("unsigned char", f"kCodec{bits}Method2Depth{depth}", [encode(i, bits, depth) for i in imgs]))
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "bayer_codec_golden.inc")
    with open(path, "w") as fh:
        fh.write("\n".join(parts) + "\n")


def main():
    parts = ["// Generated by demosaic_golden.py from the written demosaic rules; do not edit.",
             "// Phases in order: RGGB family flag 1, flag 0, GRBG family flag 1, flag 0.", ""]
    for bits, ctype in ((8, "unsigned char"), (16, "unsigned short")):
        maxv = (1 << bits) - 1
        s6 = lcg_samples(48, 1234 + bits, bits)
        s8 = lcg_samples(64, 4321 + bits, bits)
        parts.append(c_array(ctype, f"kGolden{bits}In8x6", [s6]))
        parts.append(c_array(ctype, f"kGolden{bits}In8x8", [s8]))
        S6, S8 = grid(s6, 8, 6), grid(s8, 8, 8)
        lqs, mqs, monos, hqs = [], [], [], []
        for fam, flag in PHASES:
            lqs.append(flat_rgb(lq(S6, 8, 6, fam, flag)))
            m = mq(S6, 8, 6, fam, flag)
            mqs.append(flat_rgb(m))
            monos.append(flat(mono(m)))
            hqs.append(flat_rgb(hq(S8, 8, 8, fam, flag, maxv)))
        parts.append(c_array(ctype, f"kGolden{bits}LQ", lqs))
        parts.append(c_array(ctype, f"kGolden{bits}MQ", mqs))
        parts.append(c_array(ctype, f"kGolden{bits}MONO", monos))
        parts.append(c_array(ctype, f"kGolden{bits}HQ", hqs))
        # Frames of extremes only: the clamp must act both ways.
        ew, eh = 12, 10
        se = extremes(ew * eh, 777 + bits, maxv)
        before = (STATS["below"], STATS["above"])
        parts.append(c_array(ctype, f"kGolden{bits}In12x10Extremes", [se]))
        parts.append(c_array(ctype, f"kGolden{bits}HQExtremes",
                             [flat_rgb(hq(grid(se, ew, eh), ew, eh, fam, flag, maxv)) for fam, flag in PHASES]))
        assert STATS["below"] > before[0] and STATS["above"] > before[1], "extreme frames must clamp both ways"
    src = lcg_samples(DISPATCH_W * DISPATCH_H * 6, 2468, 8)
    parts.append(c_array("unsigned char", "kDispatchIn8x6", [src]))
    parts.append("static const struct {\n    const char* code;\n    unsigned bits;\n"
                 f"    unsigned char argb[{DISPATCH_W * DISPATCH_H * 4}];\n}} kDispatchGolden[] = {{")
    for code, bits in DISPATCH_ROUTES:
        argb = dispatch(code, bits, src, DISPATCH_W, DISPATCH_H)
        parts.append(f'    {{"{code}", {bits}, {{' + ", ".join(str(v) for v in argb) + "}},")
    parts.append("};")
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "demosaic_golden.inc")
    with open(path, "w") as fh:
        fh.write("\n".join(parts) + "\n")
    write_codec_golden()
    print("HQ direction counts:", dict(sorted(STATS["counts"].items())), "clamped:", STATS["clamped"],
          "(below 0:", STATS["below"], "above the maximum:", STATS["above"], ")", file=sys.stderr)


if __name__ == "__main__":
    main()
