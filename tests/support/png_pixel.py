"""Prints the colour of pixels of a PNG file (8-bit RGB or RGBA, as
rsvg-convert writes them), one "r g b" line per "x,y" argument.

    png_pixel.py FILE.png X,Y [X,Y ...]
"""

import struct
import sys
import zlib


def pixels(path):
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    at, chunks, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            chunks += body
        at += 12 + length
    width, height, depth, colour = header[:4]
    assert depth == 8 and colour in (2, 6), "only 8-bit RGB or RGBA"
    size = 4 if colour == 6 else 3
    raw, stride = zlib.decompress(chunks), width * size
    rows, previous, at = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            left = line[i - size] if i >= size else 0
            up, corner = previous[i], previous[i - size] if i >= size else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 255
        rows.append(line)
        previous = line
    return rows, size


rows, size = pixels(sys.argv[1])
for point in sys.argv[2:]:
    x, y = (int(v) for v in point.split(","))
    print(*rows[y][x * size:x * size + 3])
