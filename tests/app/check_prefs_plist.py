#!/usr/bin/env python3
"""Checks a camera preference file against its golden.

usage: check_prefs_plist.py <domain.plist> <golden.txt> <camera id>

The golden holds one "KEY<TAB>TEXT" line a key ('#' starts a comment); the
text "$CAID" stands for the camera id as numeric preference text (the id
rounded to single precision, "%f"). The file must hold exactly the golden's
keys, each a string equal to its text. Prints the differences; exit 1 when
there are any.
"""
import plistlib
import struct
import sys


def numeric_text(value):
    return "%f" % struct.unpack("f", struct.pack("f", value))[0]


def main():
    path, golden_path, camera = sys.argv[1], sys.argv[2], int(sys.argv[3])
    with open(path, "rb") as f:
        stored = plistlib.load(f)
    golden = {}
    with open(golden_path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            key, text = line.split("\t")
            golden[key] = numeric_text(camera) if text == "$CAID" else text
    problems = []
    for key in sorted(set(golden) | set(stored)):
        if key not in stored:
            problems.append("missing %s" % key)
        elif key not in golden:
            problems.append("unexpected %s = %r" % (key, stored[key]))
        elif stored[key] != golden[key]:
            problems.append("%s: %r, golden %r" % (key, stored[key], golden[key]))
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
