#!/usr/bin/env python3
"""Draws the program's three images from nothing but the standard library.

    python3 make_images.py      # rewrites MainWnd.ico, open.png, merge.png and hicolor/ here

The output is byte-for-byte reproducible: same script, same files.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

TRANSPARENT = None
BLUE = (0x1f, 0x5f, 0xbf)
LIGHT_BLUE = (0x7f, 0xb2, 0xff)
YELLOW = (0xf0, 0xc0, 0x40)
DARK_YELLOW = (0xb0, 0x80, 0x10)
GREEN = (0x30, 0xa0, 0x40)
GREY = (0x50, 0x50, 0x50)
WHITE = (0xff, 0xff, 0xff)


def canvas(size):
    return [[TRANSPARENT] * size for _ in range(size)]


class Drawing:
    """Records rectangles instead of setting pixels: the scalable icon."""

    def __init__(self, size):
        self.size = size
        self.shapes = []


def rect(img, x0, y0, x1, y1, colour):
    if isinstance(img, Drawing):
        img.shapes.append((x0, y0, x1 - x0 + 1, y1 - y0 + 1, colour))
        return
    for y in range(max(0, y0), min(len(img), y1 + 1)):
        for x in range(max(0, x0), min(len(img), x1 + 1)):
            img[y][x] = colour


def outline(img, x0, y0, x1, y1, colour):
    rect(img, x0, y0, x1, y0, colour)
    rect(img, x0, y1, x1, y1, colour)
    rect(img, x0, y0, x0, y1, colour)
    rect(img, x1, y0, x1, y1, colour)


def folder(size):
    """An open folder: the browse buttons."""
    img = canvas(size)
    s = size / 18.0
    p = lambda v: int(round(v * s))
    rect(img, p(1), p(3), p(7), p(5), DARK_YELLOW)
    rect(img, p(1), p(5), p(16), p(15), YELLOW)
    outline(img, p(1), p(5), p(16), p(15), DARK_YELLOW)
    rect(img, p(3), p(8), p(16), p(8), DARK_YELLOW)
    return img


def merge_arrows(size, img=None):
    """Two blocks flowing into one: the Merge button and the program icon."""
    img = canvas(size) if img is None else img
    s = size / 18.0
    p = lambda v: int(round(v * s))
    rect(img, p(1), p(2), p(6), p(6), LIGHT_BLUE)
    outline(img, p(1), p(2), p(6), p(6), BLUE)
    rect(img, p(1), p(11), p(6), p(15), GREEN)
    outline(img, p(1), p(11), p(6), p(15), GREY)
    rect(img, p(7), p(4), p(9), p(4), BLUE)
    rect(img, p(7), p(13), p(9), p(13), GREY)
    rect(img, p(9), p(4), p(9), p(13), GREY)
    rect(img, p(9), p(8), p(11), p(9), GREY)
    rect(img, p(11), p(3), p(16), p(14), BLUE)
    rect(img, p(12), p(4), p(15), p(8), LIGHT_BLUE)
    rect(img, p(12), p(9), p(15), p(13), GREEN)
    outline(img, p(11), p(3), p(16), p(14), GREY)
    return img


HICOLOR_SIZES = (16, 32, 48, 64, 128, 256)


def png(img):
    size = len(img)
    rows = []
    for row in img:
        rows.append(b"\x00" + b"".join(bytes(px) + b"\xff" if px else b"\x00\x00\x00\x00" for px in row))
    raw = b"".join(rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xffffffff)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def svg(drawing):
    """The drawing in its own units: pixel for pixel the 18-pixel image, scaled."""
    size = drawing.size
    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">'
           % (size, size, size, size)]
    for x, y, w, h, colour in drawing.shapes:
        out.append('<rect x="%d" y="%d" width="%d" height="%d" fill="#%02x%02x%02x"/>' % ((x, y, w, h) + colour))
    out.append("</svg>")
    return ("\n".join(out) + "\n").encode("ascii")


def ico_image(img, palette):
    """One 256-colour DIB of an icon: header, palette, pixels, then the 1-bit mask."""
    size = len(img)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    pal = b""
    for colour in palette + [(0, 0, 0)] * (256 - len(palette)):
        pal += bytes((colour[2], colour[1], colour[0], 0))
    pixels = b""
    mask = b""
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(img):
        pixels += bytes(palette.index(px) if px else 0 for px in row)
        line = bytearray(mask_stride)
        for x, px in enumerate(row):
            if px is None:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(line)
    return header + pal + pixels + mask


def ico(images):
    palette = [(0, 0, 0)]
    for img in images:
        for row in img:
            for px in row:
                if px and px not in palette:
                    palette.append(px)
    blobs = [ico_image(img, palette) for img in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for img, blob in zip(images, blobs):
        size = len(img)
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blobs)


def main():
    with open(os.path.join(HERE, "open.png"), "wb") as f:
        f.write(png(folder(18)))
    with open(os.path.join(HERE, "merge.png"), "wb") as f:
        f.write(png(merge_arrows(18)))
    with open(os.path.join(HERE, "MainWnd.ico"), "wb") as f:
        f.write(ico([merge_arrows(32), merge_arrows(16)]))
    # The program's icon for desktops, at the usual hicolor theme sizes.
    os.makedirs(os.path.join(HERE, "hicolor"), exist_ok=True)
    for size in HICOLOR_SIZES:
        with open(os.path.join(HERE, "hicolor", "%d.png" % size), "wb") as f:
            f.write(png(merge_arrows(size)))
    with open(os.path.join(HERE, "hicolor", "scalable.svg"), "wb") as f:
        f.write(svg(merge_arrows(18, Drawing(18))))


if __name__ == "__main__":
    main()
