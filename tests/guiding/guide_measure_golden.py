#!/usr/bin/env python3
"""Golden values of guide_measure_test.cpp, worked out apart from the C++ code.

Run: python3 tests/guiding/guide_measure_golden.py

1. Half-flux diameters (the flux disc and the half-flux radius search of the
   live FWHM/HFD measurement) of sampled Gaussian stars, sigma 2 px, 200 over
   a background of 20, for a given FWHM.
2. The FWHM that the twelve half-maximum walks measure on the same star, and
   the HFD that follows from it.
3. Two hand-shaped 5 x 5 stars whose walks measure exactly 2.7 and 2.5 px.
"""
import math
from fractions import Fraction


def gaussian(w, h, x0, y0, sigma, amp, bg):
    return [[int(math.floor(bg + amp * math.exp(-((x - x0) ** 2 + (y - y0) ** 2) / (2 * sigma * sigma)) + 0.5))
             for x in range(w)] for y in range(h)]


def weighted_level(img, fraction):
    """First bin whose running sum of (i + 1) x count reaches trunc(f x total);
    four pixels at a time, a row's last width mod 4 left out."""
    hist = [0] * 256
    for row in img:
        for v in row[:len(row) & ~3]:
            hist[v] += 1
    total = sum((i + 1) * hist[i] for i in range(256))
    target = int(fraction * total)
    run = 0
    for i in range(256):
        run += (i + 1) * hist[i]
        if run >= target:
            return i
    return 0


def disc_flux(img, cx, cy, rho, bg):
    """Rows [trunc(cy - rho), trunc(cy + rho)), columns [cx - h, cx + h)."""
    flux, peak = 0, 0
    for row in range(math.trunc(cy - rho), math.trunc(cy + rho)):
        dy = row - cy
        h = int(round(math.sqrt(abs(rho * rho - dy * dy)))) & 0xFF  # round: half to even, as rint
        for col in range(cx - h, cx + h):
            p = img[row][col]
            if p > bg:
                flux += p - bg
            peak = max(peak, p)
    return flux, peak


def hfd(img, x, y, fwhm, bg):
    r = fwhm * 2.1
    cx, cy = int(round(x)), int(round(y))
    total, peak = disc_flux(img, cx, cy, r, bg)
    if total == 0:
        return 0.0, peak
    half = total // 2
    rho = 0.75 * r
    prev_rho, prev_f = rho, 0
    while True:
        f, _ = disc_flux(img, cx, cy, rho, bg)
        if f == half:
            break
        if f > half:
            if prev_f != 0 and rho <= 1.0:
                break
            prev_rho, prev_f = rho, f
            rho -= 0.5
        else:
            if rho + 0.5 >= r or (prev_f != 0 and prev_f >= half):
                break
            prev_rho, prev_f = rho, f
            rho += 0.5
    if abs(prev_rho - rho) > 0.1 and f != prev_f and (prev_f > half > f or prev_f < half < f):
        rho = rho + (prev_rho - rho) * (half - f) / (prev_f - f)
    return 2 * rho, peak


def walk_distance(profile, half, start):
    """Distance from `start` to where the profile (index 0 = centre) first
    drops to the half level, interpolated on the previous pixel's side."""
    prev = profile[0]
    for i, p in enumerate(profile[1:], 1):
        if p <= half:
            if p == half:
                return abs(i - start) if isinstance(start, Fraction) else float(abs(i - start))
            return abs(start - (i - Fraction(half - p, prev - p)))
        prev = p
    return None


def fwhm_walks(img, x, y, bg):
    xr, yr = int(round(x)), int(round(y))
    peak = max(img[r][c] for r in range(yr - 1, yr + 2) for c in range(xr - 1, xr + 2))
    half = (peak + bg) // 2
    ds = []
    for k in (-1, 0, 1):
        row = yr + k
        if img[row][xr] > half:
            for step in (-1, 1):
                prof = [img[row][xr + step * i] for i in range(0, 40) if 0 < xr + step * i < len(img[0]) - 1 or i == 0]
                d = walk_distance(prof, half, 0)
                if d is not None:
                    ds.append(d)
        col = xr + k
        if img[yr][col] > half:
            for step in (-1, 1):
                prof = [img[yr + step * i][col] for i in range(0, 40) if 0 < yr + step * i < len(img) - 1 or i == 0]
                d = walk_distance(prof, half, 0)
                if d is not None:
                    ds.append(d)
    return 2 * sum(ds) / len(ds)


def shaped_star(a, b, c, d, peak=220, bg=20):
    """5 x 5 star: centre peak, 4-neighbours a, diagonals b, (2, 0) c, (2, 1) d."""
    s = [[bg] * 5 for _ in range(5)]
    for dy in range(-2, 3):
        for dx in range(-2, 3):
            m = sorted((abs(dx), abs(dy)))
            v = {(0, 0): peak, (0, 1): a, (1, 1): b, (0, 2): c, (1, 2): d}.get(tuple(m), bg)
            s[dy + 2][dx + 2] = v
    return s


if __name__ == "__main__":
    for x0, y0 in ((64.0, 64.0), (64.5, 64.5)):
        img = gaussian(128, 128, x0, y0, 2.0, 200, 20)
        bg = weighted_level(img, 0.5)
        d, peak = hfd(img, x0, y0, 4.71, bg)
        print(f"star ({x0}, {y0}): p50 {bg}, FWHM 4.71 -> HFD {d:.6f}, peak {peak}")
    img = gaussian(128, 128, 64.0, 64.0, 2.0, 200, 20)
    bg = weighted_level(img, 0.5)
    f = float(fwhm_walks(img, 64.0, 64.0, bg))
    d, peak = hfd(img, 64.0, 64.0, f, bg)
    print(f"measured on the centred star: FWHM {f:.6f}, HFD {d:.6f}, peak {peak}")
    for a, b, c, d in ((121, 121, 101, 119), (121, 121, 109, 118)):
        s = shaped_star(a, b, c, d)
        big = [[20] * 9 for _ in range(9)]
        for r in range(5):
            big[r + 2][2:7] = s[r]
        print(f"shaped star a={a} b={b} c={c} d={d}: FWHM {float(fwhm_walks(big, 4, 4, 20)):.6f}")
