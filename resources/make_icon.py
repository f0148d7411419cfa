#!/usr/bin/env python3
"""Draws the setup's icon, three mixer sliders on a rounded blue tile, and writes app.ico.

Four 16-colour images (16, 24, 32 and 48 pixels) keep the file to a few KiB; a true-colour
image would cost more than the whole program. The build uses the committed app.ico, so this
script only needs to run again when the drawing changes.
"""

import os
import struct
import sys

# The standard Windows 16-colour palette, as (red, green, blue).
PALETTE = (
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
)
BLACK, NAVY, GREY, SILVER, BLUE, YELLOW, CYAN, WHITE = 0, 4, 8, 7, 12, 11, 14, 15

SIZES = (16, 24, 32, 48)
SUBSAMPLES = 4                         # per axis, for the rounded corners
KNOB_POSITIONS = (0.72, 0.28, 0.50)    # knob centres along the three tracks, top first

# Pixel geometry per size, so tracks and knobs land on whole pixels: left/right margin of the tracks,
# track thickness, first track's top row, rows from one track to the next, knob width and height
# (the outline included at the sizes that have one).
GEOMETRY = {
    16: (3, 1, 4, 4, 3, 3),
    24: (4, 2, 4, 7, 5, 6),
    32: (5, 2, 6, 9, 7, 8),
    48: (7, 3, 10, 13, 9, 11),
}

BITMAPINFOHEADER_SIZE = 40
ICONDIR_SIZE = 6
ICONDIRENTRY_SIZE = 16
BITS_PER_PIXEL = 4


def inside_rounded_rect(x, y, left, top, right, bottom, radius):
    """True when the point (x, y) lies in the rectangle with corners rounded by `radius`."""
    if x < left or x >= right or y < top or y >= bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def tile_layers(size):
    """Shapes drawn with subsampling, bottom first: (predicate over a point, palette index)."""
    radius = size * 0.25
    edge = 1.0 if size < 32 else 1.5
    bevel = edge + max(1.0, size / 24.0)
    return [
        (lambda x, y: inside_rounded_rect(x, y, 0, 0, size, size, radius), BLACK),
        # A lighter band along the top edge gives the flat tile a little depth.
        (lambda x, y: inside_rounded_rect(x, y, edge, edge, size - edge, size - edge, radius - edge), BLUE),
        (lambda x, y: inside_rounded_rect(x, y, edge, bevel, size - edge, size - edge, radius - edge), NAVY),
    ]


def rasterise_tile(size):
    """Rows of palette indices (None for transparent), each pixel the colour most of its samples hit."""
    layers = tile_layers(size)
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            votes = {}
            for sy in range(SUBSAMPLES):
                for sx in range(SUBSAMPLES):
                    x = px + (sx + 0.5) / SUBSAMPLES
                    y = py + (sy + 0.5) / SUBSAMPLES
                    colour = None
                    for inside, index in layers:
                        if inside(x, y):
                            colour = index
                    votes[colour] = votes.get(colour, 0) + 1
            row.append(max(votes, key=lambda c: (votes[c], c is not None)))
        rows.append(row)
    return rows


def fill(rows, left, top, right, bottom, colour):
    for y in range(max(top, 0), min(bottom, len(rows))):
        for x in range(max(left, 0), min(right, len(rows[y]))):
            rows[y][x] = colour


def draw_sliders(rows, size):
    """Whole-pixel tracks and knobs, so they stay crisp at 16 pixels."""
    margin, thickness, first_top, step, knob_width, knob_height = GEOMETRY[size]
    track_left, track_right = margin, size - margin
    outlined = size >= 24
    for i, knob_fraction in enumerate(KNOB_POSITIONS):
        top = first_top + i * step
        knob_left = track_left + int((track_right - track_left) * knob_fraction) - knob_width // 2
        knob_top = top - (knob_height - thickness) // 2
        knob_right, knob_bottom = knob_left + knob_width, knob_top + knob_height
        # The part of the track left of the knob is lit, as on a level meter.
        fill(rows, track_left, top, knob_left, top + thickness, CYAN)
        fill(rows, knob_left, top, track_right, top + thickness, SILVER)
        if outlined:
            fill(rows, knob_left, knob_top, knob_right, knob_bottom, BLACK)
            knob_left, knob_top = knob_left + 1, knob_top + 1
            knob_right, knob_bottom = knob_right - 1, knob_bottom - 1
        fill(rows, knob_left, knob_top, knob_right, knob_bottom, YELLOW)
        if outlined:
            # A white top edge and a grey bottom edge make the knob read as raised.
            fill(rows, knob_left, knob_top, knob_right, knob_top + 1, WHITE)
            fill(rows, knob_left, knob_bottom - 1, knob_right, knob_bottom, GREY)


def draw_icon(size):
    rows = rasterise_tile(size)
    draw_sliders(rows, size)
    return rows


def padded_row_size(bits):
    return (bits + 31) // 32 * 4


def encode_image(rows):
    """BITMAPINFOHEADER, palette, 4-bit colour (XOR) rows and 1-bit transparency (AND) rows, bottom up."""
    size = len(rows)
    xor_stride = padded_row_size(size * BITS_PER_PIXEL)
    and_stride = padded_row_size(size)
    xor_data = bytearray()
    and_data = bytearray()
    for row in reversed(rows):
        colour_bytes = bytearray(xor_stride)
        mask_bytes = bytearray(and_stride)
        for x, index in enumerate(row):
            if index is None:
                mask_bytes[x // 8] |= 0x80 >> (x % 8)
                index = BLACK
            colour_bytes[x // 2] |= index << (4 if x % 2 == 0 else 0)
        xor_data += colour_bytes
        and_data += mask_bytes
    header = struct.pack("<IiiHHIIiiII", BITMAPINFOHEADER_SIZE, size, size * 2, 1, BITS_PER_PIXEL,
                         0, len(xor_data) + len(and_data), 0, 0, len(PALETTE), 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(xor_data) + bytes(and_data)


def encode_icon(images):
    """ICONDIR, one ICONDIRENTRY per image, then the images in the same order."""
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = ICONDIR_SIZE + ICONDIRENTRY_SIZE * len(images)
    entries = b""
    for size, data in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, len(PALETTE), 0, 1, BITS_PER_PIXEL,
                               len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(data for _, data in images)


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                                "app.ico")
    images = [(size, encode_image(draw_icon(size))) for size in SIZES]
    with open(target, "wb") as out:
        out.write(encode_icon(images))


if __name__ == "__main__":
    main()
