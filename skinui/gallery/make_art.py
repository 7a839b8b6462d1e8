"""Draws the gallery's images: a strip of four 20 x 20 state squares and a 4-state close button."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "scripts"))
from bmp import write_bmp  # noqa: E402

out = sys.argv[1]
os.makedirs(out, exist_ok=True)

STATES = [(0x4A, 0x90, 0xD9), (0x6F, 0xB0, 0xF0), (0x2E, 0x6C, 0xB0), (0xB0, 0xB0, 0xB0)]


def square(x, y):
    r, g, b = STATES[x // 20]
    lx, ly = x % 20, y
    if lx in (0, 19) or ly in (0, 19):
        return (0x20, 0x40, 0x70)
    if abs(lx - ly) < 2 or abs(lx - (19 - ly)) < 2:
        return (0xFF, 0xFF, 0xFF)
    return (r, g, b)


def close(x, y):
    lx, ly = x % 30, y
    base = [(0x2E, 0x6C, 0xB0), (0xE0, 0x50, 0x40), (0xB0, 0x30, 0x20), (0x90, 0x90, 0x90)][x // 30]
    cx, cy = lx - 15, ly - 11
    if abs(cx) <= 5 and abs(cy) <= 5 and (abs(cx - cy) <= 1 or abs(cx + cy) <= 1):
        return (0xFF, 0xFF, 0xFF)
    return base


write_bmp(os.path.join(out, "states.bmp"), 80, 20, 24, square)
write_bmp(os.path.join(out, "close.bmp"), 120, 22, 24, close)
