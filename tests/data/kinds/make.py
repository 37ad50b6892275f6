#!/usr/bin/env python3
"""Writes the small pictures in this folder: one of each kind the program's
own readers read (bit-field and run-length BMP, PNG colour types and depths,
a TIFF in strips), for tests that start from a valid file of every kind and
change it (the seeded fuzz pass). Run it again after a change here; the
files are committed, and the same script writes the same bytes.

    python3 tests/data/kinds/make.py
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def value(x, y):
    """A pixel value that differs along both axes, the same every run."""
    return ((x * 2654435761) ^ (y * 40503)) * 2246822519 & 0xFFFFFFFF


# ---- BMP ----------------------------------------------------------------


def bmp(width, height, bits, compression, pixels, later=b"", masks=b"", colours=()):
    """A BMP: its header (40 bytes, or longer with the `later` fields), the
    masks that follow a 40-byte header, the palette as BGR0 entries, then
    the pixel bytes."""
    info = struct.pack("<IiiHHIIiiII", 40 + len(later), width, height, 1, bits, compression,
                       len(pixels), 2835, 2835, len(colours), 0) + later
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in colours)
    offset = 14 + len(info) + len(masks) + len(table)
    return b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset) + info + masks + table + pixels


def rows(width, height, bits, pixel):
    """Bottom-up rows of `bits`-bit pixels, each padded to four bytes."""
    stride = (width * bits + 31) // 32 * 4
    out = b""
    for y in range(height - 1, -1, -1):
        row = b"".join(pixel(x, y).to_bytes(bits // 8, "little") for x in range(width))
        out += row.ljust(stride, b"\0")
    return out


def bmp_fields_16():
    """16-bit pixels in 5-6-5 fields, the masks after a 40-byte header."""
    masks = struct.pack("<III", 0xF800, 0x07E0, 0x001F)
    return bmp(9, 6, 16, 3, rows(9, 6, 16, lambda x, y: value(x, y) >> 16), masks=masks)


def bmp_fields_32():
    """32-bit pixels with an alpha field, the masks in a 108-byte header."""
    later = struct.pack("<IIII", 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000)
    later += b"BGRs" + bytes(36) + bytes(12)  # sRGB, end points, gamma
    return bmp(8, 5, 32, 3, rows(8, 5, 32, value), later=later)


def palette(n):
    return [((i * 67) & 255, (i * 151 + 30) & 255, (i * 29 + 200) & 255) for i in range(n)]


def bmp_rle8():
    """8-bit run-length rows, 12 pixels wide, with every code: runs, a
    literal stretch (odd, so padded), a move right and down, ends of line
    and the end."""
    codes = [
        (5, 1, 7, 2, 0, 0),                  # row 0: two runs
        (0, 3, 4, 5, 6, 0, 9, 3, 0, 0),      # row 1: three literal pixels, a run
        (2, 7, 0, 2, 3, 1, 6, 8, 0, 0),      # row 2: a run, 3 right and 1 down, a run on row 3
        (0, 4, 1, 2, 3, 4, 8, 5, 0, 0),      # row 4: four literal pixels, a run
        (12, 9, 0, 1),                       # row 5: a whole row, the end
    ]
    return bmp(12, 6, 8, 1, b"".join(bytes(c) for c in codes), colours=palette(10))


def bmp_rle4():
    """4-bit run-length rows, 10 pixels wide: runs of two alternating
    colours, a literal stretch (padded), ends of line and the end."""
    codes = [
        (6, 0x12, 4, 0x33, 0, 0),
        (0, 5, 0x45, 0x67, 0x80, 0, 5, 0x21, 0, 0),
        (10, 0x52, 0, 1),
    ]
    return bmp(10, 3, 4, 2, b"".join(bytes(c) for c in codes), colours=palette(9))


# ---- PNG ----------------------------------------------------------------


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def png(width, height, depth, colour, raw_rows, interlaced=False, plte=b"", trns=b""):
    ihdr = struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0, 1 if interlaced else 0)
    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
    if plte:
        out += chunk(b"PLTE", plte)
    if trns:
        out += chunk(b"tRNS", trns)
    return out + chunk(b"IDAT", zlib.compress(raw_rows, 9)) + chunk(b"IEND", b"")


def samples_row(width, depth, channels, y):
    """One row of samples, packed when below eight bits, with filter 0."""
    top = (1 << depth) - 1
    values = [(value(x, y) >> (c * 5)) & top for x in range(width) for c in range(channels)]
    if depth >= 8:
        return b"\0" + b"".join(v.to_bytes(depth // 8, "big") for v in values)
    out, acc, bits = b"\0", 0, 0
    for v in values:
        acc, bits = (acc << depth) | v, bits + depth
        if bits == 8:
            out, acc, bits = out + bytes((acc,)), 0, 0
    return out + (bytes((acc << (8 - bits),)) if bits else b"")


def png_plain(width, height, depth, colour, channels, **extra):
    raw = b"".join(samples_row(width, depth, channels, y) for y in range(height))
    return png(width, height, depth, colour, raw, **extra)


def png_interlaced(width, height, colour, channels):
    """8-bit samples in Adam7's seven passes, each pass's rows of its own."""
    passes = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2),
              (0, 1, 1, 2)]
    raw = b""
    for x0, y0, dx, dy in passes:
        xs = range(x0, width, dx)
        if not xs:
            continue
        for y in range(y0, height, dy):
            whole = samples_row(width, 8, channels, y)[1:]
            raw += b"\0" + b"".join(whole[x * channels:(x + 1) * channels] for x in xs)
    return png(width, height, 8, colour, raw, interlaced=True)


# ---- TIFF ---------------------------------------------------------------


def tiff_strips():
    """Little-endian RGB, uncompressed, in three strips of four rows: the
    header, one directory, the values too long for their entries, the strips."""
    w, h, per = 10, 12, 4
    pixels = bytes((value(x, y) >> s) & 255 for y in range(h) for x in range(w) for s in (0, 8, 16))
    size = per * w * 3
    strips = [pixels[i:i + size] for i in range(0, len(pixels), size)]
    tags = 12
    bits_at = 8 + 2 + tags * 12 + 4
    resolution_at = bits_at + 6
    offsets_at = resolution_at + 8
    counts_at = offsets_at + 4 * len(strips)
    data_at = counts_at + 4 * len(strips)

    def entry(tag, kind, count, v):
        # A single short sits in the entry itself; anything else is a long
        # (a value, or where the values lie).
        if kind == 3 and count == 1:
            return struct.pack("<HHIHH", tag, kind, count, v, 0)
        return struct.pack("<HHII", tag, kind, count, v)

    directory = [entry(256, 3, 1, w), entry(257, 3, 1, h), entry(258, 3, 3, bits_at),
                 entry(259, 3, 1, 1), entry(262, 3, 1, 2), entry(273, 4, len(strips), offsets_at),
                 entry(277, 3, 1, 3), entry(278, 3, 1, per), entry(279, 4, len(strips), counts_at),
                 entry(282, 5, 1, resolution_at), entry(283, 5, 1, resolution_at), entry(284, 3, 1, 1)]
    assert len(directory) == tags
    out = b"II*\0" + struct.pack("<IH", 8, tags) + b"".join(directory) + struct.pack("<I", 0)
    out += struct.pack("<HHH", 8, 8, 8) + struct.pack("<II", 72, 1)
    out += b"".join(struct.pack("<I", data_at + i * size) for i in range(len(strips)))
    out += b"".join(struct.pack("<I", len(s)) for s in strips)
    assert len(out) == data_at
    return out + b"".join(strips)


def main():
    write("bmp-16-fields-565.bmp", bmp_fields_16())
    write("bmp-32-fields-alpha.bmp", bmp_fields_32())
    write("bmp-8-rle.bmp", bmp_rle8())
    write("bmp-4-rle.bmp", bmp_rle4())
    plte = b"".join(bytes(c) for c in palette(16))
    write("png-4-palette-transparent.png",
          png_plain(11, 7, 4, 3, 1, plte=plte, trns=bytes((0, 128, 255, 40))))
    write("png-16-rgba.png", png_plain(6, 5, 16, 6, 4))
    write("png-1-grey.png", png_plain(13, 4, 1, 0, 1))
    write("png-8-grey-alpha-interlaced.png", png_interlaced(9, 9, 4, 2))
    write("tiff-3-strips.tif", tiff_strips())


if __name__ == "__main__":
    main()
