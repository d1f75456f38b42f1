#!/usr/bin/python3
"""Independent reference of the star-measurement rules, written from the rules
themselves with numpy, and the checked-in fixture the C++ tests read.

    /usr/bin/python3 tests/photometry/photometry_golden.py

writes tests/photometry/photometry_golden.inc. It also checks the centred
aperture against photutils' 'subpixel' (5 sub-pixels) and 'exact' methods and
the plate solver against numpy.linalg.solve (python3-numpy, python3-astropy,
python3-photutils). CI only compares with the checked-in fixture.
"""
import math
import os
import sys

import numpy as np

F32 = np.float32


def gaussian_frame(w, h, x0, y0, sigma, amp, bg):
    yy, xx = np.mgrid[0:h, 0:w].astype(np.float64)
    v = bg + amp * np.exp(-((xx - x0) ** 2 + (yy - y0) ** 2) / (2.0 * sigma * sigma))
    return np.floor(v + 0.5).clip(0, 65535).astype(np.uint16)


def fwhm(frame, x, y, bg):
    h, w = frame.shape
    cx, cy = int(x), int(y)
    peak = int(frame[cy - 1:cy + 2, cx - 1:cx + 2].max())
    hm = int((peak + bg) / 2.0)
    if hm <= 1.05 * bg:
        return -1, 0.0, hm
    total, count = 0.0, 0

    def walk(samples, start, pos, step, lo, hi):
        # samples indexed by coordinate; returns distance or None
        if samples[start] <= hm:
            return None
        p = start + step
        prev = samples[start]
        while lo <= p <= hi:
            v = int(samples[p])
            if v <= hm:
                frac = 0.0 if v == hm else (hm - v) / (prev - v)
                return (pos - p - frac) if step < 0 else (p - pos - frac)
            prev = int(v)
            p += step
        return None

    walks = []
    for r in (cy - 1, cy, cy + 1):
        walks.append(walk(frame[r, :].astype(np.int64), cx, x, -1, 1, w - 1))
    for r in (cy - 1, cy, cy + 1):
        walks.append(walk(frame[r, :].astype(np.int64), cx, x, +1, 1, w - 1))
    for c in (cx - 1, cx, cx + 1):
        walks.append(walk(frame[:, c].astype(np.int64), cy, y, -1, 1, h - 1))
    for c in (cx - 1, cx, cx + 1):
        walks.append(walk(frame[:, c].astype(np.int64), cy, y, +1, 1, h - 1))
    for d in walks:
        if d is not None:
            total += d
            count += 1
    if count == 0:
        return -1, 0.0, hm
    return 0, 2.0 * total / count, hm


def disc_sum(frame, cx, cy, R, bg, want_peak=False):
    total, peak = 0, 0
    for row in range(math.trunc(cy - R), math.trunc(cy + R)):
        dy = abs(row - cy)
        hc = int(np.rint(math.sqrt(abs(dy * dy - R * R))))
        for col in range(cx - hc, cx + hc):
            v = int(frame[row, col])
            peak = max(peak, v)
            if v > bg:
                total += v - bg
    return (total, peak) if want_peak else total


def hfd(frame, cx, cy, R, bg):
    bg &= 0xFFFF
    T, peak = disc_sum(frame, cx, cy, R, bg, True)
    if T == 0:
        return 0.0, peak
    half = T // 2
    rho = 0.75 * R
    prev_rho, prev_s = rho, 0
    while True:
        S = disc_sum(frame, cx, cy, rho, bg)
        if S >= half:
            if S == half or (prev_s != 0 and rho <= 1.0):
                break
            prev_rho, prev_s, rho = rho, S, rho - 0.5
        else:
            nxt = rho + 0.5
            if nxt > R or (prev_s != 0 and half <= prev_s):
                break
            prev_rho, prev_s, rho = rho, S, nxt
    if abs(prev_rho - rho) > 0.1 and prev_s != S and min(prev_s, S) < half < max(prev_s, S):
        rho = (prev_rho - rho) / (prev_s - S) * (half - S) + rho
    return float(F32(2.0 * rho)), peak


def subpixel_mask(cx, cy, r, w, h):
    """Pixels of the grid and, per pixel, which of its 5x5 sub-pixels lie in the
    circle of radius r centred on pixel (cx, cy)."""
    k = math.ceil(r)
    r2 = 100.0 * float(F32(r)) ** 2
    cells = []
    for py in range(cy - k, cy + k + 1):
        if py < 0 or py >= h:
            continue
        for j in range(5):
            Y = 10 * (py - cy) + 2 * j - 4
            for px in range(cx - k, cx + k + 1):
                if px < 0 or px >= w:
                    continue
                for i in range(5):
                    X = 10 * (px - cx) + 2 * i - 4
                    if X * X + Y * Y < r2:
                        cells.append((py, px))
    return cells


def edge_refused(r, cx, cy, w, h):
    return r > cx or r > cy or cx + r > w or cy + r > h


def grid_pixels(cx, cy, r, w, h):
    k = math.ceil(r)
    return frame_box(cx - k, cy - k, cx + k, cy + k, w, h)


def frame_box(x0, y0, x1, y1, w, h):
    return max(x0, 0), max(y0, 0), min(x1, w - 1), min(y1, h - 1)


def aperture(frame, r, cx, cy, level, acc=F32):
    """acc=np.float64 gives the same sum without single-precision rounding,
    for comparing with photutils."""
    h, w = frame.shape
    level &= 0xFFFF
    if edge_refused(r, cx, cy, w, h):
        return -1.0, 0
    x0, y0, x1, y1 = grid_pixels(cx, cy, r, w, h)
    box = frame[y0:y1 + 1, x0:x1 + 1].astype(np.int64)
    if not (box >= level).any():
        return -2.0, 0
    s, counted = acc(0.0), 0
    for (py, px) in subpixel_mask(cx, cy, r, w, h):
        v = int(frame[py, px])
        if v >= level:
            sub = acc(acc(v - level) * acc(0.04))
            if sub > 0:
                s = acc(s + sub)
                counted += 1
    return float(s), int(counted * 0.04)


def sky(frame, r, cx, cy, threshold):
    h, w = frame.shape
    threshold &= 0xFFFF
    if edge_refused(r, cx, cy, w, h):
        return -1.0, 0
    x0, y0, x1, y1 = grid_pixels(cx, cy, r, w, h)
    box = frame[y0:y1 + 1, x0:x1 + 1].astype(np.int64)
    if not (box <= threshold).any():
        return -2.0, 0
    s, counted = F32(0.0), 0
    for (py, px) in subpixel_mask(cx, cy, r, w, h):
        v = int(frame[py, px])
        if v <= threshold:
            s = F32(s + F32(F32(v) * F32(0.04)))
            counted += 1
    return float(s), int(counted * 0.04)


def snr(S, n, B, nb):
    S = float(F32(S))
    if S <= 0 or nb == 0:
        return 0.0
    b = F32(F32(B) / F32(nb))
    ratio = F32(F32(n) * F32(F32(1.0) / F32(nb)))
    return float(F32(S / math.sqrt(S + n * (1.0 + float(ratio)) * (float(b) + 0.0841))))


def magnitude(m0, I0, I):
    if I0 > float(F32(0.01)):
        if I <= 0:
            return -999.0
        return float(F32(m0 - 2.512 * math.log10(I / I0)))
    return float(F32(m0))


def solve(x, y, q):
    x = [float(F32(v)) for v in x]
    y = [float(F32(v)) for v in y]
    q = [float(F32(v)) for v in q]
    x0, y0, q0 = x[0], y[0], q[0]
    f1 = float(F32(x[1] / x0))
    b1, c1, w1 = (y[1] - f1 * y0, 1 - f1, q[1] - f1 * q0) if abs(f1) > 1e-5 else (y[1], 1.0, q[1])
    f2 = x[2] / x0
    b2, c2, w2 = (y[2] - f2 * y0, 1 - f2, q[2] - f2 * q0) if abs(f2) > 1e-5 else (y[2], 1.0, q[2])
    f3 = float(F32(b2 / b1)) if b1 != 0 else 0.0
    d = c2 - f3 * c1
    C = (w2 - f3 * w1) / d if abs(d) > 1e-6 else 0.0
    B = (w1 - C * c1) / b1 if abs(b1) > 1e-6 else 0.0
    A = (q0 - C - B * y0) / x0 if abs(x0) > 1e-6 else 0.0
    return float(F32(A)), float(F32(B)), float(F32(C))


FIXTURE_STARS = [  # sigma, x0, y0, amplitude, background, size
    (2.0, 100.3, 100.6, 10000, 1000, 200),
    (1.2, 100.3, 100.6, 10000, 1000, 200),
    (3.0, 100.3, 100.6, 10000, 1000, 200),
]


def star_case(sigma, x0, y0, amp, bg, size):
    f = gaussian_frame(size, size, x0, y0, sigma, amp, bg)
    rc, fw, hm = fwhm(f, x0, y0, bg)
    cx, cy = int(round(x0)), int(round(y0))
    R = 2 * 1.5 * 2.3548 * sigma
    r = float(F32(1.5 * fw))
    h1, p1 = hfd(f, cx, cy, R, bg)
    h2, p2 = hfd(f, cx, cy, r, bg)
    ap = aperture(f, r, cx, cy, bg)
    sk = sky(f, float(F32(2.5 * r)), cx, cy, int(bg * 1.1))
    return dict(sigma=sigma, x0=x0, y0=y0, amp=amp, bg=bg, size=size, rc=rc, fwhm=fw, hm=hm, cx=cx, cy=cy,
                R=R, hfdR=h1, peakR=p1, r=r, hfdr=h2, ap=ap, skyr=float(F32(2.5 * r)), sky=sk, thr=int(bg * 1.1))


def check_against_photutils(cases):
    try:
        from photutils.aperture import CircularAperture, aperture_photometry
    except ImportError:
        sys.exit("photutils is needed to check the reference (apt-get install python3-photutils)")
    for c in cases:
        f = gaussian_frame(c['size'], c['size'], c['x0'], c['y0'], c['sigma'], c['amp'], c['bg']).astype(np.float64)
        net = np.where(f >= c['bg'], f - c['bg'], 0.0)
        ap = CircularAperture((c['cx'], c['cy']), r=c['r'])
        sub = aperture_photometry(net, ap, method='subpixel', subpixels=5)['aperture_sum'][0]
        mine = aperture(f.astype(np.uint16), c['r'], c['cx'], c['cy'], c['bg'], np.float64)[0]
        assert abs(sub - mine) <= 1e-5 * sub, (c['sigma'], sub, mine)
        # Single-precision accumulation stays within 5e-5 of the exact sum.
        assert abs(sub - c['ap'][0]) <= 5e-5 * sub, (c['sigma'], sub, c['ap'])
        if c['r'] >= 3:
            exact = aperture_photometry(net, CircularAperture((c['x0'], c['y0']), r=c['r']),
                                        method='exact')['aperture_sum'][0]
            assert abs(exact - c['ap'][0]) <= 0.005 * exact, (c['sigma'], exact, c['ap'])


def phase_spread():
    sums = []
    for (px, py) in [(0.0, 0.0), (0.2, 0.1), (0.4, 0.3), (-0.3, 0.45), (0.45, -0.2), (-0.1, -0.4)]:
        f = gaussian_frame(100, 100, 50 + px, 50 + py, 1.2, 10000, 1000)
        fw = 2.3548 * 1.2
        sums.append(aperture(f, float(F32(1.5 * fw)), 50, 50, 1000)[0])
    return (max(sums) - min(sums)) / max(sums)


def main():
    cases = [star_case(*s) for s in FIXTURE_STARS]
    check_against_photutils(cases)
    spread = phase_spread()
    assert spread < 0.005, spread
    # The plate solver against numpy on exactly linear plates.
    rng = np.random.default_rng(7)
    for _ in range(50):
        scale, turn = rng.uniform(0.5, 5.0), rng.uniform(0, 2 * math.pi)
        xs, ys = rng.uniform(20, 620, 3), rng.uniform(20, 460, 3)
        A, B, C = scale * math.cos(turn), scale * math.sin(turn), rng.uniform(-500000, 500000)
        xs, ys = xs.astype(F32).astype(np.float64), ys.astype(F32).astype(np.float64)
        q = (A * xs + B * ys + C).astype(F32).astype(np.float64)
        area = abs((xs[1] - xs[0]) * (ys[2] - ys[0]) - (xs[2] - xs[0]) * (ys[1] - ys[0])) / 2
        if area < 0.05 * 640 * 480:
            continue
        ref = np.linalg.solve(np.column_stack([xs, ys, np.ones(3)]), q)
        got = solve(xs, ys, q)
        for g, e in zip(got, ref):
            assert abs(g - e) <= 1e-5 * max(abs(e), 1.0), (got, ref)
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'photometry_golden.inc')
    with open(out, 'w') as fh:
        fh.write('// Written by photometry_golden.py; do not edit.\n')
        fh.write('// sigma, x0, y0, amplitude, background, size, fwhm result, fwhm, hm, cx, cy, R, hfd(R), peak(R),\n')
        fh.write('// r, hfd(r), aperture sum, aperture n, sky r, sky threshold, sky sum, sky n\n')
        for c in cases:
            fh.write('{%r, %r, %r, %d, %d, %d, %d, %.10f, %d, %d, %d, %.10f, %.10ff, %d, %.9gf, %.10ff, %.4f, %d, '
                     '%.9gf, %d, %.4f, %d},\n' % (
                         c['sigma'], c['x0'], c['y0'], c['amp'], c['bg'], c['size'], c['rc'], c['fwhm'], c['hm'],
                         c['cx'], c['cy'], c['R'], c['hfdR'], c['peakR'], c['r'], c['hfdr'], c['ap'][0], c['ap'][1],
                         c['skyr'], c['thr'], c['sky'][0], c['sky'][1]))
    for c in cases:
        print('sigma %.1f: hm %d FWHM %.4f HFD %.4f (R %.4f) %.4f (r %.4f) S %.1f n %d B %.1f nB %d' % (
            c['sigma'], c['hm'], c['fwhm'], c['hfdR'], c['R'], c['hfdr'], c['r'], c['ap'][0], c['ap'][1],
            c['sky'][0], c['sky'][1]))
    print('phase spread %.5f' % spread)
    print('flat r3', aperture(np.full((100, 100), 100, np.uint16), 3.0, 50, 50, 0))
    print('flat r6', aperture(np.full((100, 100), 100, np.uint16), 6.0, 50, 50, 0))
    print('flat r6.661', aperture(np.full((100, 100), 100, np.uint16), 6.661, 50, 50, 0))
    print('cx94 r6', aperture(np.full((100, 100), 100, np.uint16), 6.0, 94, 50, 0))
    print('snr', snr(10000, 50, 50000, 200), 'mag', magnitude(10, 1000, 4000), magnitude(0, 1, 2))
    print('plate', solve([100, 540, 300], [80, 120, 420], [273036.75, 272437.09, 272929.28]),
          solve([100, 540, 300], [80, 120, 420], [-43787.89, -43505.78, -43206.04]))


if __name__ == '__main__':
    main()
