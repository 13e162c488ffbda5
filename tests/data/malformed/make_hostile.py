#!/usr/bin/env python3
"""Writes the small hostile files of this folder: a few bytes (about a kilobyte each)
claiming pictures of 16384 x 16384 pixels or odd layouts that once made the decoders
allocate gigabytes. Run from anywhere; the files land beside this script.

    python3 tests/data/malformed/make_hostile.py
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.dirname(HERE)
SIDE = 16384


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


# ---------------------------------------------------------------------------
# BMP


def bmp(width, height, bpp, compression, pixels, colors=0):
    palette = bytes(4 * colors)
    offset = 14 + 40 + len(palette)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bpp, compression, 0, 2835, 2835,
                       colors, 0)
    head = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    return head + info + palette + pixels


# ---------------------------------------------------------------------------
# PNG


def png_chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(
        ">I", zlib.crc32(kind + body) & 0xFFFFFFFF)


def png(width, height, depth, color, idat):
    ihdr = struct.pack(">IIBBBBB", width, height, depth, color, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) + png_chunk(b"IDAT", idat) +
            png_chunk(b"IEND", b""))


# ---------------------------------------------------------------------------
# TIFF (little-endian, one page)


def tiff(tags, payload):
    """tags: list of (tag, type, values); type 3 = SHORT, 4 = LONG. Values of `payload`
    offsets are given relative to the payload, which follows the directory."""
    tags = sorted(tags)
    ifd_size = 2 + 12 * len(tags) + 4
    extra = b""
    base = 8 + ifd_size
    entries = b""
    for tag, kind, values in tags:
        size = {3: 2, 4: 4}[kind]
        fmt = {3: "H", 4: "I"}[kind]
        raw = struct.pack("<%d%s" % (len(values), fmt), *values)
        if len(raw) <= 4:
            entries += struct.pack("<HHI", tag, kind, len(values)) + raw.ljust(4, b"\0")
        else:
            entries += struct.pack("<HHII", tag, kind, len(values), base + len(extra))
            extra += raw
    head = b"II*\0" + struct.pack("<I", 8)
    ifd = struct.pack("<H", len(tags)) + entries + struct.pack("<I", 0)
    return head + ifd + extra, base + len(extra)


def tiff_page(width, height, bps, spp, photometric, compression, data, more=()):
    """A page whose single strip (or tile) is `data`, placed after the directory."""
    tiled = any(t[0] == 322 for t in more)
    tags = [(256, 4, [width]), (257, 4, [height]), (258, 3, [bps]), (259, 3, [compression]),
            (262, 3, [photometric]), (277, 3, [spp]),
            (325 if tiled else 279, 4, [len(data)])] + list(more)
    tags.append((324 if tiled else 273, 4, [0]))
    if not tiled:
        tags.append((278, 4, [height]))
    # First pass to learn where the data lands, second with the real offset.
    head, end = tiff(tags, data)
    tags = [(t, k, [end] if t in (273, 324) else v) for t, k, v in tags]
    head, end = tiff(tags, data)
    return head + data


# ---------------------------------------------------------------------------
# PCX, TARGA and SUN raster


def pcx(width, height, bits, planes, body):
    head = struct.pack("<BBBBHHHHHH", 0x0A, 5, 1, bits, 0, 0, width - 1, height - 1, 72, 72)
    head = head.ljust(65, b"\0") + bytes([planes]) + struct.pack("<HH", (width * bits + 7) // 8, 1)
    return head.ljust(128, b"\0") + body


def tga(image_type, width, height, depth, body, map_length=0):
    return struct.pack("<BBBHHBHHHHBB", 0, 1 if map_length else 0, image_type, 0, map_length,
                       24 if map_length else 0, 0, 0, width, height, depth, 0x20) + body


def sun(width, height, depth, kind, body, map_length=0):
    return struct.pack(">8I", 0x59A66A95, width, height, depth, len(body), kind,
                       1 if map_length else 0, map_length) + body


def main():
    # A run-length BMP that ends at once: 268 MB of pixels from 1 KB.
    write("bmp-rle8-16384.bmp", bmp(SIDE, SIDE, 8, 1, b"\x00\x01", colors=256))
    write("bmp-rle4-16384.bmp", bmp(SIDE, SIDE, 4, 2, b"\x00\x01", colors=16))
    # An uncompressed BMP cut after a few rows' worth of bytes.
    write("bmp-rgb24-16384-cut.bmp", bmp(SIDE, SIDE, 24, 0, bytes(900)))

    # A PNG whose data inflates to far less than it claims.
    write("png-16384-short-data.png", png(SIDE, SIDE, 8, 2, zlib.compress(bytes(60000), 9)))

    # JPEGs of a real small picture whose frame header claims 16384 x 16384.
    for src, name in (("baseline-420.jpg", "jpeg-16384-baseline.jpg"),
                      ("progressive-420.jpg", "jpeg-16384-progressive.jpg")):
        with open(os.path.join(DATA, "jpeg", src), "rb") as f:
            j = bytearray(f.read())
        i = 2
        while i + 9 < len(j):
            if j[i] == 0xFF and j[i + 1] in (0xC0, 0xC2):
                struct.pack_into(">HH", j, i + 5, SIDE, SIDE)
                break
            i += 2 + struct.unpack(">H", j[i + 2:i + 4])[0]
        write(name, bytes(j[:1400]))

    # A palette TIFF claiming 56321 samples per pixel: each strip 4 GB.
    colormap = (320, 3, [i * 257 for i in range(256)] * 3)
    write("tiff-spp-56321.tif",
          tiff_page(2093, 37, 8, 56321, 3, 5, bytes(400), [colormap]))
    # TIFFs of 16384 x 16384 with a kilobyte of data, in each compression and layout.
    write("tiff-16384-none.tif", tiff_page(SIDE, SIDE, 8, 1, 1, 1, bytes(800)))
    write("tiff-16384-lzw.tif", tiff_page(SIDE, SIDE, 8, 1, 1, 5, b"\x80" + bytes(799)))
    write("tiff-16384-packbits.tif", tiff_page(SIDE, SIDE, 8, 1, 1, 32773, b"\x81\x00" * 400))
    write("tiff-16384-deflate.tif",
          tiff_page(SIDE, SIDE, 8, 1, 1, 8, zlib.compress(bytes(200000), 9)))
    write("tiff-16384-tiled.tif",
          tiff_page(SIDE, SIDE, 8, 1, 1, 1, bytes(800), [(322, 4, [SIDE]), (323, 4, [SIDE])]))
    write("tiff-16384-ycbcr.tif", tiff_page(SIDE, SIDE, 8, 3, 6, 1, bytes(800)))

    # An 8 x 8 gray TIFF of one row per strip whose last four strips lie past the end: a
    # file cut short that opens with its first four rows.
    rows = [bytes([16 * y + x for x in range(8)]) for y in range(8)]
    tags = [(256, 4, [8]), (257, 4, [8]), (258, 3, [8]), (259, 3, [1]), (262, 3, [1]),
            (277, 3, [1]), (278, 4, [1]), (273, 4, [0] * 8), (279, 4, [8] * 8)]
    head, end = tiff(tags, b"")
    offsets = [end + 8 * y if y < 4 else end + 4096 + 8 * y for y in range(8)]
    tags = [(t, k, offsets if t == 273 else v) for t, k, v in tags]
    head, end = tiff(tags, b"")
    write("tiff-cut-after-four-rows.tif", head + b"".join(rows[:4]))

    # Run-length files of a kilobyte claiming 16384 x 16384: the longest runs each format
    # allows, over and over, still cover only a sliver of it.
    write("pcx-16384-rle.pcx", pcx(SIDE, SIDE, 8, 1, b"\xff\x07" * 450))
    write("tga-16384-rle.tga", tga(10, SIDE, SIDE, 24, b"\xff\x01\x02\x03" * 220))
    write("sun-16384-rle.ras", sun(SIDE, SIDE, 8, 2, b"\x80\xff\x07" * 300))
    # Runs far past the edge of a small picture, and data cut inside an escape or a packet.
    write("pcx-runs-past-end.pcx", pcx(5, 3, 8, 1, b"\xff\x09" * 40))
    write("sun-rle-cut-in-escape.ras", sun(6, 4, 8, 2, b"\x80\x10\x05" + b"\x80\x10"))
    write("tga-rle-cut-in-packet.tga", tga(10, 6, 4, 24, b"\x85\x01\x02\x03\x7f\x01\x02"))
    # A colour map claiming more than the file holds, and a DCX whose page is its own table.
    write("tga-map-past-end.tga", tga(1, 4, 4, 8, bytes(40), map_length=1000))
    write("dcx-page-is-the-table.dcx", struct.pack("<4I", 0x3ADE68B1, 8, 8, 0) + bytes(200))

    # A layered file of twenty layers, each a small run-length BMP of 8192 x 8192 (64 MB
    # decoded): each fits what its own bytes may cost, together they would take 1.3 GB.
    layer = bmp(8192, 8192, 8, 1, b"\x00\x01", colors=256)
    count = 20
    out = b"QLX " + struct.pack("<HHH", 6, count, 0)
    for k in range(count):
        name = ("Layer %d" % k).encode().ljust(64, b"\0")
        out += struct.pack("<HHHhhII", 82, 0, 0, 0, 0, len(layer), 0) + name + layer
    write("qlx-twenty-large-layers.qlx", out)

    # MacPaint, GEM and Microsoft Paint: headers claiming huge pictures over a kilobyte of the
    # longest runs (GEM's repeated rows of 255 solid runs each), and runs past a page's end.
    gem_row = b"\x00\x00\xff\xff" + b"\xff" * 17 * 8
    write("gem-16384-planes8.img", struct.pack(">8H", 1, 8, 8, 2, 85, 85, SIDE, SIDE) + gem_row * 7)
    write("gem-65535x65535.img", struct.pack(">8H", 1, 8, 1, 2, 85, 85, 65535, 65535) + gem_row)
    write("msp-16384-rle.msp", b"LinS" + struct.pack("<2H", SIDE, SIDE) + bytes(24) +
          b"\x03\x00" * 500)
    # PICT: a long comment whose length runs past the end, before any pixels.
    write("pict-comment-past-end.pct", bytes(512) + struct.pack(">H4hHHH", 0, 0, 0, 100, 100,
                                                                0x0011, 0x02FF, 0x00A1) +
          struct.pack(">HH", 100, 60000) + bytes(200))
    write("macpaint-runs-past-end.mac", bytes(3) + b"\x02" + bytes(508) + b"\xb9\xff" +
          b"\x81\x55" * 1000)


if __name__ == "__main__":
    main()
