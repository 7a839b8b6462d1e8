#!/usr/bin/env python3
"""Draws the control panel's skin art (simple drawings of our own) and its two icons.

Usage: make_skin_art.py <output folder>
  skin_<name>.bmp   bitmaps of the frame, bar and strip skins (ids in skins.xml, 300-332)
  skin_<name>.png   pictures of the PNG skins (ids in skins.xml, 401-413)
  app.ico           program icon 32 x 32 and 16 x 16 (icon 100)
  tray.ico          small icon 16 x 16 (icon 101)
Sizes follow the skins: a frame with left L and top T is (2L + 1) x (2T + 1); a strip with a sub-image
width S holds one picture per state (normal, hover, pushed, disabled). Magenta is the key colour of the
skins in "mask" mode. The output is deterministic, so the build only redraws when this script changes.
"""
import math
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
from bmp import mix, write_bmp  # noqa: E402
from png import write_png  # noqa: E402

KEY = (0xFF, 0x00, 0xFF)
BLUE_TOP = (0x3A, 0x86, 0xD0)
BLUE_BOTTOM = (0x1F, 0x5A, 0x9C)
EDGE = (0x1A, 0x4C, 0x86)
LIGHT = (0xF5, 0xF9, 0xFD)
WHITE = (0xFF, 0xFF, 0xFF)


def frame_bmp(out, name, left, top, border, fill, head=None):
    """A frame: one-pixel border, fill inside; head (top, bottom colours) paints the top slice."""
    w, h = 2 * left + 1, 2 * top + 1

    def px(x, y):
        if head and y < top:
            return mix(head[0], head[1], y / max(1, top - 1))
        if x == 0 or y == 0 or x == w - 1 or y == h - 1:
            return border
        return fill
    write_bmp(os.path.join(out, "skin_%s.bmp" % name), w, h, 24, px)


def bar_bmp(out, name, width, height, states, colours):
    """A horizontal bar: per state a vertical gradient with a darker first and last row."""
    def px(x, y):
        top, bottom = colours[min(x // width, len(colours) - 1)]
        if y == height - 1:
            return mix(bottom, (0, 0, 0), 0.2)
        return mix(top, bottom, y / max(1, height - 1))
    write_bmp(os.path.join(out, "skin_%s.bmp" % name), width * states, height, 24, px)


def user_picture(x, y):
    """A grey head-and-shoulders outline on a pale ground, 121 x 125."""
    cx = 60
    head = (x - cx) ** 2 + (y - 45) ** 2 <= 22 ** 2
    body = y >= 75 and (x - cx) ** 2 / 45.0 ** 2 + (y - 125) ** 2 / 45.0 ** 2 <= 1
    if x in (0, 120) or y in (0, 124):
        return (0xB0, 0xB8, 0xC4)
    return (0x9A, 0xA6, 0xB6) if head or body else (0xEC, 0xF1, 0xF7)


def tab_strip(x, y):
    """Tab backgrounds 71 x 71: normal (key colour), hover (light), selected (white)."""
    state = x // 71
    lx = x % 71
    corner = (lx < 3 or lx > 67) and y < 3
    if state == 0 or corner:
        return KEY
    if state == 1:
        return mix((0x7F, 0xB4, 0xE8), (0x4C, 0x8E, 0xD4), y / 70.0)
    return mix(WHITE, (0xE2, 0xEE, 0xFA), y / 70.0)


def flash_strip(x, y):
    """Two 16 x 16 tray pictures: a lit and a dimmed padlock."""
    lit = x < 16
    lx = x % 16
    body = 3 <= lx <= 12 and 7 <= y <= 14
    shackle = 5 <= lx <= 10 and 2 <= y <= 7 and not (7 <= lx <= 8 and y >= 4)
    if body or shackle:
        return (0xF0, 0xB0, 0x20) if lit else (0x90, 0x90, 0x90)
    return KEY


def make_button(x, y):
    """The make-key button 120 x 40 in four states, with a key drawn on its face."""
    state = x // 120
    lx = x % 120
    if (lx < 2 or lx > 117) and (y < 2 or y > 37):
        return KEY
    if lx == 0 or lx == 119 or y == 0 or y == 39:
        return EDGE
    faces = [((0x4C, 0x9A, 0xE6), (0x23, 0x6A, 0xB8)), ((0x6C, 0xB2, 0xF2), (0x33, 0x7E, 0xCC)),
             ((0x23, 0x6A, 0xB8), (0x4C, 0x9A, 0xE6)), ((0xC8, 0xC8, 0xC8), (0xA0, 0xA0, 0xA0))]
    top, bottom = faces[state]
    if (lx - 24) ** 2 + (y - 20) ** 2 <= 49 and (lx - 24) ** 2 + (y - 20) ** 2 > 9:
        return WHITE
    if 30 <= lx <= 50 and 19 <= y <= 21 or lx in (44, 48) and 21 <= y <= 25:
        return WHITE
    return mix(top, bottom, y / 39.0)


def title_button(kind, width):
    """Title-bar buttons, one picture per state, 23 high; transparent when not hovered."""
    def px(x, y):
        state = x // width
        lx = x % width
        cx, cy = width // 2, 11
        ground = [(0, 0, 0, 0), (0xFF, 0xFF, 0xFF, 0x50), (0x00, 0x00, 0x00, 0x40), (0, 0, 0, 0)][state]
        if kind == "close" and state in (1, 2):
            ground = (0xE0, 0x40, 0x30, 0xE0) if state == 1 else (0xB0, 0x20, 0x18, 0xF0)
        ink = (0xFF, 0xFF, 0xFF, 0xFF) if state != 3 else (0xC0, 0xC0, 0xC0, 0xFF)
        dx, dy = lx - cx, y - cy
        hit = False
        if kind == "close":
            hit = abs(dx) <= 4 and abs(dy) <= 4 and (abs(dx - dy) <= 0 or abs(dx + dy) <= 0)
        elif kind == "min":
            hit = abs(dx) <= 5 and dy == 3
        elif kind == "max":
            hit = abs(dx) <= 5 and abs(dy) <= 4 and (abs(dx) == 5 or abs(dy) == 4 or dy == -3)
        elif kind == "restore":
            front = -5 <= dx <= 2 and -2 <= dy <= 4 and (dx in (-5, 2) or dy in (-2, -1, 4))
            back = -2 <= dx <= 5 and -5 <= dy <= 1 and (dx == 5 or dy in (-5, -4) or (dx == -2 and dy < -2)
                                                         or (dy == 1 and dx > 2))
            hit = front or back
        elif kind == "icon":
            hit = (dx ** 2 + dy ** 2 <= 30 and dx ** 2 + dy ** 2 >= 12) or (dx == 0 and -2 <= dy <= 2)
        return ink if hit else ground
    return px


def first_start_button(token):
    """The two first-start choices, 87 x 110 in four states: a token or a flash disk with a caption bar."""
    def px(x, y):
        state = x // 87
        lx = x % 87
        ground = [(0xFF, 0xFF, 0xFF, 0x00), (0xD8, 0xEA, 0xFB, 0xFF), (0xB8, 0xD6, 0xF4, 0xFF),
                  (0xEE, 0xEE, 0xEE, 0xFF)][state]
        body = (0x30, 0x70, 0xC0, 0xFF) if state != 3 else (0x9A, 0x9A, 0x9A, 0xFF)
        if token:
            hit = 28 <= lx <= 58 and 15 <= y <= 75 and not (36 <= lx <= 50 and 25 <= y <= 40)
        else:
            hit = (24 <= lx <= 62 and 30 <= y <= 75) or (34 <= lx <= 52 and 15 <= y < 30)
        if hit:
            return body
        if 8 <= lx <= 78 and 88 <= y <= 100:
            return body[:3] + (0xC0,)
        return ground
    return px


def tab_icons(x, y):
    """Four 48 x 48 page icons: a key, a gear, a clock, an information mark."""
    page = x // 48
    lx, ly = x % 48 - 24, y - 24
    r2 = lx * lx + ly * ly
    colour = [(0xF0, 0xB0, 0x20, 0xFF), (0x60, 0x70, 0x80, 0xFF), (0x30, 0x90, 0x50, 0xFF),
              (0x30, 0x70, 0xC0, 0xFF)][page]
    if page == 0:
        hit = (lx + 10) ** 2 + ly ** 2 <= 100 and (lx + 10) ** 2 + ly ** 2 >= 25 or (-2 <= ly <= 2 and 0 <= lx <= 16) \
            or (lx in (10, 14) and 2 < ly <= 7)
    elif page == 1:
        angle = math.atan2(ly, lx)
        radius = 14 + 3 * (1 if math.cos(8 * angle) > 0 else 0)
        hit = r2 <= radius * radius and r2 >= 36
    elif page == 2:
        hit = 256 >= r2 >= 196 or (lx == 0 and -11 <= ly <= 0) or (ly == 0 and 0 <= lx <= 8)
    else:
        hit = 256 >= r2 >= 196 or (abs(lx) <= 1 and (-9 <= ly <= -7 or -3 <= ly <= 9))
    return colour if hit else (0, 0, 0, 0)


def first_start_ground(x, y):
    """The first-start dialog's background 598 x 337: a pale field with a headline band."""
    if y < 60:
        return mix((0x2E, 0x7C, 0xC8), (0x1F, 0x5A, 0x9C), y / 59.0) + (0xFF,)
    if 240 <= y <= 242 and 60 <= x <= 538:
        return (0xC8, 0xD8, 0xEA, 0xFF)
    return mix((0xF8, 0xFB, 0xFE), (0xE4, 0xEE, 0xF8), (y - 60) / 277.0) + (0xFF,)


def about_picture(x, y):
    """The about page's banner 549 x 97: a blue band with a shield on the left."""
    dx, dy = x - 48, y - 40
    shield = abs(dx) <= 26 and -30 <= dy <= 10 or (dy > 10 and abs(dx) <= 26 - (dy - 10) * 26 // 30 and dy <= 40)
    if shield:
        return (0xF0, 0xB0, 0x20, 0xFF)
    return mix((0x3A, 0x86, 0xD0), (0xDC, 0xEA, 0xF8), x / 548.0) + (0xFF,)


def small_logo(x, y):
    """A 16 x 16 shield for the dialogs' title bars."""
    dx = x - 8
    hit = abs(dx) <= 6 and 1 <= y <= 8 or (y > 8 and abs(dx) <= 6 - (y - 8) and y <= 14)
    return (0xF0, 0xB0, 0x20, 0xFF) if hit else (0, 0, 0, 0)


def tip_picture(x, y):
    """A 24 x 24 hint mark for the device page: a yellow disc with a dark exclamation mark."""
    r2 = (x - 12) ** 2 + (y - 12) ** 2
    if r2 > 121:
        return (0, 0, 0, 0)
    if x in (11, 12) and (4 <= y <= 14 or 17 <= y <= 19):
        return (0x40, 0x30, 0x10, 0xFF)
    return (0xF8, 0xD0, 0x40, 0xFF)


def padlock(size):
    """The program's icon: a golden padlock on a blue rounded square, in RGBA."""
    s = size / 32.0

    def px(x, y):
        fx, fy = x / s, y / s
        inside = 1 <= fx <= 30 and 1 <= fy <= 30
        body = 7 <= fx <= 24 and 14 <= fy <= 27
        ring = 11 <= fx <= 20 and 5 <= fy <= 14 and not (14 <= fx <= 17 and fy >= 8)
        if body or ring:
            if 14 <= fx <= 17 and 18 <= fy <= 23:
                return (0x40, 0x30, 0x10, 0xFF)
            return (0xF0, 0xB0, 0x20, 0xFF)
        if inside:
            return mix(BLUE_TOP, BLUE_BOTTOM, fy / 31.0) + (0xFF,)
        return (0, 0, 0, 0)
    return px


def write_ico(path, sizes):
    """An icon file of 32-bit BGRA images with their AND masks, one per size."""
    images = []
    for size in sizes:
        px = padlock(size)
        header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
        xor = bytearray()
        for y in range(size - 1, -1, -1):
            for x in range(size):
                r, g, b, a = px(x, y)
                xor += bytes((b, g, r, a))
        row = ((size + 31) // 32) * 4
        mask = bytearray()
        for y in range(size - 1, -1, -1):
            bits = bytearray(row)
            for x in range(size):
                if px(x, y)[3] == 0:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bits
        images.append((size, header + bytes(xor) + bytes(mask)))
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, blob in images:
        data += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    for _, blob in images:
        data += blob
    with open(path, "wb") as f:
        f.write(data)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    grey = (0xC0, 0xC8, 0xD4)
    frame_bmp(out, "panel", 1, 1, grey, WHITE)
    frame_bmp(out, "panelgray", 1, 1, (0xA0, 0xA8, 0xB4), (0xF0, 0xF2, 0xF5))
    frame_bmp(out, "panelwhite", 1, 1, (0xDD, 0xDD, 0xDD), WHITE)
    frame_bmp(out, "panelffffff", 1, 1, WHITE, WHITE)
    frame_bmp(out, "panelclear", 1, 1, grey, KEY)
    frame_bmp(out, "tabpage", 1, 1, (0xB7, 0xCD, 0xE6), WHITE)
    frame_bmp(out, "mainbgbody", 3, 3, EDGE, LIGHT)
    frame_bmp(out, "msgboxhead", 3, 31, EDGE, LIGHT, head=(BLUE_TOP, BLUE_BOTTOM))
    frame_bmp(out, "dlgbody", 3, 3, EDGE, WHITE)
    frame_bmp(out, "dlgfoot", 3, 3, EDGE, (0xEE, 0xF3, 0xFA))
    frame_bmp(out, "msgboxbody", 3, 3, EDGE, WHITE)
    frame_bmp(out, "msgboxfoot", 3, 3, EDGE, (0xEE, 0xF3, 0xFA))
    write_bmp(os.path.join(out, "skin_DefaultUserPic.bmp"), 121, 125, 24, user_picture)

    bar_bmp(out, "mainbghead", 7, 23, 1, [(BLUE_TOP, BLUE_BOTTOM)])
    bar_bmp(out, "mainbgfoot", 7, 23, 1, [(BLUE_BOTTOM, EDGE)])
    bar_bmp(out, "tab", 7, 24, 4, [((0xEE, 0xF3, 0xFA), (0xD6, 0xE4, 0xF4)), ((0xF8, 0xFB, 0xFE), (0xE2, 0xEE, 0xFA)),
                                   (WHITE, WHITE), ((0xE0, 0xE0, 0xE0), (0xD0, 0xD0, 0xD0))])
    bar_bmp(out, "progressbg", 7, 12, 1, [((0xF0, 0xF0, 0xF0), (0xD8, 0xD8, 0xD8))])
    bar_bmp(out, "progresspos", 7, 12, 1, [((0x7C, 0xD6, 0x6A), (0x2E, 0x9A, 0x28))])
    bar_bmp(out, "progressposred", 7, 12, 1, [((0xF0, 0x7A, 0x6A), (0xC0, 0x28, 0x20))])
    bar_bmp(out, "tablepge1_bg2", 7, 130, 1, [((0xF2, 0xF8, 0xFE), (0xDA, 0xE8, 0xF6))])
    bar_bmp(out, "listheadbg", 7, 24, 1, [((0xF4, 0xF8, 0xFD), (0xE6, 0xEE, 0xF8))])
    bar_bmp(out, "statusbar", 7, 20, 1, [((0xEE, 0xF3, 0xFA), (0xDC, 0xE6, 0xF2))])

    write_bmp(os.path.join(out, "skin_tabmain.bmp"), 71 * 3, 71, 24, tab_strip)
    write_bmp(os.path.join(out, "skin_iconflash.bmp"), 32, 16, 24, flash_strip)
    write_bmp(os.path.join(out, "skin_tablepge1_makebtn.bmp"), 120 * 4, 40, 24, make_button)

    for name, kind, width in (("closebtn", "close", 43), ("maxbtn", "max", 30), ("minbtn", "min", 32),
                              ("restorebtn", "restore", 30), ("righttopicon", "icon", 32),
                              ("closeonlybtn", "close", 43)):
        write_png(os.path.join(out, "skin_%s.png" % name), width * 4, 23, title_button(kind, width))
    write_png(os.path.join(out, "skin_firststart_ud_btn.png"), 87 * 4, 110, first_start_button(True))
    write_png(os.path.join(out, "skin_firststart_up_btn.png"), 87 * 4, 110, first_start_button(False))
    write_png(os.path.join(out, "skin_logomodule.png"), 48 * 4, 48, tab_icons)
    write_png(os.path.join(out, "skin_firststartbg.png"), 598, 337, first_start_ground)
    write_png(os.path.join(out, "skin_aboutme.png"), 549, 97, about_picture)
    write_png(os.path.join(out, "skin_logo.png"), 16, 16, small_logo)
    write_png(os.path.join(out, "skin_tablepge1_tip.png"), 24, 24, tip_picture)

    write_ico(os.path.join(out, "app.ico"), (32, 16))
    write_ico(os.path.join(out, "tray.ico"), (16,))


if __name__ == "__main__":
    main()
