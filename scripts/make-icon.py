#!/usr/bin/env python3
"""Draws the Korvane icon and writes it as a Windows .ico file.

The icon is a rounded amber folder holding two linked blue rings. Every
image is rendered from the same shapes, described as signed distance
functions and antialiased by each pixel's distance to the edge. The pixels
depend only on IEEE double arithmetic (+, -, *, /, sqrt), and the PNG image
on zlib's deflate at level 9: running the script again gives a
byte-identical file.

The file holds icon group 101 of the library's resources, eight images:
48, 32 and 16 pixels at 8 bits per pixel (palettized, with an AND mask) and
256, 128, 48, 32 and 16 pixels at 32 bits per pixel (BGRA); the 256-pixel
image is stored as PNG, as Windows allows.

Usage: make-icon.py [OUTPUT]   (default: src/shell/resources/korvane.ico)
"""

import math
import os
import struct
import sys
import zlib

# (size, bits per pixel, stored as PNG), in the order of the icon directory.
IMAGES = [
    (48, 8, False),
    (32, 8, False),
    (16, 8, False),
    (256, 32, True),
    (128, 32, False),
    (48, 32, False),
    (32, 32, False),
    (16, 32, False),
]

FOLDER_FRONT = (0xF4, 0xB7, 0x40)
FOLDER_BACK = (0xD2, 0x8C, 0x24)
RINGS = (0x1E, 0x5A, 0xA8)
KEY_COLOURS = [FOLDER_FRONT, FOLDER_BACK, RINGS]


# --- Shapes: signed distances in the unit square (negative inside) ---------

def rounded_box(px, py, left, top, right, bottom, radius):
    cx, cy = (left + right) / 2, (top + bottom) / 2
    qx = abs(px - cx) - ((right - left) / 2 - radius)
    qy = abs(py - cy) - ((bottom - top) / 2 - radius)
    ox, oy = max(qx, 0.0), max(qy, 0.0)
    outside = math.sqrt(ox * ox + oy * oy)
    return outside + min(max(qx, qy), 0.0) - radius


def ring(px, py, cx, cy, radius, thickness):
    dx, dy = px - cx, py - cy
    return abs(math.sqrt(dx * dx + dy * dy) - radius) - thickness / 2


class Drawing:
    """The layers of the icon at one size, back to front."""

    def __init__(self, size):
        self.size = size
        if size > 16:
            self.thickness = max(0.06, 1.4 / size)  # at least 1.4 pixels
            self.gap = max(0.025, 0.9 / size)
            self.radius = 0.17
            self.left_centre = (0.41, 0.585)
            self.right_centre = (0.41 + 1.1 * self.radius, 0.585)
        else:
            # At 16 pixels the rings are drawn on the pixel grid, with no room
            # for the gaps that show them interlocking.
            self.thickness = 1.3 / size
            self.gap = 0.0
            self.radius = 2.9 / size
            self.left_centre = (5.5 / size, 9.5 / size)
            self.right_centre = (10.5 / size, 9.5 / size)

    def snap(self, *values):
        """Moves straight edges onto pixel boundaries, so that they stay crisp."""
        return tuple(math.floor(v * self.size + 0.5) / self.size for v in values)

    def layers(self, px, py):
        """Yields (signed distance, colour) for each layer at a point."""
        yield rounded_box(px, py, *self.snap(0.06, 0.13, 0.44, 0.34), 0.05), FOLDER_BACK
        yield rounded_box(px, py, *self.snap(0.06, 0.2, 0.94, 0.86), 0.07), FOLDER_BACK
        front = rounded_box(px, py, *self.snap(0.06, 0.3, 0.94, 0.86), 0.07)
        yield front, FOLDER_FRONT
        # The right ring, then the left one over it with a gap of folder
        # colour around it; below the centre line the right ring is drawn
        # again on top, so that the two rings interlock. The gaps stay
        # inside the folder.
        halo = self.thickness + 2 * self.gap
        left = self.left_centre + (self.radius,)
        right = self.right_centre + (self.radius,)
        yield ring(px, py, *right, self.thickness), RINGS
        yield max(ring(px, py, *left, halo), front), FOLDER_FRONT
        yield ring(px, py, *left, self.thickness), RINGS
        if py > self.left_centre[1]:
            yield max(ring(px, py, *right, halo), front), FOLDER_FRONT
            yield ring(px, py, *right, self.thickness), RINGS

    def pixel(self, x, y):
        """The straight-alpha (r, g, b, a) of one pixel, each 0..255."""
        px, py = (x + 0.5) / self.size, (y + 0.5) / self.size
        colour = [0.0, 0.0, 0.0]  # premultiplied
        alpha = 0.0
        for distance, rgb in self.layers(px, py):
            coverage = min(max(0.5 - distance * self.size, 0.0), 1.0)
            if coverage == 0.0:
                continue
            for i in range(3):
                colour[i] = rgb[i] * coverage + colour[i] * (1 - coverage)
            alpha = coverage + alpha * (1 - coverage)
        a = int(alpha * 255 + 0.5)
        if a == 0:
            return (0, 0, 0, 0)
        return tuple(min(255, int(c / alpha + 0.5)) for c in colour) + (a,)

    def render(self):
        """Rows top to bottom of (r, g, b, a) pixels."""
        return [[self.pixel(x, y) for x in range(self.size)] for y in range(self.size)]


# --- Encodings -------------------------------------------------------------

def palette():
    """The key colours and the blends between each pair of them."""
    colours = list(KEY_COLOURS)
    for i, first in enumerate(KEY_COLOURS):
        for second in KEY_COLOURS[i + 1:]:
            for step in range(1, 8):
                colours.append(tuple((first[c] * (8 - step) + second[c] * step + 4) // 8 for c in range(3)))
    return colours + [(0, 0, 0)] * (256 - len(colours))


def nearest(colours, rgb):
    def distance(index):
        return sum((colours[index][c] - rgb[c]) ** 2 for c in range(3))
    return min(range(len(colours)), key=distance)


def and_mask(rows):
    """The 1-bit AND mask, bottom row first, rows padded to 32 bits: set where transparent."""
    out = bytearray()
    stride = (len(rows[0]) + 31) // 32 * 4
    for row in reversed(rows):
        line = bytearray(stride)
        for x, pixel in enumerate(row):
            if pixel[3] == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        out += line
    return bytes(out)


def bitmap_header(size, bits, image_bytes, colours_used):
    # BITMAPINFOHEADER; an icon's height counts the colour image and the mask.
    return struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bits, 0, image_bytes, 0, 0, colours_used, 0)


def dib_32(rows):
    size = len(rows)
    colour = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask = and_mask(rows)
    return bitmap_header(size, 32, len(colour) + len(mask), 0) + colour + mask


def dib_8(rows):
    # No alpha at 8 bits: a pixel is opaque when it is at least half covered.
    size = len(rows)
    colours = palette()
    hard = [[(r, g, b, 255 if a >= 128 else 0) for (r, g, b, a) in row] for row in rows]
    stride = (size + 3) // 4 * 4
    indices = bytearray()
    chosen = {}
    for row in reversed(hard):
        line = bytearray(stride)
        for x, (r, g, b, a) in enumerate(row):
            if a:
                if (r, g, b) not in chosen:
                    chosen[(r, g, b)] = nearest(colours, (r, g, b))
                line[x] = chosen[(r, g, b)]
        indices += line
    mask = and_mask(hard)
    table = b"".join(bytes((b, g, r, 0)) for (r, g, b) in colours)
    return bitmap_header(size, 8, len(indices) + len(mask), 256) + table + bytes(indices) + mask


def png_filtered(raw, previous, bpp):
    """The five PNG row filters; the one with the smallest sum of magnitudes wins."""
    def paeth(a, b, c):
        p = a + b - c
        pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
        return a if pa <= pb and pa <= pc else b if pb <= pc else c

    candidates = []
    for kind in range(5):
        out = bytearray([kind])
        for i, value in enumerate(raw):
            a = raw[i - bpp] if i >= bpp else 0
            b = previous[i]
            c = previous[i - bpp] if i >= bpp else 0
            predictor = (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]
            out.append((value - predictor) & 0xFF)
        cost = sum(v if v < 128 else 256 - v for v in out[1:])
        candidates.append((cost, kind, bytes(out)))
    return min(candidates)[2]


def png(rows):
    size = len(rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    previous = bytes(size * 4)
    filtered = bytearray()
    for row in rows:
        raw = b"".join(bytes(pixel) for pixel in row)
        filtered += png_filtered(raw, previous, 4)
        previous = raw
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(filtered), 9))
            + chunk(b"IEND", b""))


def icon_file():
    renders = {}
    images = []
    for size, bits, as_png in IMAGES:
        rows = renders.setdefault(size, Drawing(size).render())
        images.append(png(rows) if as_png else dib_32(rows) if bits == 32 else dib_8(rows))
    # ICONDIR, then one ICONDIRENTRY per image, then the images.
    out = struct.pack("<HHH", 0, 1, len(IMAGES))
    offset = 6 + 16 * len(IMAGES)
    for (size, bits, _), data in zip(IMAGES, images):
        side = size % 256  # 0 stands for 256
        out += struct.pack("<BBBBHHII", side, side, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "src", "shell", "resources", "korvane.ico")
    with open(output, "wb") as f:
        f.write(icon_file())


if __name__ == "__main__":
    main()
