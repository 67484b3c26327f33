#!/usr/bin/env python3
"""Turns the pixel drawings in res/icons/*.txt into 16-colour .ico files.

Each drawing file holds one or more images, each introduced by a line
"size N" and followed by N rows of N characters; '#' lines are comments.
A space is transparent; every other character names one of the 16 colours
of the standard palette below.
"""
import pathlib
import struct
import sys

PALETTE = [  # (key, (r, g, b)) in palette order
    ('k', (0, 0, 0)), ('r', (128, 0, 0)), ('g', (0, 128, 0)), ('o', (128, 128, 0)),
    ('b', (0, 0, 128)), ('p', (128, 0, 128)), ('t', (0, 128, 128)), ('s', (192, 192, 192)),
    ('d', (128, 128, 128)), ('R', (255, 0, 0)), ('G', (0, 255, 0)), ('Y', (255, 255, 0)),
    ('B', (0, 0, 255)), ('M', (255, 0, 255)), ('C', (0, 255, 255)), ('W', (255, 255, 255)),
]
INDEX = {key: i for i, (key, _) in enumerate(PALETTE)}


def read_images(path):
    images, rows, size = [], None, 0
    for line in path.read_text().splitlines():
        if line.startswith('#'):
            continue
        if line.startswith('size '):
            size = int(line.split()[1])
            rows = []
            images.append((size, rows))
            continue
        if rows is not None and len(rows) < size:
            row = line.ljust(size)
            if len(row) != size:
                sys.exit(f'{path}: row wider than {size}: {line!r}')
            rows.append(row)
    for size, rows in images:
        if len(rows) != size:
            sys.exit(f'{path}: image of size {size} has {len(rows)} rows')
    return images


def bitmap(size, rows):
    """BITMAPINFOHEADER, palette, 4-bit colour rows and the 1-bit mask, bottom-up."""
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    xor, mask = bytearray(), bytearray()
    for row in reversed(rows):
        line = bytearray(xor_stride)
        bits = bytearray(and_stride)
        for x, ch in enumerate(row):
            colour = 0 if ch == ' ' else INDEX[ch]
            line[x // 2] |= colour << (4 if x % 2 == 0 else 0)
            if ch == ' ':
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for _, (r, g, b) in PALETTE)
    return header + palette + bytes(xor) + bytes(mask)


def write_icon(images, out):
    blobs = [bitmap(size, rows) for size, rows in images]
    data = struct.pack('<HHH', 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for (size, _), blob in zip(images, blobs):
        data += struct.pack('<BBBBHHII', size % 256, size % 256, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    out.write_bytes(data + b''.join(blobs))


def main():
    folder = pathlib.Path(__file__).resolve().parent.parent / 'res' / 'icons'
    for source in sorted(folder.glob('*.txt')):
        write_icon(read_images(source), source.with_suffix('.ico'))
        print(f'{source.with_suffix(".ico").name}')


if __name__ == '__main__':
    main()
