#!/usr/bin/python3
"""Independent reference of a measuring click in an image window: the clipped
centroid over the 32 x 32 box, FWHM, aperture radius, HFD, the wide case (ring
level, sky disc, aperture over the sky) or the narrow case, SNR and the
magnitude error. Built on the star-measurement reference next door.

    /usr/bin/python3 tests/image_windows/star_click_golden.py

writes tests/image_windows/star_click_golden.inc (python3-numpy). CI only
compares with the checked-in fixture.
"""
import math
import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'photometry'))
from photometry_golden import F32, aperture, fwhm, gaussian_frame, hfd, sky, snr  # noqa: E402

APERTURE_FACTOR = F32(1.582278481012658)


def round_half_away(v):
    return int(math.floor(v + 0.5)) if v >= 0 else -int(math.floor(-v + 0.5))


def star_frame(w, h, x0, y0, sigma, amp, bg):
    """The star on a sky of a 40-count checkerboard: a flat sky sits exactly on
    the ring level and leaves the sky disc empty."""
    yy, xx = np.mgrid[0:h, 0:w]
    return gaussian_frame(w, h, x0, y0, sigma, amp, bg) + (40 * ((xx + yy) % 2)).astype(np.uint16)


def clipped_centroid(frame, x, y, size=32):
    """Centroid of the pixels above mean + one deviation of the box, and the
    mean of the re-centred box's pixels within one deviation of its mean."""
    h, w = frame.shape
    if x + size > w or y + size > h:
        return -1.0, -1.0, 0
    box = frame[y:y + size, x:x + size].astype(np.int64)
    n = size * size
    total = int(box.sum())
    sum_sq = F32(0.0)
    for v in box.flatten():
        sum_sq = F32(sum_sq + F32(F32(v) * F32(v)))
    fsum = F32(total)
    variance = F32(F32(sum_sq - F32(F32(fsum * fsum) / F32(n))) / F32(n - 1))
    if not variance > 0 or math.isinf(variance):
        variance = F32(0.0)
    spread = float(F32(np.sqrt(variance)))
    mean_trunc = total // n
    raised = mean_trunc + spread
    clip = int(raised) if raised < 65535.0 else mean_trunc
    if not (box >= clip).any():
        return -1.0, -1.0, 0
    W = X = Y = 0.0
    for r in range(size):
        for i in range(size):
            p = int(box[r, i])
            if p > clip:
                W += p - clip
                X += (p - clip) * (x + i)
                Y += (p - clip) * (y + r)
    if not W > 10.0 * n:
        return -1.0, -1.0, 0
    cx, cy = float(F32(X / W)), float(F32(Y / W))
    bx0, by0 = round_half_away(cx - size // 2), round_half_away(cy - size // 2)
    left, top = max(bx0, 0), max(by0, 0)
    right, bottom = min(bx0 + size, w), min(by0 + size, h)
    sub = frame[top:bottom, left:right].astype(np.float64)
    m = sub.size
    bsum, bsq = float(sub.sum()), float((sub * sub).sum())
    bvar = (bsq - bsum * bsum / m) / (m - 1) if m > 1 else 0.0
    bs = math.sqrt(bvar) if bvar > 0 else 0.0
    low = max(math.trunc(bsum / m) - bs, 0.0)
    high = min(math.trunc(bsum / m) + bs, 65535.0)
    inside = sub[(sub >= low) & (sub <= high)]
    level = int(inside.sum()) // inside.size if inside.size else 0
    return cx, cy, level


def click(frame, x, y):
    """The measurement of a click at image point (x, y), or None when it is
    refused or fails."""
    h, w = frame.shape
    if not (16.0 < x < w - 16 and 16.0 < y < h - 16):
        return None
    cx, cy, level = clipped_centroid(frame, round_half_away(x - 16.0), round_half_away(y - 16.0))
    if not cx > 15.0:
        return None
    rc, fw, hm = fwhm(frame, cx, cy, level)
    if rc != 0:
        return None
    ix, iy = round_half_away(cx), round_half_away(cy)
    r = F32(F32(fw) * APERTURE_FACTOR)

    def fits(reach):
        reach = F32(reach)
        return (F32(F32(ix) - reach) > 1.0 and F32(F32(ix) + reach) < w and F32(F32(iy) - reach) > 1.0
                and F32(F32(iy) + reach) < h)

    if not fits(r):
        return None
    hf, peak = hfd(frame, ix, iy, float(r), level)
    wide = False
    if fits(F32(F32(2.5) * r)):
        i1, n1 = aperture(frame, float(F32(F32(1.5) * r)), ix, iy, 0)
        i2, n2 = aperture(frame, float(F32(F32(2.2) * r)), ix, iy, 0)
        ring = 0 if n2 == n1 else int(abs(i2 - i1) / abs(n2 - n1))
        B, nb = sky(frame, float(F32(F32(2.5) * r)), ix, iy, ring)
        if B >= 0 and i1 >= 0 and i2 >= 0:
            wide = True
            background = 0 if nb == 0 else int(B / nb)
            S, n = aperture(frame, float(r), ix, iy, background)
    if not wide:
        background = level
        S, n = aperture(frame, float(r), ix, iy, background)
        B, nb = float(n) * background, n
    q = snr(S, n, B, nb)
    err = float(F32(F32(1.0875) / F32(q))) if q > 0 else 0.0
    return dict(cx=cx, cy=cy, level=level, fwhm=fw, hm=hm, r=float(r), hfd=hf, peak=peak, wide=wide,
                background=background, bg_count=nb if wide else 0, sum=S, n=n, err=err)


# sigma, x0, y0, amplitude, background, width, height, click x, click y, what it shows
CASES = [
    (2.0, 100.3, 100.6, 10000, 1000, 200, 200, 101.0, 99.0, 'wide'),
    (1.2, 100.3, 100.6, 10000, 1000, 200, 200, 100.0, 100.0, 'wide'),
    (3.0, 100.3, 100.6, 10000, 1000, 200, 200, 98.5, 102.5, 'wide'),
    (2.0, 16.3, 60.0, 10000, 1000, 120, 120, 16.5, 60.0, 'the 2.2 r box crosses the edge'),
    (2.0, 18.4, 60.0, 10000, 1000, 120, 120, 18.0, 60.0, 'the 2.2 r box fits, the 2.5 r disc does not'),
    (2.0, 100.0, 101.7, 10000, 1000, 120, 120, 100.0, 101.0, 'the 2.5 r disc fits at the bottom edge'),
]


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'star_click_golden.inc')
    rows = []
    for (sigma, x0, y0, amp, bg, w, h, x, y, what) in CASES:
        frame = star_frame(w, h, x0, y0, sigma, amp, bg)
        m = click(frame, x, y)
        assert m is not None, what
        ix, r = round_half_away(m['cx']), m['r']
        if what.startswith('the 2.2 r box crosses'):
            assert ix - 2.2 * r <= 1.0 and not m['wide'], m
        elif what.startswith('the 2.2 r box fits'):
            assert ix - 2.2 * r > 1.0 and ix - 2.5 * r <= 1.0 and not m['wide'], m
        else:
            assert m['wide'], (what, m)
        rows.append((sigma, x0, y0, amp, bg, w, h, x, y, m))
        print('%-45s X %.3f Y %.3f FWHM %.4f r %.3f HFD %.4f bg %d/%d S %.1f n %d err %.5f' % (
            what, m['cx'], m['cy'], m['fwhm'], r, m['hfd'], m['background'], m['bg_count'], m['sum'], m['n'],
            m['err']))
    with open(out, 'w') as fh:
        fh.write('// Written by star_click_golden.py; do not edit.\n')
        fh.write('// sigma, x0, y0, amplitude, background, width, height, click x, click y,\n')
        fh.write('// X, Y, centroid level, FWHM, half max, HFD, peak, wide, background, background count,\n')
        fh.write('// star sum, star pixels, magnitude error\n')
        for (sigma, x0, y0, amp, bg, w, h, x, y, m) in rows:
            fh.write('{%r, %r, %r, %d, %d, %d, %d, %r, %r, %r, %r, %d, %.10f, %d, %r, %d, %d, %d, %d, '
                     '%.4f, %d, %r},\n' % (
                         sigma, x0, y0, amp, bg, w, h, float(x), float(y), m['cx'], m['cy'], m['level'], m['fwhm'],
                         m['hm'], m['hfd'], m['peak'], 1 if m['wide'] else 0, m['background'], m['bg_count'], m['sum'],
                         m['n'], float(m['err'])))


if __name__ == '__main__':
    main()
