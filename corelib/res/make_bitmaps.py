#!/usr/bin/env python3
"""Draws the bitmaps of Corelib's lock dialogs (simple art of our own) as Windows BMP files.

Usage: make_bitmaps.py <output folder>
  corelib_banner.bmp     413 x 88,  8 bits   banner of the locked notice
  corelib_separator.bmp  413 x 5,   8 bits   line under the banner
  corelib_boot.bmp       600 x 350, 24 bits  boot key notice
  corelib_user.bmp       120 x 125, 24 bits  fallback user picture (bitmap 143)
The output is deterministic, so the build only redraws when this script changes.
"""
import math
import os
import sys

# The fallback user picture's background; the lock-dialog tests look for it on screen.
USER_BACKGROUND = (0x3C, 0x8D, 0x5A)
USER_FIGURE = (0xF0, 0xF4, 0xE8)


sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
from bmp import mix, write_bmp  # noqa: E402


def palette():
    # 0..223: a green ramp for the backgrounds; 224..255: light greys for lines and the padlock.
    pal = [mix((0x14, 0x3C, 0x28), (0x5C, 0xB0, 0x7C), i / 223.0) for i in range(224)]
    pal += [mix((0xFF, 0xFF, 0xFF), (0xB0, 0xB8, 0xB0), i / 31.0) for i in range(32)]
    return pal


def in_padlock(x, y, cx, cy, s):
    """A padlock: a rectangular body under a round shackle."""
    dx, dy = (x - cx) / s, (y - cy) / s
    if -1.0 <= dx <= 1.0 and 0.0 <= dy <= 1.3:
        return True
    r = math.hypot(dx, dy)
    return dy < 0.0 and 0.5 <= r <= 0.75


def banner(x, y):
    if in_padlock(x, y, 48, 40, 20):
        return 224
    return int(((x / 413.0) * 0.8 + (y / 88.0) * 0.2) * 223)


def separator(x, y):
    return 224 + int(abs(x - 206) / 206.0 * 31)


def boot(x, y):
    c = mix((0x10, 0x38, 0x24), (0x48, 0x9C, 0x68), y / 349.0)
    if in_padlock(x, y, 300, 150, 60):
        c = (0xE6, 0xD2, 0x6E)
    return c


def user(x, y):
    head = math.hypot(x - 60, y - 44) <= 21
    body = ((x - 60) / 42.0) ** 2 + ((y - 120) / 40.0) ** 2 <= 1.0 and y >= 78
    return USER_FIGURE if head or body else USER_BACKGROUND


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "."
    os.makedirs(out, exist_ok=True)
    pal = palette()
    write_bmp(os.path.join(out, "corelib_banner.bmp"), 413, 88, 8, banner, pal)
    write_bmp(os.path.join(out, "corelib_separator.bmp"), 413, 5, 8, separator, pal)
    write_bmp(os.path.join(out, "corelib_boot.bmp"), 600, 350, 24, boot)
    write_bmp(os.path.join(out, "corelib_user.bmp"), 120, 125, 24, user)


if __name__ == "__main__":
    main()
