"""Writes PNG files (8-bit RGBA, no interlace) for the skin art scripts; our own simple encoder."""
import struct
import zlib


def _chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def write_png(path, width, height, pixel, dpi=None):
    """pixel(x, y) gives (r, g, b, a); y = 0 is the top row. dpi, when given, goes into a pHYs chunk."""
    raw = bytearray()
    for y in range(height):
        raw.append(0)  # filter type None
        for x in range(width):
            raw += bytes(pixel(x, y))
    png = b"\x89PNG\r\n\x1a\n"
    png += _chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    if dpi:
        per_metre = int(round(dpi / 0.0254))
        png += _chunk(b"pHYs", struct.pack(">IIB", per_metre, per_metre, 1))
    png += _chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += _chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)
