#!/usr/bin/env python3
"""Draws the launcher's bitmaps and icon, so their pixels are reviewable code.

Writes into the folder given as the only argument:
  panel.bmp          530 x 225, 32 bpp: the dark charcoal panel; its corners outside
                     the window's round region (15, 15, 516, 210, 24 x 24 ellipse) white
  button_normal.bmp  68 x 35, 32 bpp: near-black button face
  button_hover.bmp   68 x 35, 32 bpp: blue-tinted button face
  tavu.ico           16 x 16 at 24 bpp; 48, 32, 24, 16 at 32 bpp
All bitmaps are bottom-up, as GDI stores them.
"""
import struct
import sys
from pathlib import Path

WHITE = (255, 255, 255)


def in_round_rect(x, y, left, top, right, bottom, ew, eh):
    """The pixel test of CreateRoundRectRgn(left, top, right, bottom, ew, eh)."""
    if not (left <= x < right and top <= y < bottom):
        return False
    rx, ry = ew / 2.0, eh / 2.0
    cx = min(max(x + 0.5, left + rx), right - rx)
    cy = min(max(y + 0.5, top + ry), bottom - ry)
    dx, dy = (x + 0.5 - cx) / rx, (y + 0.5 - cy) / ry
    return dx * dx + dy * dy <= 1.0


def panel_pixel(x, y):
    if not in_round_rect(x, y, 15, 15, 516, 210, 24, 24):
        return WHITE
    # A faint top-to-bottom shade around RGB(50, 51, 51), and a thin accent rule
    # under the title.
    shade = int(round(6 - 12 * (y - 15) / 195.0))
    base = (50 + shade, 51 + shade, 51 + shade)
    if 52 <= y <= 52 and 60 <= x <= 470:
        return (70, 120, 190)
    return base


def button_pixel(x, y, w, h, face, edge):
    if x == 0 or y == 0 or x == w - 1 or y == h - 1:
        return edge
    lift = int(round(8 * (1 - y / float(h))))
    return tuple(min(255, c + lift) for c in face)


def bmp_bytes(width, height, pixel, bpp=32):
    """A BITMAPFILEHEADER + BITMAPINFOHEADER file, bottom-up rows."""
    rows = []
    stride = ((width * bpp // 8) + 3) & ~3
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r)) + (b"\xff" if bpp == 32 else b"")
        row += b"\0" * (stride - len(row))
        rows.append(bytes(row))
    data = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bpp, 0, len(data), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0, 14 + len(info))
    return header + info + data


def icon_pixel(x, y, size):
    """A blue rounded square with a white 'T'; outside it transparent."""
    r = max(2, size // 5)
    if not in_round_rect(x, y, 0, 0, size, size, 2 * r, 2 * r):
        return None
    bar = max(1, size // 6)
    top = size // 5
    if top <= y < top + bar and size // 5 <= x < size - size // 5:
        return WHITE
    if top <= y < size - size // 6 and size // 2 - bar // 2 - (bar % 2 == 0) <= x < size // 2 + (bar + 1) // 2:
        return WHITE
    return (40, 90, 170)


def icon_image(size, bpp):
    """An icon image as stored in an .ico: BITMAPINFOHEADER (double height), the
    colour rows bottom-up, then the 1-bpp AND mask."""
    stride = ((size * bpp // 8) + 3) & ~3
    mask_stride = ((size + 31) // 32) * 4
    colour = bytearray()
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        row = bytearray()
        bits = bytearray(mask_stride)
        for x in range(size):
            p = icon_pixel(x, y, size)
            if p is None:
                row += b"\0\0\0" + (b"\0" if bpp == 32 else b"")
                bits[x // 8] |= 0x80 >> (x % 8)
            else:
                r, g, b = p
                row += bytes((b, g, r)) + (b"\xff" if bpp == 32 else b"")
        row += b"\0" * (stride - len(row))
        colour += row
        mask += bits
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, len(colour) + len(mask), 0, 0, 0, 0)
    return info + bytes(colour) + bytes(mask)


def ico_bytes(images):
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    blobs = b""
    for size, bpp in images:
        blob = icon_image(size, bpp)
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, bpp, len(blob), offset)
        offset += len(blob)
        blobs += blob
    return header + entries + blobs


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    (out / "panel.bmp").write_bytes(bmp_bytes(530, 225, panel_pixel))
    (out / "button_normal.bmp").write_bytes(
        bmp_bytes(68, 35, lambda x, y: button_pixel(x, y, 68, 35, (24, 24, 26), (70, 70, 74))))
    (out / "button_hover.bmp").write_bytes(
        bmp_bytes(68, 35, lambda x, y: button_pixel(x, y, 68, 35, (36, 78, 150), (90, 140, 210))))
    (out / "tavu.ico").write_bytes(ico_bytes([(16, 24), (48, 32), (32, 32), (24, 32), (16, 32)]))


if __name__ == "__main__":
    main()
