#!/usr/bin/env python3
"""Makes the BMP test pictures and, for each, the pixels ImageMagick reads from it (.pam).

Run once from this folder; the results are committed. The common variants are written by
ImageMagick; the ones it cannot write (RLE4, deltas, top-down rows, 5-5-5, bit-field byte
orders, OS/2 2.x headers, short colour tables) are put together here from its output, and
ImageMagick then reads them back as the reference.
"""
import struct
import subprocess

IM = "/usr/bin/convert"


def run(*args):
    subprocess.run([IM, *args], check=True)


def parse(path):
    """Returns (width, height, bpp, palette as (b,g,r) list, rows top-down as bytes)."""
    d = open(path, "rb").read()
    off, hs = struct.unpack("<II", d[10:18])
    w, h, _, bpp, comp = struct.unpack("<iiHHI", d[18:34])
    assert comp == 0, path
    pal = []
    if bpp <= 8:
        n = struct.unpack("<I", d[46:50])[0] or (1 << bpp)
        pal = [tuple(d[14 + hs + 4 * i:14 + hs + 4 * i + 3]) for i in range(n)]
    stride = (w * bpp + 31) // 32 * 4
    rows = [d[off + r * stride:off + (r + 1) * stride] for r in range(abs(h))]
    if h > 0:
        rows.reverse()
    return w, abs(h), bpp, pal, rows


def info_header(w, h, bpp, comp, size_image, clr_used=0, ppm=0):
    return struct.pack("<IiiHHIIiiII", 40, w, h, 1, bpp, comp, size_image, ppm, ppm, clr_used, 0)


def write_bmp(path, header, palette_bytes, pixels):
    off = 14 + len(header) + len(palette_bytes)
    data = b"BM" + struct.pack("<IHHI", off + len(pixels), 0, 0, off) + header + palette_bytes + pixels
    open(path, "wb").write(data)


def quad_palette(pal, count=None):
    pal = pal[: count if count is not None else len(pal)]
    return b"".join(bytes((b, g, r, 0)) for b, g, r in pal)


def indices(row, w, bpp):
    if bpp == 8:
        return list(row[:w])
    return [(row[x // 2] >> (0 if x & 1 else 4)) & 15 for x in range(w)]


def rle_encode(rows, w, bpp, delta_at=None):
    """Encoded runs where pixels repeat, absolute stretches elsewhere, bottom row first.
    delta_at = (row, x, dx, dy): jump over part of the picture there (left as index 0)."""
    out = bytearray()
    rows = [indices(r, w, bpp) for r in rows][::-1]
    r = 0
    while r < len(rows):
        px = rows[r]
        x = 0
        stop = w
        if delta_at and delta_at[0] == r:
            stop = delta_at[1]
        while x < stop:
            n = 1
            if bpp == 8:
                while x + n < stop and n < 255 and px[x + n] == px[x]:
                    n += 1
            else:  # two alternating nibbles
                while x + n < stop and n < 255 and px[x + n] == px[x + (n & 1)]:
                    n += 1
            if n >= 3 or stop - x < 3:
                val = px[x] if bpp == 8 else (px[x] << 4) | (px[x + 1] if n > 1 else 0)
                out += bytes((n, val))
                x += n
                continue
            # absolute stretch until the next repeat
            e = x
            while e < stop and e - x < 255 and not (e + 2 < stop and px[e] == px[e + 1] == px[e + 2]):
                e += 1
            cnt = e - x
            if cnt < 3:
                out += bytes((cnt, px[x] if bpp == 8 else (px[x] << 4) | (px[x + 1] if cnt > 1 else 0)))
                x += cnt
                continue
            out += bytes((0, cnt))
            if bpp == 8:
                body = bytes(px[x:e])
            else:
                nib = px[x:e] + [0]
                body = bytes((nib[i] << 4) | nib[i + 1] for i in range(0, cnt, 2))
            out += body + (b"\0" if len(body) & 1 else b"")
            x = e
        if delta_at and delta_at[0] == r:
            _, _, dx, dy = delta_at
            out += bytes((0, 2, dx, dy))
            # finish the row the pen landed on from its new position, then carry on
            r += dy
            x = delta_at[1] + dx
            px = rows[r]
            while x < w:
                val = px[x] if bpp == 8 else (px[x] << 4) | (px[x + 1] if x + 1 < w else 0)
                n = 1 if bpp == 8 else min(2, w - x)
                out += bytes((n, val))
                x += n
        out += b"\0\0"
        r += 1
    out[-2:] = b"\0\1"  # end of bitmap replaces the last end of line
    return bytes(out)


def main():
    src = "../png/source.png"  # the shared test picture, made by the PNG fixture script
    alpha_src = "../png/source-alpha.png"
    # Written by ImageMagick.
    run(src, "+dither", "-colors", "2", "-type", "Palette", "BMP3:pal1.bmp")
    run(src, "+dither", "-colors", "16", "-type", "Palette", "BMP3:pal4.bmp")
    run(src, "-colors", "200", "-type", "Palette", "-compress", "None", "BMP3:pal8.bmp")
    run(src, "-colors", "200", "-type", "Palette", "-compress", "RLE", "BMP3:rle8.bmp")
    run(src, "-type", "TrueColor", "-density", "300", "-units", "PixelsPerInch", "BMP3:rgb24-300dpi.bmp")
    run(alpha_src, "-depth", "8", "-define", "bmp3:alpha=true", "BMP3:rgb32-alpha.bmp")
    run(alpha_src, "-depth", "8", "BMP:v5-bitfields32-alpha.bmp")
    run(src, "-alpha", "off", "-depth", "8", "-define", "bmp:subtype=RGB565", "BMP:v5-bitfields565.bmp")
    run(src, "+dither", "-colors", "2", "-type", "Palette", "BMP2:os2-pal1.bmp")
    run(src, "+dither", "-colors", "16", "-type", "Palette", "BMP2:os2-pal4.bmp")
    run(src, "-colors", "200", "-type", "Palette", "BMP2:os2-pal8.bmp")
    run(src, "-type", "TrueColor", "BMP2:os2-rgb24.bmp")

    # Put together here.
    w, h, _, pal4, rows4 = parse("pal4.bmp")
    _, _, _, pal8, rows8 = parse("pal8.bmp")
    _, _, _, _, rows24 = parse("rgb24-300dpi.bmp")
    rle = rle_encode(rows4, w, 4)
    write_bmp("rle4.bmp", info_header(w, h, 4, 2, len(rle), 16), quad_palette(pal4), rle)
    rle = rle_encode(rows4, w, 4, delta_at=(3, 5, 4, 2))
    write_bmp("rle4-delta.bmp", info_header(w, h, 4, 2, len(rle), 16), quad_palette(pal4), rle)
    rle = rle_encode(rows8, w, 8, delta_at=(6, 9, 3, 4))
    write_bmp("rle8-delta.bmp", info_header(w, h, 8, 1, len(rle), len(pal8)), quad_palette(pal8), rle)

    top24 = b"".join(rows24)
    write_bmp("rgb24-topdown.bmp", info_header(w, -h, 24, 0, len(top24)), b"", top24)
    top8 = b"".join(rows8)
    write_bmp("pal8-topdown.bmp", info_header(w, -h, 8, 0, len(top8), len(pal8)), quad_palette(pal8), top8)

    used = max(max(indices(r, w, 8)) for r in rows8) + 1
    bottom8 = b"".join(rows8[::-1])
    write_bmp("pal8-short-table.bmp", info_header(w, h, 8, 0, len(bottom8), used), quad_palette(pal8, used), bottom8)

    os2v2 = struct.pack("<IiiHHIIiiII", 64, w, h, 1, 8, 0, len(bottom8), 0, 0, len(pal8), 0) + bytes(24)
    write_bmp("os2v2-pal8.bmp", os2v2, quad_palette(pal8), bottom8)

    def rgb_pixels(fmt):
        out = bytearray()
        for row in rows24[::-1]:
            line = bytearray()
            for x in range(w):
                b, g, r = row[3 * x:3 * x + 3]
                line += fmt(r, g, b)
            line += bytes(-len(line) % 4)
            out += line
        return bytes(out)

    p555 = rgb_pixels(lambda r, g, b: struct.pack("<H", ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3)))
    write_bmp("rgb555.bmp", info_header(w, h, 16, 0, len(p555)), b"", p555)
    p32 = rgb_pixels(lambda r, g, b: bytes((b, g, r, 0)))
    write_bmp("rgb32-zero-alpha.bmp", info_header(w, h, 32, 0, len(p32)), b"", p32)
    # Red in the low byte: the masks, not the byte order, say where each colour is.
    prgb = rgb_pixels(lambda r, g, b: bytes((r, g, b, 0)))
    masks = struct.pack("<III", 0x000000FF, 0x0000FF00, 0x00FF0000)
    write_bmp("bitfields32-rgb-order.bmp", info_header(w, h, 32, 3, len(prgb)), masks, prgb)

    # 16-bit pixels with alpha. ImageMagick's own 1-5-5-5 and 4-4-4-4 files do not read
    # back as the picture it wrote, and it widens 4-bit fields by shifting (15 -> 240), so
    # these are made here and their reference is worked out here from the same numbers.
    rgba = subprocess.run([IM, alpha_src, "-depth", "8", "rgba:-"], check=True, capture_output=True).stdout
    quantised = {
        "v4-bitfields1555-alpha": ((0x7C00, 0x03E0, 0x001F, 0x8000), (5, 5, 5, 1)),
        "v4-bitfields4444-alpha": ((0x0F00, 0x00F0, 0x000F, 0xF000), (4, 4, 4, 4)),
    }
    for name, (m, bits) in quantised.items():
        pixels = bytearray()
        ref = bytearray()
        for y in range(h):
            for x in range(w):
                c = rgba[4 * (y * w + x):4 * (y * w + x) + 4]
                fields = [c[i] >> (8 - bits[i]) for i in range(4)]
                ref += bytes(round(fields[i] * 255 / ((1 << bits[i]) - 1)) for i in range(4))
        for y in reversed(range(h)):
            line = bytearray()
            for x in range(w):
                c = rgba[4 * (y * w + x):4 * (y * w + x) + 4]
                v = 0
                for i, mask in enumerate(m):
                    shift = (mask & -mask).bit_length() - 1
                    v |= (c[i] >> (8 - bits[i])) << shift
                line += struct.pack("<H", v)
            pixels += line + bytes(-len(line) % 4)
        v4 = struct.pack("<IiiHHIIiiII", 108, w, h, 1, 16, 3, len(pixels), 0, 0, 0, 0)
        v4 += struct.pack("<4I", *m) + b"sRGB"[::-1] + bytes(36 + 12)
        write_bmp(name + ".bmp", v4, b"", bytes(pixels))
        open(name + ".pam", "wb").write(
            f"P7\nWIDTH {w}\nHEIGHT {h}\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n".encode() + bytes(ref))

    # The reference pixels, as ImageMagick reads them.
    import glob
    for f in sorted(glob.glob("*.bmp")):
        if not f.startswith("v4-"):
            run(f, "-depth", "8", f[:-4] + ".pam")
    # ImageMagick misreads 64-byte OS/2 2.x headers; the picture is the one in pal8.bmp.
    open("os2v2-pal8.pam", "wb").write(open("pal8.pam", "rb").read())


if __name__ == "__main__":
    main()
