#!/usr/bin/env python3
"""Compares a layer turned into its canvas by the import with OpenCV's
warpAffine (Lanczos, constant border 0) of the same canvas.

Arguments: a folder holding canvas.u16 (the untouched canvas), ours.u16 (the
import's result for the whole canvas) and warp.txt (width, height, the map
a b c d tx ty in the y-up frame, the layer's rectangle x y w h in rows from
the top, then point sources as x y pairs in canvas rows from the top).
Exit 0 when the RMS difference inside the layer is within 2 % of full scale
and every point's centroid within 0.1 px; prints the figures."""
import sys

import cv2
import numpy as np


def main(folder):
    words = open(folder + "/warp.txt").read().split()
    w, h = int(words[0]), int(words[1])
    a, b, c, d, tx, ty = (float(v) for v in words[2:8])
    lx, ly, lw, lh = (int(v) for v in words[8:12])
    pts = [float(v) for v in words[12:]]
    canvas = np.fromfile(folder + "/canvas.u16", dtype="<u2").reshape(h, w).astype(np.float32)
    ours = np.fromfile(folder + "/ours.u16", dtype="<u2").reshape(h, w).astype(np.float64)

    # Index frame (centres at integers, y down) from the y-up frame:
    # X = x + 0.5, Y = h - y - 0.5.
    p = np.array([[1, 0, 0.5], [0, -1, h - 0.5], [0, 0, 1]], dtype=np.float64)
    m = np.array([[a, c, tx], [b, d, ty], [0, 0, 1]], dtype=np.float64)
    cv_m = np.linalg.inv(p) @ m @ p
    theirs = cv2.warpAffine(canvas, cv_m[:2], (w, h), flags=cv2.INTER_LANCZOS4,
                            borderMode=cv2.BORDER_CONSTANT, borderValue=0)
    theirs = np.clip(theirs.astype(np.float64), 0, 65535)

    # Inside the layer: destination samples whose source lies 4 px inside it.
    ys, xs = np.mgrid[0:h, 0:w].astype(np.float64)
    inv = np.linalg.inv(cv_m)
    sx = inv[0, 0] * xs + inv[0, 1] * ys + inv[0, 2]
    sy = inv[1, 0] * xs + inv[1, 1] * ys + inv[1, 2]
    inside = (sx >= lx + 4) & (sx <= lx + lw - 5) & (sy >= ly + 4) & (sy <= ly + lh - 5)
    rms = np.sqrt(np.mean((ours[inside] - theirs[inside]) ** 2)) / 65535.0
    print("rms %.5f of full scale over %d samples" % (rms, int(inside.sum())))
    ok = rms <= 0.02

    def centroid(img, cx, cy):
        x0, y0 = int(round(cx)) - 4, int(round(cy)) - 4
        win = img[y0:y0 + 9, x0:x0 + 9]
        win = win - np.median(img[y0 - 6:y0 + 15, x0 - 6:x0 + 15])
        win = np.clip(win, 0, None)
        wy, wx = np.mgrid[0:9, 0:9]
        s = win.sum()
        return x0 + (win * wx).sum() / s, y0 + (win * wy).sum() / s

    for i in range(0, len(pts), 2):
        q = cv_m @ np.array([pts[i], pts[i + 1], 1.0])
        ox, oy = centroid(ours, q[0], q[1])
        tx_, ty_ = centroid(theirs, q[0], q[1])
        dist = np.hypot(ox - tx_, oy - ty_)
        print("point %d: ours %.3f %.3f, OpenCV %.3f %.3f, %.3f px apart" % (i // 2, ox, oy, tx_, ty_, dist))
        ok = ok and dist <= 0.1
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
