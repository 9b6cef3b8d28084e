#!/usr/bin/env python3
"""Draws the tray program's icons from the vector sources beside this script.

beep_on.ico  (101): loudspeaker with a musical note
beep_off.ico (102): the same crossed out by a red prohibition sign

Each file holds nine images: 48, 32 and 16 pixels at 4, then 8, then 32
bits per pixel. The 16-pixel images are the plain loudspeaker in both files,
since the note and the sign do not read at that size.

ImageMagick renders the drawings; the palettes, the masks and the file
layout are done here so that the depth of every image is exactly the one
asked for. Run it again after changing a drawing and commit the .ico files.
"""

import os
import shutil
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SIZES = (48, 32, 16)
DEPTHS = (4, 8, 32)
# below this alpha a palette image's pixel is transparent
ALPHA_THRESHOLD = 128

# the standard 16 colours, which every display shows as they are
VGA_PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def eight_bit_palette():
    """The 16 standard colours, the 6x6x6 colour cube and a grey ramp."""
    palette = list(VGA_PALETTE)
    levels = (0, 51, 102, 153, 204, 255)
    palette += [(r, g, b) for r in levels for g in levels for b in levels
                if (r, g, b) not in VGA_PALETTE]
    # 32 greys, none of them already among the colours above
    palette += [(v, v, v) for v in range(2, 256, 8)]
    assert len(palette) == 256 and len(set(palette)) == 256
    return palette


def read_drawing(name):
    with open(os.path.join(HERE, name)) as source:
        return "".join(line for line in source if not line.lstrip().startswith("#"))


def drawing(size, picture):
    """The draw primitives of one picture at one size."""
    if size == 16:
        # the plain loudspeaker fills the small box on its own
        return "scale %g,%g\n%s" % (size / 40, size / 40, read_drawing("speaker.mvg"))
    layers = [
        "push graphic-context\ntranslate -1,8\nscale 0.8,0.8\n",
        read_drawing("speaker.mvg"),
        "pop graphic-context\n",
        read_drawing("note.mvg"),
    ]
    if picture == "off":
        layers.append(read_drawing("prohibition.mvg"))
    return "scale %g,%g\n%s" % (size / 48, size / 48, "".join(layers))


def render(size, picture):
    """RGBA rows, top row first, of one picture at one size."""
    convert = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else shutil.which("convert")
    if convert is None:
        sys.exit("make_icons: ImageMagick's convert is needed")
    data = subprocess.run(
        [convert, "-size", "%dx%d" % (size, size), "xc:none", "-draw", drawing(size, picture),
         "-depth", "8", "rgba:-"],
        check=True, stdout=subprocess.PIPE).stdout
    pixels = [tuple(data[i:i + 4]) for i in range(0, len(data), 4)]
    return [pixels[row * size:(row + 1) * size] for row in range(size)]


def nearest(palette, rgb):
    return min(range(len(palette)),
               key=lambda i: sum((palette[i][c] - rgb[c]) ** 2 for c in range(3)))


def padded(row_bytes):
    return row_bytes + b"\0" * (-len(row_bytes) % 4)


def pack_bits(values, bits):
    """Packs small numbers into bytes, the first in the highest bits."""
    per_byte = 8 // bits
    out = bytearray()
    for start in range(0, len(values), per_byte):
        byte = 0
        for position, value in enumerate(values[start:start + per_byte]):
            byte |= value << (8 - bits * (position + 1))
        out.append(byte)
    return bytes(out)


def and_mask(rows):
    """1 marks a transparent pixel; bottom row first like the colours."""
    return b"".join(
        padded(pack_bits([1 if a < ALPHA_THRESHOLD else 0 for (_, _, _, a) in row], 1))
        for row in reversed(rows))


def color_bits(rows, depth):
    if depth == 32:
        return b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row), b""
    palette = VGA_PALETTE if depth == 4 else eight_bit_palette()
    indices = [[nearest(palette, p) if p[3] >= ALPHA_THRESHOLD else 0 for p in row]
               for row in rows]
    table = b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    return b"".join(padded(pack_bits(row, depth)) for row in reversed(indices)), table


def icon_image(rows, depth):
    """One image as stored in an icon file: header, palette, colours, mask."""
    size = len(rows)
    colors, table = color_bits(rows, depth)
    mask = and_mask(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, depth, 0,
                         len(colors) + len(mask), 0, 0, 0, 0)
    return header + table + colors + mask


def write_icon(path, picture):
    images = [(size, depth, icon_image(render(size, picture), depth))
              for depth in DEPTHS for size in SIZES]
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    for size, depth, image in images:
        directory += struct.pack("<BBBBHHII", size, size, 16 if depth == 4 else 0, 0, 1, depth,
                                 len(image), offset)
        offset += len(image)
    with open(path, "wb") as icon:
        icon.write(directory + b"".join(image for _, _, image in images))


def main():
    write_icon(os.path.join(HERE, "beep_on.ico"), "on")
    write_icon(os.path.join(HERE, "beep_off.ico"), "off")


if __name__ == "__main__":
    main()
