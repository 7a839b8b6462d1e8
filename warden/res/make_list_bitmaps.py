#!/usr/bin/env python3
"""Draws the bitmaps of the control panel's owner-drawn list (simple art of our own) as BMP files,
and a header with the colours that the list's tests look for on screen.

Usage: make_list_bitmaps.py <output folder>
  list_header.bmp   6 x 20   header background (x 0-2) and column divider (x 3-5)       bitmap 210
  list_check.bmp   52 x 13   ticked box, empty box, bare tick, red cross                   bitmap 211
  list_expand.bmp  18 x 9    minus box (expanded), plus box (collapsed)                    bitmap 212
  list_radio.bmp   26 x 13   radio with a dot, empty radio; the top-left colour is clear  bitmap 213
  list_marker.bmp  20 x 19   light-blue button face with a down chevron                    bitmap 214
  list_art.h                 the colours above, for the tests
The output is deterministic, so the build only redraws when this script changes.
"""
import math
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
from bmp import write_bmp  # noqa: E402

HEADER_TOP = (0xF4, 0xF8, 0xFD)      # lighter upper half
HEADER_BOTTOM = (0xE6, 0xEE, 0xF8)   # slightly darker lower half
HEADER_LINE = (0x9A, 0xAC, 0xC4)     # grey-blue bottom line and divider
FRAME = (0x7A, 0x8C, 0xA4)
BOX = (0xFF, 0xFF, 0xFF)
TICK = (0x1E, 0xA0, 0x3C)
CROSS = (0xD0, 0x20, 0x20)
CLEAR = (0xFF, 0x00, 0xFF)           # radio background, made transparent by the list's mask
FACE = (0xD2, 0xE6, 0xFA)
CHEVRON = (0x28, 0x3C, 0x5A)


def header(x, y):
    if x >= 3:
        return HEADER_LINE if x == 4 else (HEADER_TOP if y < 10 else HEADER_BOTTOM)
    if y == 19:
        return HEADER_LINE
    return HEADER_TOP if y < 10 else HEADER_BOTTOM


def on_tick(x, y):
    # A tick through (3,6) (5,9) (10,3), two pixels thick.
    if 3 <= x <= 5:
        return abs(y - (6 + (x - 3) * 1.5)) <= 1.0
    if 5 < x <= 10:
        return abs(y - (9 - (x - 5) * 1.2)) <= 1.0
    return False


def check(x, y):
    img, cx = divmod(x, 13)
    framed = img < 2
    if framed and (cx in (0, 12) or y in (0, 12)):
        return FRAME
    if img == 0 and on_tick(cx, y):
        return TICK
    if img == 2 and on_tick(cx, y):
        return TICK
    if img == 3 and 2 <= cx <= 10 and (abs(cx - y) <= 0 or abs(cx - (12 - y)) <= 0):
        return CROSS
    return BOX


def expand(x, y):
    img, cx = divmod(x, 9)
    if cx in (0, 8) or y in (0, 8):
        return FRAME
    if y == 4 and 2 <= cx <= 6:
        return CHEVRON
    if img == 1 and cx == 4 and 2 <= y <= 6:
        return CHEVRON
    return BOX


def radio(x, y):
    img, cx = divmod(x, 13)
    r = math.hypot(cx - 6, y - 6)
    if r > 6.2:
        return CLEAR
    if r > 5.0:
        return FRAME
    if img == 0 and r <= 2.6:
        return TICK
    return BOX


def marker(x, y):
    if x in (0, 19) or y in (0, 18):
        return FRAME
    # A down-pointing chevron centred in the face.
    dx = x - 9.5
    if abs(dx) <= 4.5 and abs(y - (12 - abs(dx))) <= 1.0:
        return CHEVRON
    return FACE


def rgb(c):
    return "RGB(0x%02X, 0x%02X, 0x%02X)" % c


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write_bmp(os.path.join(out, "list_header.bmp"), 6, 20, 24, header)
    write_bmp(os.path.join(out, "list_check.bmp"), 52, 13, 24, check)
    write_bmp(os.path.join(out, "list_expand.bmp"), 18, 9, 24, expand)
    write_bmp(os.path.join(out, "list_radio.bmp"), 26, 13, 24, radio)
    write_bmp(os.path.join(out, "list_marker.bmp"), 20, 19, 24, marker)
    names = {"HEADER_TOP": HEADER_TOP, "HEADER_BOTTOM": HEADER_BOTTOM, "HEADER_LINE": HEADER_LINE,
             "FRAME": FRAME, "TICK": TICK, "CLEAR": CLEAR, "FACE": FACE, "CHEVRON": CHEVRON}
    with open(os.path.join(out, "list_art.h"), "w") as f:
        f.write("// Drawn by make_list_bitmaps.py: the colours of the list's bitmaps.\n#pragma once\n")
        for k, v in names.items():
            f.write("#define LIST_ART_%s %s\n" % (k, rgb(v)))


if __name__ == "__main__":
    main()
