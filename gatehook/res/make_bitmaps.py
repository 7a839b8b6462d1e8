#!/usr/bin/env python3
"""Draws Gatehook's bitmaps (simple art of our own) as Windows BMP files.

Usage: make_bitmaps.py <output folder>
  banner.bmp     413 x 88, 8 bits   dialog banner
  separator.bmp  413 x 5,  8 bits   line under the banner
  boot.bmp       600 x 350, 24 bits boot key notice
  user.bmp       120 x 125, 24 bits default user picture
The output is deterministic, so the build only redraws when this script changes.
"""
import math
import os
import sys

# The default user picture's background; the locked-notice tests look for it.
USER_BACKGROUND = (0x2B, 0x57, 0x9A)
USER_FIGURE = (0xE8, 0xEE, 0xF5)


sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
from bmp import mix as blend, write_bmp  # noqa: E402


def blue_palette():
    # 0..191: a dark-to-light blue ramp; 192..255: white to silver for drawings.
    pal = [blend((0x10, 0x2A, 0x55), (0x4F, 0x8E, 0xD8), i / 191.0) for i in range(192)]
    pal += [blend((0xFF, 0xFF, 0xFF), (0xA0, 0xA8, 0xB8), i / 63.0) for i in range(64)]
    return pal


def in_key(x, y, cx, cy, scale):
    """A key lying on its side: a ring for the bow, a shaft and two teeth."""
    dx, dy = (x - cx) / scale, (y - cy) / scale
    bow = -1.6
    d = math.hypot(dx - bow, dy)
    if 0.45 <= d <= 0.95:
        return True
    if -0.7 <= dx <= 1.9 and abs(dy) <= 0.14:
        return True
    if (1.25 <= dx <= 1.45 or 1.65 <= dx <= 1.9) and 0.0 <= dy <= 0.45:
        return True
    return False


def banner(x, y):
    w, h = 413, 88
    if in_key(x, y, 52, 44, 18):
        return 192
    # A soft diagonal ramp with a light band near the bottom.
    t = (x / w) * 0.7 + (1 - y / h) * 0.3
    idx = int(t * 191)
    if 74 <= y <= 76:
        idx = 200
    return idx


def separator(x, y):
    t = abs(x - 206) / 206.0
    return 192 + int(t * 63)


def boot(x, y):
    w, h = 600, 350
    top, bottom = (0x12, 0x2E, 0x5C), (0x3C, 0x78, 0xC0)
    c = blend(top, bottom, y / (h - 1))
    # A glow behind the key.
    g = math.hypot(x - 300, y - 160) / 260.0
    c = blend((0x7F, 0xB2, 0xF0), c, g)
    if in_key(x, y, 330, 160, 55):
        c = (0xF2, 0xC9, 0x4C)
    if 300 <= y <= 303 and 60 <= x <= 540:
        c = (0xD0, 0xE0, 0xF4)
    return c


def user(x, y):
    head = math.hypot(x - 60, y - 45) <= 22
    shoulders = ((x - 60) / 44.0) ** 2 + ((y - 118) / 42.0) ** 2 <= 1.0 and y >= 76
    return USER_FIGURE if head or shoulders else USER_BACKGROUND


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    os.makedirs(out, exist_ok=True)
    pal = blue_palette()
    write_bmp(os.path.join(out, "banner.bmp"), 413, 88, 8, banner, pal)
    write_bmp(os.path.join(out, "separator.bmp"), 413, 5, 8, separator, pal)
    write_bmp(os.path.join(out, "boot.bmp"), 600, 350, 24, boot)
    write_bmp(os.path.join(out, "user.bmp"), 120, 125, 24, user)


if __name__ == "__main__":
    main()
