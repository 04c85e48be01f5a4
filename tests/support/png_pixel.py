"""Prints the colour of pixels of a PNG file, one "r g b" line per "x,y"
argument (read with Pillow, Debian's python3-pil).

    png_pixel.py FILE.png X,Y [X,Y ...]
"""

import sys

from PIL import Image

image = Image.open(sys.argv[1]).convert("RGB")
for point in sys.argv[2:]:
    x, y = (int(v) for v in point.split(","))
    print(*image.getpixel((x, y)))
