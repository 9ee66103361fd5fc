#!/usr/bin/env python3
"""Draws the programs' icons (a globe with an arrow going up) into .ico files.

usage: make_icon.py OUT.ico SIZES DEPTHS   e.g. make_icon.py pelkor.ico 48,32,16 8png
SIZES are pixel sizes, DEPTHS bits per pixel (4, 8 or 32); one image for each pair.
8png is a 256-colour image stored PNG-compressed, as Windows reads icon images
since Vista: the service's three images take some 700 bytes instead of 4 KB.
"""
import struct
import sys
import zlib


def colour_at(x, y, size):
    """RGB of the picture at pixel (x, y), sampled from a 1x1 design."""
    u, v = (x + 0.5) / size, (y + 0.5) / size
    du, dv = u - 0.5, v - 0.5
    r2 = du * du + dv * dv
    # the arrow: a white shaft and head in the middle of the globe
    if abs(du) < 0.07 and 0.30 < v < 0.78:
        return (255, 255, 255)
    if 0.14 < v <= 0.34 and abs(du) < (v - 0.14) * 1.1:
        return (255, 255, 255)
    if r2 < 0.46 * 0.46:
        # latitude and meridian lines on a blue globe
        if abs(dv) < 0.02 or abs(du * du * 6 + dv * dv - 0.12) < 0.02:
            return (120, 200, 255)
        return (0, 90, 200) if r2 > 0.3 * 0.3 else (0, 120, 230)
    return None  # transparent


def palette_for(depth):
    if depth == 4:
        base = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
                (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
                (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
        return base
    # 8 bits: a 6x6x6 colour cube, then greys
    cube = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    greys = [(i * 6, i * 6, i * 6) for i in range(40)]
    return cube + greys


def nearest(palette, rgb):
    return min(range(len(palette)),
               key=lambda i: sum((a - b) ** 2 for a, b in zip(palette[i], rgb)))


def png_image(size):
    """A palette PNG (8 bits a pixel) of the picture; index 0 is transparent."""
    pixels = [[colour_at(x, y, size) for x in range(size)] for y in range(size)]
    cube = palette_for(8)
    colours = sorted({nearest(cube, p) for line in pixels for p in line if p})
    index = {c: i + 1 for i, c in enumerate(colours)}
    raw = b''.join(b'\0' + bytes(index[nearest(cube, p)] if p else 0 for p in line)
                   for line in pixels)

    def chunk(kind, data):
        return (struct.pack('>I', len(data)) + kind + data +
                struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF))
    return (b'\x89PNG\r\n\x1a\n' +
            chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 3, 0, 0, 0)) +
            chunk(b'PLTE', bytes(3) + b''.join(bytes(cube[c]) for c in colours)) +
            chunk(b'tRNS', b'\0') + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def image(size, depth):
    if depth == '8png':
        return png_image(size)
    depth = int(depth)
    pixels = [[colour_at(x, y, size) for x in range(size)] for y in range(size)]
    rows = []
    used = 0 if depth == 32 else 1 << depth
    if depth == 32:
        for y in reversed(range(size)):
            row = b''
            for x in range(size):
                p = pixels[y][x]
                row += bytes((p[2], p[1], p[0], 255)) if p else b'\0\0\0\0'
            rows.append(row)
        pal = b''
    else:
        palette = palette_for(depth)
        if depth == 8:
            # Only the colours the picture uses: a 256-colour image whose
            # palette lists those alone (biClrUsed) is some 1 KB smaller.
            colours = sorted({nearest(palette, p) for line in pixels for p in line if p} | {0})
            palette = [palette[i] for i in colours]
            used = len(palette)
        pal = b''.join(bytes((b, g, r, 0)) for r, g, b in palette)
        for y in reversed(range(size)):
            idx = [nearest(palette, pixels[y][x]) if pixels[y][x] else 0 for x in range(size)]
            if depth == 8:
                row = bytes(idx)
            else:
                row = bytes((idx[i] << 4) | idx[i + 1] for i in range(0, size, 2))
            rows.append(row + b'\0' * (-len(row) % 4))
    mask_rows = []
    for y in reversed(range(size)):
        bits = 0
        row = bytearray((size + 7) // 8)
        for x in range(size):
            if pixels[y][x] is None:
                row[x // 8] |= 0x80 >> (x % 8)
        mask_rows.append(bytes(row) + b'\0' * (-len(row) % 4))
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, depth, 0, 0, 0, 0, used, 0)
    return header + pal + b''.join(rows) + b''.join(mask_rows)


def main():
    out, sizes, depths = sys.argv[1], sys.argv[2], sys.argv[3]
    entries = [(int(s), d) for d in depths.split(',') for s in sizes.split(',')]
    images = [image(s, d) for s, d in entries]
    data = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, depth), img in zip(entries, images):
        bits = int(depth.rstrip('png'))
        colours = 0 if bits >= 8 else 1 << bits
        data += struct.pack('<BBBBHHII', size % 256, size % 256, colours, 0, 1, bits,
                            len(img), offset)
        offset += len(img)
    with open(out, 'wb') as f:
        f.write(data + b''.join(images))


if __name__ == '__main__':
    main()
