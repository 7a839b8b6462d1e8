#!/usr/bin/env python3
"""Draws the colour-coded images of the skin tests. Every pixel's colour encodes where it sits in
its image, so a test can tell from a drawn pixel which source pixel landed there.

Usage: make_fixtures.py <output folder>
  frame7.bmp    7 x 7     frame with 3-pixel corners          pixel (x, y) = FRAME(x, y)
  frame3.bmp    3 x 3     frame with 1-pixel corners          pixel (x, y) = FRAME(x, y)
  bar.bmp       36 x 5    bar strip, 4 sub-images of 9        pixel (x, y) = BAR(x, y)
  strip71.bmp   284 x 3   image strip, 4 sub-images of 71     pixel (x, y) = STRIP(x, y)
  strip43.png   172 x 6   PNG strip, 4 sub-images of 43, 72 DPI, opaque   pixel (x, y) = PNG(x, y)
  broken.png    bytes that are not an image
The colour formulas are repeated in the tests (fixtures.h).
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
from bmp import write_bmp  # noqa: E402
from png import write_png  # noqa: E402


def frame(x, y):
    return (10 + 30 * x, 10 + 30 * y, 77)


def bar(x, y):
    return (10 + 6 * x, 10 + 40 * y, 50 + 40 * (x // 9))


def strip(x, y):
    return (x & 0xFF, 50 * (x >> 8) + y, 33)


def png(x, y):
    return (x, 20 * y, 99, 255)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_bmp(os.path.join(out, "frame7.bmp"), 7, 7, 24, frame)
    write_bmp(os.path.join(out, "frame3.bmp"), 3, 3, 24, frame)
    write_bmp(os.path.join(out, "bar.bmp"), 36, 5, 24, bar)
    write_bmp(os.path.join(out, "strip71.bmp"), 284, 3, 24, strip)
    write_png(os.path.join(out, "strip43.png"), 172, 6, png, dpi=72)
    with open(os.path.join(out, "broken.png"), "wb") as f:
        f.write(b"this is no picture at all")


if __name__ == "__main__":
    main()
