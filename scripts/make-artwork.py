#!/usr/bin/env python3
"""Draws the assistant's side pictures and icon (our own artwork: a controller, a cable, a chip)
as 24-bit BMP files and a 32-bit ICO. The outputs are committed in res/; run again after a change:
    python3 scripts/make-artwork.py
"""
import math
import struct
from pathlib import Path

RES = Path(__file__).resolve().parent.parent / "res"


class Canvas:
    def __init__(self, w, h, top, bottom):
        self.w, self.h = w, h
        # A vertical gradient background.
        self.px = []
        for y in range(h):
            t = y / max(1, h - 1)
            row = tuple(int(top[i] + (bottom[i] - top[i]) * t) for i in range(3))
            self.px.append([row] * w)

    def put(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, c):
        for y in range(max(0, y0), min(self.h, y1)):
            for x in range(max(0, x0), min(self.w, x1)):
                self.px[y][x] = c

    def frame(self, x0, y0, x1, y1, c, t=1):
        self.rect(x0, y0, x1, y0 + t, c)
        self.rect(x0, y1 - t, x1, y1, c)
        self.rect(x0, y0, x0 + t, y1, c)
        self.rect(x1 - t, y0, x1, y1, c)

    def disc(self, cx, cy, r, c):
        for y in range(cy - r, cy + r + 1):
            for x in range(cx - r, cx + r + 1):
                if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                    self.put(x, y, c)

    def line(self, x0, y0, x1, y1, c, t=2):
        n = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(n + 1):
            x = round(x0 + (x1 - x0) * i / n)
            y = round(y0 + (y1 - y0) * i / n)
            self.rect(x - t // 2, y - t // 2, x - t // 2 + t, y - t // 2 + t, c)

    def bmp(self, path):
        stride = (self.w * 3 + 3) & ~3
        data = bytearray()
        for y in reversed(range(self.h)):
            row = bytearray()
            for (r, g, b) in self.px[y]:
                row += bytes((b, g, r))
            row += b"\0" * (stride - len(row))
            data += row
        header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
        info = struct.pack("<IiiHHIIiiII", 40, self.w, self.h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
        path.write_bytes(header + info + data)


def controller(c, x, y, w, h):
    """A DIN-rail controller: grey housing, terminal rows, status LEDs, a label."""
    c.rect(x + 4, y + 4, x + w + 4, y + h + 4, (40, 52, 70))        # shadow
    c.rect(x, y, x + w, y + h, (206, 212, 218))
    c.frame(x, y, x + w, y + h, (90, 98, 110), 2)
    for row_y in (y + 8, y + h - 20):
        c.rect(x + 8, row_y, x + w - 8, row_y + 12, (60, 120, 70))
        for i in range(x + 12, x + w - 10, 9):
            c.rect(i, row_y + 3, i + 5, row_y + 9, (200, 200, 190))
    c.rect(x + 12, y + 34, x + w - 12, y + 58, (30, 40, 60))       # display
    c.rect(x + 16, y + 40, x + w - 40, y + 44, (120, 220, 140))
    for i, col in enumerate(((60, 220, 60), (240, 200, 40), (220, 60, 60))):
        c.disc(x + 20 + i * 14, y + 72, 4, col)
    c.rect(x + 12, y + 86, x + w - 12, y + 98, (250, 250, 245))


def cable(c, x0, y0, x1, y1):
    c.line(x0, y0, (x0 + x1) // 2, y0 + 30, (30, 30, 30), 4)
    c.line((x0 + x1) // 2, y0 + 30, x1, y1, (30, 30, 30), 4)
    c.rect(x1 - 10, y1 - 6, x1 + 10, y1 + 10, (70, 80, 120))      # DB-9 plug
    c.rect(x1 - 7, y1 - 3, x1 + 7, y1 + 7, (180, 180, 190))


def chip(c, cx, cy, s):
    c.rect(cx - s, cy - s, cx + s, cy + s, (35, 35, 40))
    for i in range(-s + 4, s - 2, 6):
        for (dx, dy, w, h) in ((i, -s - 5, 3, 5), (i, s, 3, 5), (-s - 5, i, 5, 3), (s, i, 5, 3)):
            c.rect(cx + dx, cy + dy, cx + dx + w, cy + dy + h, (200, 190, 140))
    c.disc(cx - s + 6, cy - s + 6, 2, (120, 120, 120))


def side_picture(w, h, variant):
    c = Canvas(w, h, (22, 70, 140), (120, 170, 220))
    controller(c, 24, 40, w - 52, 110)
    if variant == "flash":
        cable(c, w // 2, 150, w // 2 + 10, 230)
        chip(c, w // 2 - 30, 270, 16)
    elif variant == "done":
        c.disc(w // 2, 235, 34, (250, 250, 250))
        c.line(w // 2 - 18, 236, w // 2 - 4, 252, (40, 160, 60), 7)
        c.line(w // 2 - 4, 252, w // 2 + 20, 216, (40, 160, 60), 7)
    else:  # jumper
        c.rect(w // 2 - 30, 200, w // 2 + 30, 260, (30, 110, 60))
        for i in range(3):
            c.rect(w // 2 - 18 + i * 14, 215, w // 2 - 12 + i * 14, 245, (220, 200, 120))
        c.rect(w // 2 - 20, 212, w // 2 + 2, 230, (30, 30, 160))   # the jumper itself
    return c


def icon(size):
    c = Canvas(size, size, (30, 90, 170), (30, 90, 170))
    chip(c, size // 2, size // 2, size // 3)
    return c


def ico(path, canvases):
    entries, images = b"", b""
    offset = 6 + 16 * len(canvases)
    for c in canvases:
        rows = bytearray()
        for y in reversed(range(c.h)):
            for (r, g, b) in c.px[y]:
                rows += bytes((b, g, r, 255))
        mask = b"\0" * (((c.w + 31) // 32) * 4 * c.h)
        header = struct.pack("<IiiHHIIiiII", 40, c.w, c.h * 2, 1, 32, 0, len(rows) + len(mask), 0, 0, 0, 0)
        image = header + rows + mask
        entries += struct.pack("<BBBBHHII", c.w, c.h, 0, 0, 1, 32, len(image), offset)
        images += image
        offset += len(image)
    path.write_bytes(struct.pack("<HHH", 0, 1, len(canvases)) + entries + images)


if __name__ == "__main__":
    side_picture(161, 313, "flash").bmp(RES / "side179.bmp")
    side_picture(157, 313, "done").bmp(RES / "done181.bmp")
    side_picture(157, 313, "jumper").bmp(RES / "jumper182.bmp")
    ico(RES / "plcflash.ico", [icon(32), icon(16)])
