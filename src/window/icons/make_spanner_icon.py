#!/usr/bin/env python3
"""Draws the program's icon, a grey spanner, as 32x32 and 16x16 XPM images
and as a Windows icon file holding both.

The images use four colours of the standard sixteen-colour palette (black,
dark grey, light grey, white) on a transparent ground. The XPM files are also
C source, so the Qt program includes them directly; the Windows program takes
spanner.ico, sixteen-colour images with their transparency masks, as its
resource. Run from this folder:

    python3 make_spanner_icon.py
"""

import math
import struct

PALETTE = {
    " ": "None",
    "k": "#000000",  # outline
    "d": "#808080",  # shadow side
    "g": "#C0C0C0",  # steel
    "w": "#FFFFFF",  # highlight
}


# The drawing in pixel units for each size: the jaw's disc (centre, radius),
# the half width of the slot and where it starts along the axis, the ring
# (centre, outer and hole radius) and the half width of the handle. The small
# size is drawn on its own, a little stouter, rather than scaled down.
GEOMETRY = {
    32: dict(head=(22.5, 9.5), head_r=7.5, slot=2.6, slot_from=-1.5,
             ring=(8.5, 23.5), ring_r=5.5, hole_r=2.3, handle=2.6),
    16: dict(head=(11.3, 4.7), head_r=4.4, slot=1.3, slot_from=-0.5,
             ring=(4.3, 11.7), ring_r=3.3, hole_r=1.2, handle=1.5),
}


def spanner(x, y, g):
    """Whether the point (x, y) lies on the spanner drawn by geometry g."""
    head, ring = g["head"], g["ring"]
    ux, uy = (head[0] - ring[0]), (head[1] - ring[1])
    length = math.hypot(ux, uy)
    ux, uy = ux / length, uy / length
    vx, vy = -uy, ux

    def dist(p):
        return math.hypot(x - p[0], y - p[1])

    # Open jaw: a disc with a slot cut along the handle's axis.
    hx, hy = x - head[0], y - head[1]
    in_head = dist(head) <= g["head_r"]
    in_slot = hx * ux + hy * uy > g["slot_from"] and abs(hx * vx + hy * vy) < g["slot"]
    # Ring end with its hole.
    outside_hole = dist(ring) >= g["hole_r"]
    in_ring = dist(ring) <= g["ring_r"] and outside_hole
    # Handle between the two ends.
    rx, ry = x - ring[0], y - ring[1]
    along = rx * ux + ry * uy
    across = abs(rx * vx + ry * vy)
    in_handle = 0 <= along <= length and across <= g["handle"] and outside_hole
    return (in_head and not in_slot) or in_ring or in_handle


def render(size):
    g = GEOMETRY[size]
    n = 4  # samples per pixel side
    inside = [[False] * size for _ in range(size)]
    for py in range(size):
        for px in range(size):
            hits = sum(
                spanner(px + (i + 0.5) / n, py + (j + 0.5) / n, g)
                for i in range(n)
                for j in range(n)
            )
            inside[py][px] = hits * 2 >= n * n

    def at(px, py):
        return 0 <= px < size and 0 <= py < size and inside[py][px]

    rows = []
    for py in range(size):
        row = ""
        for px in range(size):
            if not inside[py][px]:
                row += " "
            elif not all(at(px + dx, py + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))):
                row += "k"
            elif not at(px - 2, py - 1) or not at(px - 1, py - 2):
                row += "w"
            elif not at(px + 2, py + 1) or not at(px + 1, py + 2):
                row += "d"
            else:
                row += "g"
        rows.append(row)
    return rows


def write_xpm(name, rows):
    size = len(rows)
    lines = ["/* XPM */", "static const char* const %s[] = {" % name.replace("-", "_")]
    entries = ['"%d %d %d 1",' % (size, size, len(PALETTE))]
    entries += ['"%s c %s",' % (k, v) for k, v in PALETTE.items()]
    entries += ['"%s",' % r for r in rows]
    entries[-1] = entries[-1].rstrip(",")
    lines += entries
    lines.append("};")
    with open(name + ".xpm", "w") as f:
        f.write("\n".join(lines) + "\n")


# The standard sixteen colours in their usual order (blue, green, red for
# the file); the image's colours by their index in it.
VGA = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
INDEX = {" ": 0, "k": 0, "d": 8, "g": 7, "w": 15}


def ico_image(rows):
    """One icon image: a 4-bit bitmap header, palette, pixels and AND mask, bottom row first."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in VGA)
    pixels = b""
    mask = b""
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(rows):
        line = bytearray()
        for x in range(0, size, 2):
            line.append(INDEX[row[x]] << 4 | INDEX[row[x + 1]])
        pixels += bytes(line).ljust(((size * 4 + 31) // 32) * 4, b"\0")
        bits = bytearray(mask_stride)
        for x, c in enumerate(row):
            if c == " ":
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + palette + pixels + mask


def write_ico(name, images):
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    data = b""
    for rows in images:
        image = ico_image(rows)
        size = len(rows)
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), offset + len(data))
        data += image
    with open(name + ".ico", "wb") as f:
        f.write(out + data)


if __name__ == "__main__":
    write_xpm("spanner-32", render(32))
    write_xpm("spanner-16", render(16))
    write_ico("spanner", [render(32), render(16)])
