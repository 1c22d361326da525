#!/usr/bin/env python3
"""Draws the toolbar glyphs, icons and the progress picture of the desktop
application as PNG files. Plain Python: shapes are filled by testing each
sample point, four samples a side per pixel, so edges come out smooth.

Run it from anywhere; it rewrites glyphs/, icons/ and pictures/ beside it."""

import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


class Canvas:
    def __init__(self, width, height, ss=4):
        self.w, self.h, self.ss = width, height, ss
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(width * height)]

    def fill(self, inside, box, color, alpha=1.0):
        """Paints color where inside(x, y) holds; box bounds the shape (pixels)."""
        x0, y0, x1, y1 = box
        x0, y0 = max(0, int(math.floor(x0))), max(0, int(math.floor(y0)))
        x1, y1 = min(self.w, int(math.ceil(x1))), min(self.h, int(math.ceil(y1)))
        n = self.ss
        r, g, b = [c / 255.0 for c in color]
        for py in range(y0, y1):
            for px in range(x0, x1):
                hits = 0
                for sy in range(n):
                    y = py + (sy + 0.5) / n
                    for sx in range(n):
                        if inside(px + (sx + 0.5) / n, y):
                            hits += 1
                if hits:
                    a = alpha * hits / (n * n)
                    p = self.px[py * self.w + px]
                    # "over" with premultiplied colour
                    p[0] = r * a + p[0] * (1 - a)
                    p[1] = g * a + p[1] * (1 - a)
                    p[2] = b * a + p[2] * (1 - a)
                    p[3] = a + p[3] * (1 - a)

    def rect(self, x0, y0, x1, y1, color, radius=0.0, alpha=1.0):
        def inside(x, y):
            if x < x0 or x > x1 or y < y0 or y > y1:
                return False
            if radius <= 0:
                return True
            cx = min(max(x, x0 + radius), x1 - radius)
            cy = min(max(y, y0 + radius), y1 - radius)
            return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius
        self.fill(inside, (x0, y0, x1, y1), color, alpha)

    def ellipse(self, cx, cy, rx, ry, color, alpha=1.0):
        self.fill(lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0,
                  (cx - rx, cy - ry, cx + rx, cy + ry), color, alpha)

    def arc(self, cx, cy, r0, r1, a0, a1, color, alpha=1.0):
        """Ring between radii r0 and r1, angles a0..a1 in degrees (0 = right, counter-clockwise)."""
        def inside(x, y):
            d = math.hypot(x - cx, y - cy)
            if d < r0 or d > r1:
                return False
            a = math.degrees(math.atan2(cy - y, x - cx))
            return a0 <= a <= a1
        self.fill(inside, (cx - r1, cy - r1, cx + r1, cy + r1), color, alpha)

    def polygon(self, points, color, alpha=1.0):
        xs = [p[0] for p in points]
        ys = [p[1] for p in points]

        def inside(x, y):
            c = False
            j = len(points) - 1
            for i in range(len(points)):
                xi, yi = points[i]
                xj, yj = points[j]
                if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                    c = not c
                j = i
            return c
        self.fill(inside, (min(xs), min(ys), max(xs), max(ys)), color, alpha)

    def line(self, x0, y0, x1, y1, width, color, alpha=1.0):
        dx, dy = x1 - x0, y1 - y0
        length = math.hypot(dx, dy) or 1.0
        nx, ny = -dy / length * width / 2, dx / length * width / 2
        self.polygon([(x0 + nx, y0 + ny), (x1 + nx, y1 + ny), (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)], color, alpha)

    def vgradient(self, top, bottom):
        for y in range(self.h):
            t = y / max(1, self.h - 1)
            c = [(top[i] + (bottom[i] - top[i]) * t) / 255.0 for i in range(3)]
            for x in range(self.w):
                self.px[y * self.w + x] = [c[0], c[1], c[2], 1.0]

    def save(self, path):
        rows = bytearray()
        for y in range(self.h):
            rows.append(0)
            for x in range(self.w):
                r, g, b, a = self.px[y * self.w + x]
                if a > 0:
                    r, g, b = r / a, g / a, b / a
                rows += bytes(int(round(min(1.0, max(0.0, v)) * 255)) for v in (r, g, b, a))

        def chunk(kind, data):
            return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
        png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", self.w, self.h, 8, 6, 0, 0, 0))
        png += chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b"")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(png)


INK = (40, 44, 52)
STEEL = (96, 104, 118)
LIGHT = (226, 230, 236)
AMBER = (232, 176, 48)
AMBER_DARK = (176, 122, 20)
RED = (200, 48, 40)
GREEN = (40, 150, 70)
BLUE = (44, 96, 176)
LCD = (150, 210, 120)
WHITE = (255, 255, 255)

# The desktop wants each icon in these sizes; 16 and 48 are also compiled in.
ICON_SIZES = (16, 32, 48, 64, 128, 256)


def arrow_down(c, x, y0, y1, color):
    c.rect(x - 1.2, y0, x + 1.2, y1 - 3, color)
    c.polygon([(x - 4, y1 - 4), (x + 4, y1 - 4), (x, y1)], color)


def arrow_up(c, x, y0, y1, color):
    c.rect(x - 1.2, y0 + 3, x + 1.2, y1, color)
    c.polygon([(x - 4, y0 + 4), (x + 4, y0 + 4), (x, y0)], color)


def thermometer(c, x):
    c.rect(x - 2.2, 2, x + 2.2, 15, INK, radius=2.2)
    c.rect(x - 1.2, 3, x + 1.2, 15, WHITE, radius=1.2)
    c.ellipse(x, 15.5, 3.6, 3.6, INK)
    c.ellipse(x, 15.5, 2.6, 2.6, RED)
    c.rect(x - 0.8, 8, x + 0.8, 15, RED)


def glyph_program(c):  # 1: codeplug into the radio
    for i in range(4):
        c.rect(3.5 + i * 4, 8, 5 + i * 4, 19.5, STEEL)
    c.rect(2, 10, 18, 17, INK, radius=1)
    c.ellipse(4.5, 12.5, 1, 1, STEEL)
    arrow_down(c, 10, 0.5, 10, RED)


def glyph_load(c):  # 2: open an archive
    c.polygon([(1, 4), (7, 4), (9, 6), (17, 6), (17, 17), (1, 17)], AMBER_DARK)
    c.polygon([(4, 9), (20, 9), (17, 17), (1, 17)], AMBER)
    c.line(4, 9, 20, 9, 0.8, AMBER_DARK)


def glyph_tempcomp_write(c):  # 3
    thermometer(c, 7)
    arrow_down(c, 15.5, 2, 16, BLUE)


def glyph_comport(c):  # 4: the serial connector
    c.polygon([(1, 5), (19, 5), (16.5, 15), (3.5, 15)], INK)
    c.polygon([(2.6, 6.3), (17.4, 6.3), (15.4, 13.7), (4.6, 13.7)], STEEL)
    for i in range(5):
        c.ellipse(5 + i * 2.5, 8.5, 0.9, 0.9, LIGHT)
    for i in range(4):
        c.ellipse(6.25 + i * 2.5, 11.5, 0.9, 0.9, LIGHT)
    c.rect(8, 15, 12, 19, INK)


def glyph_tempcomp_read(c):  # 5
    thermometer(c, 7)
    arrow_up(c, 15.5, 2, 16, GREEN)


def glyph_serial(c):  # 6: the serial number label
    c.rect(1, 4, 19, 16, INK, radius=1.5)
    c.rect(2.2, 5.2, 17.8, 14.8, WHITE, radius=1)
    for x, w in ((3.5, 1), (5.3, 0.6), (6.6, 1.4), (8.8, 0.6), (10, 1), (11.8, 1.6), (14, 0.6), (15.3, 1.2)):
        c.rect(x, 6.5, x + w, 12, INK)
    c.rect(3.5, 12.8, 16.5, 13.6, STEEL)


def radio(c, x, y, s, display=True):
    """A handheld radio, s pixels wide, top-left at (x, y)."""
    c.rect(x + s * 0.62, y, x + s * 0.74, y + s * 0.55, INK, radius=s * 0.05)  # antenna
    c.rect(x + s * 0.55, y + s * 0.38, x + s * 0.82, y + s * 0.5, INK, radius=s * 0.03)  # knob
    c.rect(x, y + s * 0.45, x + s, y + s * 2.0, INK, radius=s * 0.14)
    c.rect(x + s * 0.08, y + s * 0.53, x + s * 0.92, y + s * 1.92, STEEL, radius=s * 0.1)
    if display:
        c.rect(x + s * 0.18, y + s * 0.66, x + s * 0.82, y + s * 0.95, LCD, radius=s * 0.04)
    for i in range(4):
        yy = y + s * (1.12 + i * 0.18)
        c.rect(x + s * 0.2, yy, x + s * 0.8, yy + s * 0.08, INK, radius=s * 0.04)


def icon_application(size):
    c = Canvas(size, size)
    s = size * 0.46
    radio(c, (size - s) / 2, size * 0.04, s, display=size >= 32)
    return c


def icon_document(size):
    c = Canvas(size, size)
    k = size / 48.0
    fold = 12 * k
    page = [(8 * k, 2 * k), (40 * k - fold, 2 * k), (40 * k, 2 * k + fold), (40 * k, 46 * k), (8 * k, 46 * k)]
    c.polygon(page, INK)
    inner = [(9.5 * k, 3.5 * k), (39.5 * k - fold, 3.5 * k), (38.5 * k, 2 * k + fold + 1 * k),
             (38.5 * k, 44.5 * k), (9.5 * k, 44.5 * k)]
    c.polygon(inner, WHITE)
    c.polygon([(40 * k - fold, 2 * k), (40 * k - fold, 2 * k + fold), (40 * k, 2 * k + fold)], LIGHT)
    if size >= 32:
        for i in range(3):
            c.rect(13 * k, (30 + i * 4.5) * k, 35 * k, (31.6 + i * 4.5) * k, STEEL)
    c.arc(18 * k, 22 * k, 3 * k, 5.5 * k, -60, 60, BLUE)
    c.arc(18 * k, 22 * k, 8 * k, 10.5 * k, -60, 60, BLUE)
    c.ellipse(16 * k, 22 * k, 2.6 * k, 2.6 * k, RED)
    return c


def progress_picture():
    w, h = 520, 280
    c = Canvas(w, h, ss=2)
    c.vgradient((28, 58, 110), (120, 160, 210))
    # horizon of waves across the picture
    for i in range(1, 6):
        c.arc(150, 150, 40 + i * 36, 52 + i * 36, -55, 55, WHITE, alpha=0.55 - i * 0.07)
    radio(c, 78, 38, 64)
    c.rect(300, 70, 470, 210, INK, radius=10, alpha=0.35)
    # a codeplug: rows of memory cells filling up
    for row in range(6):
        for col in range(8):
            filled = row * 8 + col < 30
            c.rect(316 + col * 19, 84 + row * 20, 330 + col * 19, 96 + row * 20,
                   LCD if filled else LIGHT, radius=2, alpha=1.0 if filled else 0.5)
    return c


def main():
    glyphs = {1: glyph_program, 2: glyph_load, 3: glyph_tempcomp_write, 4: glyph_comport,
              5: glyph_tempcomp_read, 6: glyph_serial}
    for number, draw in glyphs.items():
        c = Canvas(20, 20)
        draw(c)
        c.save(os.path.join(HERE, "glyphs", "glyph%d.png" % number))
    for size in ICON_SIZES:
        icon_application(size).save(os.path.join(HERE, "icons", "application-%d.png" % size))
        icon_document(size).save(os.path.join(HERE, "icons", "document-%d.png" % size))
    progress_picture().save(os.path.join(HERE, "pictures", "progress.png"))


if __name__ == "__main__":
    main()
