#!/usr/bin/env python3
"""Turns the program's PNG artwork into what a Windows resource script takes: a bitmap into a
24-bit BMP file (rows bottom-up, each padded to four bytes), an icon into an ICO file of one
32-bit image with alpha (a DIB twice the icon's height, its lower half an AND mask), which the
program reads back as it reads its bitmaps.

    png_to_resource.py bmp IN.png OUT.bmp
    png_to_resource.py ico IN.png OUT.ico

Only what the artwork uses is read: 8-bit RGB or RGBA, not interlaced. Anything else is refused
with a sentence, never converted wrongly.
"""
import struct
import sys
import zlib


def chunks(data):
    at = 8
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        yield kind, data[at + 8:at + 8 + length]
        at += 12 + length


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else b if pb <= pc else c


def decode(data, path):
    """The image's width, height, bytes per pixel and rows of unfiltered bytes."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        sys.exit(f"{path}: not a PNG file")
    header = next(body for kind, body in chunks(data) if kind == b"IHDR")
    width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", header)
    if depth != 8 or colour not in (2, 6) or interlace:
        sys.exit(f"{path}: only 8-bit RGB or RGBA PNG files without interlacing are converted")
    size = 3 if colour == 2 else 4
    raw = zlib.decompress(b"".join(body for kind, body in chunks(data) if kind == b"IDAT"))
    stride = width * size
    rows, previous = [], bytearray(stride)
    for y in range(height):
        line = raw[y * (stride + 1):(y + 1) * (stride + 1)]
        kind, row = line[0], bytearray(line[1:])
        for x in range(stride):
            left = row[x - size] if x >= size else 0
            up, corner = previous[x], previous[x - size] if x >= size else 0
            predictor = (0, left, up, (left + up) // 2, paeth(left, up, corner))[kind]
            row[x] = (row[x] + predictor) & 0xFF
        rows.append(row)
        previous = row
    return width, height, size, rows


def bmp(width, height, size, rows):
    padded = (width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for x in range(width):
            r, g, b = row[x * size:x * size + 3]
            line += bytes((b, g, r))
        pixels += line + bytes(padded - len(line))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


def ico(width, height, size, rows):
    pixels = bytearray()
    for row in reversed(rows):
        for x in range(width):
            r, g, b = row[x * size:x * size + 3]
            pixels += bytes((b, g, r, row[x * size + 3] if size == 4 else 255))
    mask = bytes(((width + 31) // 32 * 4) * height)  # all drawn: the alpha says what shows
    info = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
    image = info + pixels + mask
    entry = struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(image), 6 + 16)
    return struct.pack("<HHH", 0, 1, 1) + entry + image


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in ("bmp", "ico"):
        sys.exit(__doc__)
    kind, source, target = sys.argv[1:]
    data = open(source, "rb").read()
    width, height, size, rows = decode(data, source)
    out = bmp(width, height, size, rows) if kind == "bmp" else ico(width, height, size, rows)
    with open(target, "wb") as file:
        file.write(out)


main()
