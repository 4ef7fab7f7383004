#!/usr/bin/env python3
"""Writes the artwork's Windows bitmaps and icon at exact colour depths.

  bmp_tool.py bmp IN.png OUT.bmp BITS   BITS 24, 8 or 4 (palette of the
                                        image's colours, reduced if needed)
  bmp_tool.py ico IN.png OUT.ico        one 48 x 48 image, 24 bits per pixel

Palette colours that the loader maps to system colours (128/192/223 greys)
are nudged by one step so the pictures look the same on every system.
"""
import struct
import subprocess
import sys

RESERVED = {(128, 128, 128): (129, 129, 129), (192, 192, 192): (193, 193, 193),
            (223, 223, 223): (224, 224, 224)}


def read_rgb(path, colours=None):
    args = ["convert", path, "-alpha", "off"]
    if colours:
        args += ["+dither", "-colors", str(colours)]
    size = subprocess.run(["identify", "-format", "%w %h", path], check=True,
                          capture_output=True, text=True).stdout.split()
    width, height = int(size[0]), int(size[1])
    raw = subprocess.run(args + ["-depth", "8", "rgb:-"], check=True, capture_output=True).stdout
    if len(raw) != width * height * 3:
        sys.exit(f"bmp_tool: unexpected pixel data for {path}")
    pixels = [RESERVED.get(tuple(raw[i:i + 3]), tuple(raw[i:i + 3]))
              for i in range(0, len(raw), 3)]
    return width, height, pixels


def rows_24(width, height, pixels):
    stride = (width * 3 + 3) & ~3
    out = bytearray()
    for y in range(height - 1, -1, -1):
        row = bytearray()
        for r, g, b in pixels[y * width:(y + 1) * width]:
            row += bytes((b, g, r))
        out += row + bytes(stride - len(row))
    return bytes(out)


def rows_indexed(width, height, pixels, bits, index):
    stride = ((width * bits + 31) // 32) * 4
    out = bytearray()
    for y in range(height - 1, -1, -1):
        row = bytearray(stride)
        for x, p in enumerate(pixels[y * width:(y + 1) * width]):
            i = index[p]
            if bits == 8:
                row[x] = i
            else:
                row[x // 2] |= i << (4 if x % 2 == 0 else 0)
        out += row
    return bytes(out)


def info_header(width, height, bits, image_size, colours):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, image_size, 2835, 2835,
                       colours, 0)


def write_bmp(src, dst, bits):
    width, height, pixels = read_rgb(src)
    if bits < 24 and len(set(pixels)) > (1 << bits):
        width, height, pixels = read_rgb(src, 1 << bits)
    if bits == 24:
        palette, data = b"", rows_24(width, height, pixels)
    else:
        colours = sorted(set(pixels))
        if len(colours) > (1 << bits):
            sys.exit(f"bmp_tool: {src} has {len(colours)} colours after reduction")
        colours += [(0, 0, 0)] * ((1 << bits) - len(colours))
        index = {}
        for i, c in enumerate(colours):
            index.setdefault(c, i)
        palette = b"".join(bytes((b, g, r, 0)) for r, g, b in colours)
        data = rows_indexed(width, height, pixels, bits, index)
    header = info_header(width, height, bits, len(data), 0)
    offset = 14 + len(header) + len(palette)
    with open(dst, "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset))
        f.write(header + palette + data)


def write_ico(src, dst):
    width, height, pixels = read_rgb(src)
    if (width, height) != (48, 48):
        sys.exit("bmp_tool: the icon is 48 x 48")
    colour = rows_24(width, height, pixels)
    mask = bytes(((width + 31) // 32) * 4 * height)  # all opaque
    image = info_header(width, height * 2, 24, len(colour) + len(mask), 0) + colour + mask
    with open(dst, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, 1))
        f.write(struct.pack("<BBBBHHII", width, height, 0, 0, 1, 24, len(image), 22))
        f.write(image)


def main():
    if len(sys.argv) == 5 and sys.argv[1] == "bmp":
        write_bmp(sys.argv[2], sys.argv[3], int(sys.argv[4]))
    elif len(sys.argv) == 4 and sys.argv[1] == "ico":
        write_ico(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
