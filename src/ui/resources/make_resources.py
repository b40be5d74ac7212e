#!/usr/bin/python3
"""Draws the program's icon (pinemail.ico) and its hand cursor (hand.cur).

Run once from this folder; the outputs are checked in. Both files are
written directly in the ICO/CUR container format (BMP images with an AND
mask), so no imaging library is needed.
"""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def bmp_header(width, height, bit_count, palette_size):
    # The height counts the colour image and the AND mask together.
    row_bytes = ((width * bit_count + 31) // 32) * 4
    mask_row_bytes = ((width + 31) // 32) * 4
    image_size = (row_bytes + mask_row_bytes) * height
    return struct.pack('<IiiHHIIiiII', 40, width, height * 2, 1, bit_count, 0, image_size,
                       0, 0, palette_size, 0)


def and_mask(width, height, opaque):
    """Bottom-up 1-bit mask: 1 where the pixel is transparent."""
    mask_row_bytes = ((width + 31) // 32) * 4
    out = bytearray()
    for y in reversed(range(height)):
        row = bytearray(mask_row_bytes)
        for x in range(width):
            if not opaque(x, y):
                row[x // 8] |= 0x80 >> (x % 8)
        out += row
    return bytes(out)


def container(kind, entries):
    """kind 1 = icon, 2 = cursor; entries: (width, height, colours, a, b, data)."""
    header = struct.pack('<HHH', 0, kind, len(entries))
    offset = 6 + 16 * len(entries)
    directory = b''
    images = b''
    for width, height, colours, field_a, field_b, data in entries:
        directory += struct.pack('<BBBBHHII', width % 256, height % 256, colours, 0,
                                 field_a, field_b, len(data), offset)
        images += data
        offset += len(data)
    return header + directory + images


# --- The icon: an envelope with a pine tree in front of its right half. ---

def inside_triangle(px, py, apex_x, apex_y, half_base, base_y):
    if py < apex_y or py > base_y:
        return False
    return abs(px - apex_x) <= half_base * (py - apex_y) / (base_y - apex_y)


def icon_colour(u, v):
    """RGBA of the design at unit coordinates (u right, v down), or None."""
    # Pine tree: three stacked tiers and a trunk.
    tiers = [(0.70, 0.04, 0.16, 0.34), (0.70, 0.20, 0.21, 0.54), (0.70, 0.38, 0.26, 0.76)]
    if any(inside_triangle(u, v, *tier) for tier in tiers):
        return (30, 118, 58, 255)
    if 0.66 <= u <= 0.74 and 0.76 <= v <= 0.94:
        return (112, 72, 40, 255)
    # Envelope: a rectangle with an outline and a folded flap.
    left, top, right, bottom = 0.04, 0.30, 0.86, 0.88
    if left <= u <= right and top <= v <= bottom:
        edge = 0.045
        if u < left + edge or u > right - edge or v < top + edge or v > bottom - edge:
            return (70, 80, 110, 255)
        centre_u, flap_v = (left + right) / 2, 0.62
        slope = (flap_v - top) / (centre_u - left)
        flap_line = top + slope * (u - left) if u <= centre_u else top + slope * (right - u)
        if abs(v - flap_line) < 0.035:
            return (70, 80, 110, 255)
        return (250, 246, 232, 255)
    return None


def icon_image(size):
    samples = 4  # supersampling per axis for smooth edges
    pixels = []
    for y in range(size):
        row = []
        for x in range(size):
            total = [0, 0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    colour = icon_colour((x + (sx + 0.5) / samples) / size,
                                         (y + (sy + 0.5) / samples) / size)
                    if colour:
                        for i in range(3):
                            total[i] += colour[i] * colour[3]
                        total[3] += colour[3]
            alpha = total[3] // (samples * samples)
            if total[3]:
                rgb = [total[i] // total[3] for i in range(3)]
            else:
                rgb = [0, 0, 0]
            row.append((rgb[0], rgb[1], rgb[2], alpha))
        pixels.append(row)
    colour_bits = bytearray()
    for y in reversed(range(size)):
        for red, green, blue, alpha in pixels[y]:
            colour_bits += bytes((blue, green, red, alpha))
    data = bmp_header(size, size, 32, 0) + bytes(colour_bits)
    data += and_mask(size, size, lambda x, y: pixels[y][x][3] >= 128)
    return (size, size, 0, 1, 32, data)


# --- The cursor: a hand with the index finger pointing up. ---

CURSOR_SIZE = 32
HOT_SPOT = (12, 1)  # the fingertip


def hand_fill():
    filled = set()

    def block(x0, x1, y0, y1):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                filled.add((x, y))

    block(11, 13, 1, 15)   # index finger
    block(15, 17, 7, 15)   # middle finger, bent
    block(19, 21, 8, 15)   # ring finger, bent
    block(23, 24, 10, 16)  # little finger, bent
    block(11, 24, 16, 24)  # palm
    block(9, 10, 18, 24)
    block(10, 23, 25, 28)  # heel of the hand
    for step in range(6):  # thumb, running down and right into the palm
        block(4 + step, 7 + step, 13 + step, 13 + step)
    return filled


def cursor_image():
    filled = hand_fill()
    outline = set()
    for (x, y) in filled:
        for dy in (-1, 0, 1):
            for dx in (-1, 0, 1):
                neighbour = (x + dx, y + dy)
                if neighbour not in filled:
                    outline.add(neighbour)
    assert HOT_SPOT in filled
    assert all(0 <= x < CURSOR_SIZE and 0 <= y < CURSOR_SIZE for x, y in outline)

    black, white = 0, 15
    # The 16 standard colours; the cursor uses black and white.
    palette = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
               (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
               (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
    palette_bytes = b''.join(bytes((b, g, r, 0)) for r, g, b in palette)

    def index(x, y):
        return white if (x, y) in filled else black  # transparent pixels are black + mask

    bits = bytearray()
    for y in reversed(range(CURSOR_SIZE)):
        for x in range(0, CURSOR_SIZE, 2):
            bits.append((index(x, y) << 4) | index(x + 1, y))
    opaque = filled | outline
    data = bmp_header(CURSOR_SIZE, CURSOR_SIZE, 4, 16) + palette_bytes + bytes(bits)
    data += and_mask(CURSOR_SIZE, CURSOR_SIZE, lambda x, y: (x, y) in opaque)
    return (CURSOR_SIZE, CURSOR_SIZE, 16, HOT_SPOT[0], HOT_SPOT[1], data)


def main():
    with open(os.path.join(HERE, 'pinemail.ico'), 'wb') as out:
        out.write(container(1, [icon_image(size) for size in (16, 32, 48)]))
    with open(os.path.join(HERE, 'hand.cur'), 'wb') as out:
        out.write(container(2, [cursor_image()]))


if __name__ == '__main__':
    main()
