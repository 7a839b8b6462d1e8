"""Writes Windows BMP files for the art scripts of the modules (our own simple drawings)."""
import struct


def write_bmp(path, width, height, bits, pixel, palette=None):
    """pixel(x, y) gives (r, g, b) for 24 bits or a palette index for 8 bits; y = 0 is the top row."""
    row_bytes = ((width * bits + 31) // 32) * 4
    pal = b""
    if bits == 8:
        pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
        pal += b"\0" * (4 * 256 - len(pal))
    data = bytearray()
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            v = pixel(x, y)
            row += bytes((v[2], v[1], v[0])) if bits == 24 else bytes((v,))
        row += b"\0" * (row_bytes - len(row))
        data += row
    offset = 14 + 40 + len(pal)
    header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(data), 2835, 2835,
                       256 if bits == 8 else 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + pal + bytes(data))


def mix(a, b, t):
    """The colour a fraction t of the way from a to b."""
    t = max(0.0, min(1.0, t))
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))
