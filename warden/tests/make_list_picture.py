#!/usr/bin/env python3
"""Draws the picture that the list's tests put in a picture cell: one flat colour, 14 x 12, saved at
72 DPI (drawn at a point, GDI+ would scale it by 96/72; the list must draw it at its own size).

Usage: make_list_picture.py <output folder>   writes list_picture.png
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
from png import write_png  # noqa: E402

PICTURE = (0x11, 0x99, 0x55, 0xFF)

os.makedirs(sys.argv[1], exist_ok=True)
write_png(os.path.join(sys.argv[1], "list_picture.png"), 14, 12, lambda x, y: PICTURE, dpi=72)
