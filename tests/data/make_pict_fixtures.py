#!/usr/bin/env python3
"""Makes the Macintosh PICT test pictures in pict/ and beside each the pixels ImageMagick
reads from it (.pam). Run once from anywhere; the results are committed.

ImageMagick writes the version 2 ones of 8 and 24 bits (and one of an 8-bit pixel map with
two colours); the others (version 1 with a packed bitmap, a 4-bit
pixel map, comments and clip regions to step over) are put together here
and ImageMagick reads them back as the reference (but for the version 1 file, which it
reads as all black).
"""
import os
import struct
import subprocess

IM = "convert"
HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pict")
SAMPLE = os.path.join(os.path.dirname(HERE), "sample.png")
W, H = 37, 23


def run(*args):
    subprocess.run([IM, *args], check=True)


def reference(name):
    run("PICT:" + os.path.join(HERE, name), os.path.join(HERE, os.path.splitext(name)[0] + ".pam"))


def packbits(row):
    out = b""
    i = 0
    while i < len(row):
        j = i
        while j < len(row) and j - i < 128 and row[j] == row[i]:
            j += 1
        if j - i >= 3:
            out += bytes([257 - (j - i), row[i]])
            i = j
            continue
        j = i
        while j < len(row) and j - i < 128 and not (j + 2 < len(row) and row[j] == row[j + 1] == row[j + 2]):
            j += 1
        out += bytes([j - i - 1]) + bytes(row[i:j])
        i = j
    return out


def rect(w, h):
    return struct.pack(">4h", 0, 0, h, w)


os.makedirs(HERE, exist_ok=True)
small = os.path.join(HERE, "small.png")
run(SAMPLE, "-resize", "%dx%d!" % (W, H), small)
run(small, "PICT:" + os.path.join(HERE, "im-rgb24.pct"))
run(small, "-colors", "200", "-type", "palette", "PICT:" + os.path.join(HERE, "im-pal8.pct"))
run(small, "-colors", "2", "-type", "palette", "PICT:" + os.path.join(HERE, "im-two-colours.pct"))
os.remove(small)

# Version 1: a clip region, a comment, then a packed bitmap of
# 1-bit rows (16 bytes wide, more than eight, so packed) with a byte count each.
rb = 16
bits = [bytes(((x * 7 + y * 3) % 256) if x < 5 else (0xFF if y % 3 == 0 else 0) for x in range(rb))
        for y in range(H)]
body = b"\x01" + struct.pack(">H", 10) + rect(W, H)  # clip
body += b"\xa0" + struct.pack(">H", 100)  # short comment (byte opcode, word data)
body += b"\x98" + struct.pack(">H", rb) + rect(rb * 8, H) + rect(W, H) + rect(W, H) + b"\x00\x00"
for row in bits:
    p = packbits(row)
    body += bytes([len(p)]) + p
body += b"\xff"
v1 = bytes(512) + struct.pack(">H", 0) + rect(W, H) + b"\x11\x01" + body
with open(os.path.join(HERE, "v1-bitmap.pct"), "wb") as f:
    f.write(v1)
# ImageMagick reads this one as all black, so its test checks pixels of the pattern instead.

# Version 2: a 4-bit pixel map of sixteen colours, after a long comment.
def v2(ops):
    out = bytes(512) + struct.pack(">H", 0) + rect(W, H) + struct.pack(">HH", 0x0011, 0x02FF)
    out += struct.pack(">H", 0x0C00) + struct.pack(">hH", -2, 0) + struct.pack(">II", 72 << 16, 72 << 16)
    out += rect(W, H) + bytes(4)
    out += struct.pack(">H", 0x001E) + struct.pack(">HH", 0x00A1, 100) + struct.pack(">H", 3) + b"abc"
    if len(out) & 1:
        out += b"\0"
    out += ops
    if len(out) & 1:
        out += b"\0"
    return out + struct.pack(">H", 0x00FF)


def pixmap(rowbytes, w, h, pack_type, pixel_type, size, comps, comp_size):
    return (struct.pack(">H", 0x8000 | rowbytes) + rect(w, h) +
            struct.pack(">HHIIIHHHHIII", 0, pack_type, 0, 72 << 16, 72 << 16, pixel_type, size,
                        comps, comp_size, 0, 0, 0))


top = H
colours = [(i * 17, 255 - i * 13, (i * 91) % 256) for i in range(16)]
table = struct.pack(">IHH", 0, 0, 15) + b"".join(
    struct.pack(">4H", i, r * 257, g * 257, b * 257) for i, (r, g, b) in enumerate(colours))
rb4 = 20
op4 = struct.pack(">H", 0x98) + pixmap(rb4, W, top, 0, 0, 4, 1, 4) + table
op4 += rect(W, top) + rect(W, top) + b"\x00\x00"
for y in range(top):
    row = bytearray(rb4)
    for x in range(W):
        v = (x // 3 + y) % 16
        row[x // 2] |= v << 4 if x % 2 == 0 else v
    p = packbits(bytes(row))
    op4 += bytes([len(p)]) + p
if len(op4) & 1:
    op4 += b"\0"
with open(os.path.join(HERE, "v2-pal4.pct"), "wb") as f:
    f.write(v2(op4))
for name in ("im-rgb24.pct", "im-pal8.pct", "im-two-colours.pct", "v2-pal4.pct"):
    reference(name)
