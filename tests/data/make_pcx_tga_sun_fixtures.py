#!/usr/bin/env python3
"""Makes the PCX, TARGA and SUN raster test pictures in pcx/, tga/ and sun/, and for each the
pixels ImageMagick reads from it (.pam beside it).

Run once from anywhere; the results are committed. The variants ImageMagick writes come from
it; the ones it does not write (1 bit, planar 16 colours, packed 4 bits, raw data, DCX, top-left
origins, runs across rows, colour maps starting past 0, blue-first SUN files, SUN run-length
escapes) are put together here, and ImageMagick then reads them back as the reference.
"""
import os
import struct
import subprocess
import tempfile

IM = "/usr/bin/convert"
HERE = os.path.dirname(os.path.abspath(__file__))
W, H = 13, 7

# Sixteen colours; the picture uses them in stripes so runs occur, with a flat band for long ones.
COLOURS = [(0, 0, 0), (255, 255, 255), (200, 30, 40), (20, 180, 60), (30, 40, 210), (250, 220, 0),
           (0, 200, 200), (190, 0, 190), (128, 128, 128), (64, 32, 16), (255, 128, 0),
           (0x80, 0x80, 0xC0), (0xC0, 0xC1, 0xC2), (10, 90, 30), (240, 170, 200), (90, 90, 250)]


def index_at(x, y):
    return 3 if y == 2 else (x // 3 + 2 * y) % 16


def indices():
    return [[index_at(x, y) for x in range(W)] for y in range(H)]


def rgb_at(x, y):
    if y == 4:
        return (0xC0, 0xC0, 0xC0)  # a flat row of bytes with both top bits set
    return ((x * 19 + y * 5) % 256, (y * 36 + 0x80) % 256, (x * y * 7 + 0x80) % 256)


def alpha_at(x, y):
    return 255 if x < 4 else (x * 20 + y * 10) % 256


def run(*args):
    subprocess.run([IM, *args], check=True)


def reference(path, frame="", via=None, orient=False):
    """ImageMagick's reading of `path` (or of `via`, the same pixels stored another way), as a
    PAM beside it. ImageMagick keeps a TARGA's rows in stored order unless told to orient them."""
    base = os.path.splitext(path)[0]
    run((via or path) + frame, *(["-auto-orient"] if orient else []), "-depth", "8", base + ".pam")


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def source_ppm(path, alpha=False):
    if alpha:
        head = b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n" % (W, H)
        body = bytes(v for y in range(H) for x in range(W) for v in rgb_at(x, y) + (alpha_at(x, y),))
    else:
        head = b"P6\n%d %d\n255\n" % (W, H)
        body = bytes(v for y in range(H) for x in range(W) for v in rgb_at(x, y))
    write(path, head + body)


def source_palette_ppm(path):
    head = b"P6\n%d %d\n255\n" % (W, H)
    write(path, head + bytes(v for row in indices() for i in row for v in COLOURS[i]))


def pack_bits(values, bits):
    out = bytearray()
    acc, n = 0, 0
    for v in values:
        acc = (acc << bits) | v
        n += bits
        if n == 8:
            out.append(acc)
            acc, n = 0, 0
    if n:
        out.append(acc << (8 - n))
    return bytes(out)


# ---------------------------------------------------------------------------
# PCX


def pcx_rle(data, max_run=63):
    out = bytearray()
    i = 0
    while i < len(data):
        n = 1
        while i + n < len(data) and n < max_run and data[i + n] == data[i]:
            n += 1
        if n > 1 or data[i] >= 0xC0:
            out.append(0xC0 | n)
        out.append(data[i])
        i += n
    return bytes(out)


def pcx(bits, planes, lines, palette16=b"", encoding=1, bpl=None, across_rows=False, tail=b""):
    """lines: one bytes object per row, all planes of the row one after the other."""
    bpl = bpl or len(lines[0]) // planes
    head = struct.pack("<BBBBHHHHHH", 0x0A, 5, encoding, bits, 0, 0, W - 1, H - 1, 96, 96)
    head += palette16.ljust(48, b"\0") + bytes([0, planes]) + struct.pack("<HH", bpl, 1)
    head = head.ljust(128, b"\0")
    if encoding == 0:
        body = b"".join(lines)
    elif across_rows:
        body = pcx_rle(b"".join(lines))
    else:
        body = b"".join(pcx_rle(l) for l in lines)
    return head + body + tail


def make_pcx():
    d = os.path.join(HERE, "pcx")
    os.makedirs(d, exist_ok=True)
    tmp = tempfile.mkdtemp()
    src, pal, rgba = (os.path.join(tmp, n) for n in ("s.ppm", "p.ppm", "a.pam"))
    source_ppm(src)
    source_palette_ppm(pal)
    source_ppm(rgba, alpha=True)
    run(src, os.path.join(d, "rgb24.pcx"))
    run(rgba, os.path.join(d, "rgba32.pcx"))
    run(pal, "-type", "palette", os.path.join(d, "pal8.pcx"))

    idx = indices()
    ega = b"".join(bytes(c) for c in COLOURS)
    # Black and white with a blank header palette, as most 1-bit writers leave it.
    mono = [pack_bits([1 if i in (1, 5, 6, 12, 14) else 0 for i in row], 1) for row in idx]
    mono = [m.ljust(2, b"\0") for m in mono]
    write(os.path.join(d, "mono1.pcx"), pcx(1, 1, mono))
    # Sixteen colours as four planes of one bit, and packed in one plane of four bits.
    planar = []
    for row in idx:
        planar.append(b"".join(pack_bits([(i >> p) & 1 for i in row], 1).ljust(2, b"\0")
                               for p in range(4)))
    write(os.path.join(d, "ega4-planes.pcx"), pcx(1, 4, planar, ega))
    packed = [pack_bits(row, 4).ljust(8, b"\0") for row in idx]
    write(os.path.join(d, "pal4-packed.pcx"), pcx(4, 1, packed, ega))
    # 8 bits without the colour table after the pixels: gray; and runs that go on into the
    # next row, with the table.
    table = b"\x0c" + b"".join(bytes(COLOURS[i % 16]) for i in range(256))
    flat = [bytes(row) + b"\0" for row in idx]
    write(os.path.join(d, "gray8-no-table.pcx"), pcx(8, 1, flat))
    # (the padding byte matches the flat row below it, so one run spans two rows)
    padded = [bytes(row) + b"\3" for row in idx]
    write(os.path.join(d, "pal8-runs-across-rows.pcx"), pcx(8, 1, padded, across_rows=True,
                                                             tail=table))
    # Raw (uncompressed) 24 bits, three planes.
    planes = []
    for y in range(H):
        px = [rgb_at(x, y) for x in range(W)]
        planes.append(b"".join(bytes(p[c] for p in px) + b"\0" for c in range(3)))
    write(os.path.join(d, "rgb24-raw.pcx"), pcx(8, 3, planes, encoding=0))
    # A DCX of two pages: the palette picture first.
    pages = [open(os.path.join(d, n), "rb").read() for n in ("pal8.pcx", "rgb24.pcx")]
    table_size = 4 + 4 * (len(pages) + 1)
    offsets = [table_size, table_size + len(pages[0])]
    write(os.path.join(d, "two-pages.dcx"),
          struct.pack("<I", 0x3ADE68B1) + struct.pack("<3I", *offsets, 0) + b"".join(pages))

    # ImageMagick refuses the first and shows 1-bit files as white on black whatever their
    # palette; these take the indices as gray levels, and 0 as black and 1 as white.
    hand = {"gray8-no-table.pcx": [[(i, i, i) for i in row] for row in idx],
            "mono1.pcx": [[(255,) * 3 if i in (1, 5, 6, 12, 14) else (0,) * 3 for i in row]
                          for row in idx]}
    for name in sorted(os.listdir(d)):
        if name in hand:
            write(os.path.join(d, name[:-4] + ".pam"),
                  b"P7\nWIDTH %d\nHEIGHT %d\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n" % (W, H)
                  + bytes(v for row in hand[name] for px in row for v in px))
        elif name.endswith(".pcx"):
            reference(os.path.join(d, name))
    reference(os.path.join(d, "two-pages.dcx"), "[0]")


# ---------------------------------------------------------------------------
# TARGA


def tga_rle(pixels, px):
    """pixels: bytes of whole pixels of `px` bytes; packets freely cross rows."""
    items = [pixels[i:i + px] for i in range(0, len(pixels), px)]
    out = bytearray()
    i = 0
    while i < len(items):
        n = 1
        while i + n < len(items) and n < 128 and items[i + n] == items[i]:
            n += 1
        if n > 1:
            out += bytes([0x80 | (n - 1)]) + items[i]
            i += n
            continue
        j = i + 1
        while j < len(items) and j - i < 128 and (j + 1 >= len(items) or items[j + 1] != items[j]):
            j += 1
        out += bytes([j - i - 1]) + b"".join(items[i:j])
        i = j
    return bytes(out)


def tga(image_type, depth, rows, descriptor=0, cmap=None, rle=False):
    """rows: pixel bytes of each row in the order stored; cmap = (first, entry bits, bytes)."""
    first, bits, entries = cmap or (0, 0, b"")
    count = len(entries) // ((bits + 7) // 8) if cmap else 0
    head = struct.pack("<BBBHHBHHHHBB", 0, 1 if cmap else 0, image_type | (8 if rle else 0),
                       first, count, bits, 0, 0, W, H, depth, descriptor)
    body = b"".join(rows)
    return head + entries + (tga_rle(body, (depth + 7) // 8) if rle else body)


def make_tga():
    d = os.path.join(HERE, "tga")
    os.makedirs(d, exist_ok=True)
    tmp = tempfile.mkdtemp()
    src, pal, rgba, gray = (os.path.join(tmp, n) for n in ("s.ppm", "p.ppm", "a.pam", "g.pgm"))
    source_ppm(src)
    source_palette_ppm(pal)
    source_ppm(rgba, alpha=True)
    run(src, "-colorspace", "gray", gray)
    run(pal, "-type", "palette", os.path.join(d, "pal8.tga"))
    run(pal, "-type", "palette", "-compress", "RLE", os.path.join(d, "pal8-rle.tga"))
    run(gray, os.path.join(d, "gray8.tga"))
    run(gray, "-compress", "RLE", os.path.join(d, "gray8-rle.tga"))
    run(src, os.path.join(d, "rgb24.tga"))
    run(src, "-compress", "RLE", os.path.join(d, "rgb24-rle.tga"))
    run(rgba, os.path.join(d, "rgba32.tga"))

    # Top-left origin, run-length packets running across rows.
    top = [bytes(v for x in range(W) for v in rgb_at(x, y)[::-1] + (alpha_at(x, y),))
           for y in range(H)]
    write(os.path.join(d, "rgba32-topleft-rle.tga"), tga(2, 32, top, 0x28, rle=True))
    # 5-5-5 with one alpha bit (clear on the left third), bottom row first.
    def word(x, y):
        r, g, b = rgb_at(x, y)
        return struct.pack("<H", (0x8000 if x >= 4 else 0) | (r >> 3) << 10 | (g >> 3) << 5 | b >> 3)
    rows16 = [b"".join(word(x, y) for x in range(W)) for y in reversed(range(H))]
    write(os.path.join(d, "rgb16-alpha1.tga"), tga(2, 16, rows16, 0x01))
    # A colour map of 16-bit entries stored from index 10 on.
    entries = b"".join(struct.pack("<H", 0x8000 | (r >> 3) << 10 | (g >> 3) << 5 | b >> 3)
                       for r, g, b in COLOURS)
    rows8 = [bytes(i + 10 for i in row) for row in reversed(indices())]
    write(os.path.join(d, "pal8-map-from-10.tga"), tga(1, 8, rows8, 0, (10, 16, entries)))

    for name in sorted(os.listdir(d)):
        if name.endswith(".tga"):
            reference(os.path.join(d, name), orient=True)


# ---------------------------------------------------------------------------
# SUN raster


def sun_rle(data):
    out = bytearray()
    i = 0
    while i < len(data):
        n = 1
        while i + n < len(data) and n < 256 and data[i + n] == data[i]:
            n += 1
        if n >= 3 or data[i] == 0x80:
            out += bytes([0x80, n - 1, data[i]]) if n > 1 or data[i] != 0x80 else b"\x80\x00"
        else:
            out += bytes([data[i]]) * n
        i += n
    return bytes(out)


def sun(depth, kind, rows, cmap=b"", rle=False):
    """rows: the stored rows, each already padded to 16 bits."""
    body = b"".join(rows)
    if rle:
        body = sun_rle(body)
    head = struct.pack(">8I", 0x59A66A95, W, H, depth, len(body), 2 if rle else kind,
                       1 if cmap else 0, len(cmap))
    return head + cmap + body


def pad16(b):
    return b + b"\0" * (len(b) & 1)


def make_sun():
    d = os.path.join(HERE, "sun")
    os.makedirs(d, exist_ok=True)
    tmp = tempfile.mkdtemp()
    src, pal, rgba = (os.path.join(tmp, n) for n in ("s.ppm", "p.ppm", "a.pam"))
    source_ppm(src)
    source_palette_ppm(pal)
    source_ppm(rgba, alpha=True)
    run(src, os.path.join(d, "rgb24-rgbtype.ras"))
    run(rgba, os.path.join(d, "rgba32-rgbtype.ras"))
    run(pal, "-type", "palette", os.path.join(d, "pal8.ras"))

    idx = indices()
    bgr = [pad16(bytes(v for x in range(W) for v in rgb_at(x, y)[::-1])) for y in range(H)]
    write(os.path.join(d, "rgb24-standard.ras"), sun(24, 1, bgr))
    # Run-length coded: the flat row holds long runs, and 0x80 bytes need the escape.
    write(os.path.join(d, "rgb24-rle.ras"), sun(24, 1, bgr, rle=True))
    xbgr = [bytes(v for x in range(W) for v in (0,) + rgb_at(x, y)[::-1]) for y in range(H)]
    write(os.path.join(d, "rgb32-zero-pad.ras"), sun(32, 1, xbgr))
    # Without a colour map: 1 bit is black on white, 8 bits gray.
    mono = [pad16(pack_bits([1 if i in (0, 2, 7) else 0 for i in row], 1)) for row in idx]
    write(os.path.join(d, "mono1.ras"), sun(1, 1, mono))
    gray = [pad16(bytes((i * 16 + 0x70) % 256 for i in row)) for row in idx]
    write(os.path.join(d, "gray8.ras"), sun(8, 1, gray))
    cmap = bytes(c[0] for c in COLOURS) + bytes(c[1] for c in COLOURS) + bytes(c[2] for c in COLOURS)
    flat = [pad16(bytes(row)) for row in idx]
    write(os.path.join(d, "pal8-rle.ras"), sun(8, 1, flat, cmap, rle=True))
    raw8 = os.path.join(tmp, "pal8-raw.ras")
    write(raw8, sun(8, 1, flat, cmap))

    # ImageMagick loses the last runs of run-length data and reads its pixels red first;
    # the reference for those is its reading of the same pixels stored raw.
    via = {"rgb24-rle.ras": os.path.join(d, "rgb24-standard.ras"), "pal8-rle.ras": raw8}
    for name in sorted(os.listdir(d)):
        if name.endswith(".ras"):
            reference(os.path.join(d, name), via=via.get(name))


if __name__ == "__main__":
    make_pcx()
    make_tga()
    make_sun()
