#!/usr/bin/env python3
"""Makes the MacPaint, GEM and Microsoft Paint test pictures in mono/, and beside each the
pixels netpbm reads from it (.pbm for black and white, .ppm for colour).

Run once from anywhere (needs netpbm: pbmtomacp, macptopbm, pbmtogem, gemtopnm); the results
are committed. netpbm writes the plain MacPaint and one-plane GEM files; the others (a
MacBinary header, four planes with every kind of run, Microsoft Paint of both versions) are
put together here, and netpbm reads the MacPaint and GEM ones back as the reference. netpbm
has no Microsoft Paint reader: the reference of those is the picture they were made from.
"""
import os
import struct
import subprocess

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "mono")


def picture(w, h):
    """Rows of 0/1 (1 black): stripes, a full row, a black block, a lone pixel at the end."""
    rows = []
    for y in range(h):
        rows.append([1 if ((x // 3 + y) % 4 == 0 or y == 5 or (x > w * 2 // 3 and y > h * 2 // 3)
                           or (x == w - 1 and y == h - 1)) else 0 for x in range(w)])
    return rows


def pack_rows(rows, w, invert=False):
    out = []
    for r in rows:
        b = bytearray((w + 7) // 8)
        for x, v in enumerate(r):
            if v != invert:
                b[x // 8] |= 0x80 >> (x % 8)
        out.append(bytes(b))
    return out


def pbm(rows, w):
    return b"P4\n%d %d\n" % (w, len(rows)) + b"".join(pack_rows(rows, w))


def to_255(pnm):
    """netpbm's colour output with maxval 255."""
    return subprocess.run(["pamdepth", "255"], input=pnm, capture_output=True, check=True).stdout


def netpbm(tool, data):
    return subprocess.run([tool], input=data, capture_output=True, check=True).stdout


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


os.makedirs(HERE, exist_ok=True)

# MacPaint: netpbm's own file, then the same behind a MacBinary header.
corner = picture(61, 40)
page = [r + [0] * (576 - 61) for r in corner] + [[0] * 576 for _ in range(720 - 40)]
page[719][575] = 1
mac = netpbm("pbmtomacp", pbm(page, 576))
write("netpbm.mac", mac)
write("netpbm.pbm", netpbm("macptopbm", mac))
name = b"Picture"
mb = bytearray(128)
mb[1] = len(name)
mb[2:2 + len(name)] = name
mb[65:69] = b"PNTG"
mb[69:73] = b"MPNT"
mb[83:87] = struct.pack(">I", len(mac))
data = bytes(mb) + mac + bytes((-len(mac)) % 128)
write("macbinary.mac", data)
# netpbm reads the same pixels through the MacBinary header.
assert netpbm("macptopbm", data) == netpbm("macptopbm", mac)

# GEM, one plane: netpbm's own file.
W, H = 37, 23
small = picture(W, H)
gem = netpbm("pbmtogem", pbm(small, W))
write("netpbm1.img", gem)
write("netpbm1.pbm", netpbm("gemtopnm", gem))

# GEM, four planes: pixel value (x // 2 + y) % 16, coded with each kind of item. Rows 3 to 5
# are one row repeated; row 7 is a pattern run; planes that are all 0 or all 1 are solid runs.
W4, H4 = 32, 9
def value(x, y):
    return 9 if y == 7 else (x // 2 + (5 if 3 <= y <= 5 else y)) % 16
body = b""
y = 0
while y < H4:
    if y == 3:
        body += b"\x00\x00\xff\x03"
    for p in range(4):
        bits = bytearray(W4 // 8)
        for x in range(W4):
            if value(x, y) >> p & 1:
                bits[x // 8] |= 0x80 >> (x % 8)
        if y == 7:  # 9 = planes 0 and 3 set, 1 and 2 clear: solid runs of 4 bytes
            body += bytes([0x84 if bits[0] else 0x04])
        elif y == 8 and p == 0:  # a pattern of 2 bytes, twice
            body += b"\x00\x02" + bytes(bits[:2])
        else:
            body += b"\x80" + bytes([len(bits)]) + bytes(bits)
    y += 3 if y == 3 else 1
gem4 = struct.pack(">8H", 1, 8, 4, 2, 85, 85, W4, H4) + body
write("planes4.img", gem4)
write("planes4.ppm", to_255(netpbm("gemtopnm", gem4)))

# Microsoft Paint: version 1 raw, version 2 coded (runs, literals, an empty row that is
# white). Set bits are white.
msp_rows = pack_rows(small, W, invert=True)
def msp_header(key, w, h):
    words = list(struct.unpack("<2H", key)) + [w, h, 1, 1, 1, 1, w, h, 0, 0]
    check = 0
    for v in words:
        check ^= v
    return struct.pack("<12H", *words) + struct.pack("<H", check) + bytes(6)
write("v1.msp", msp_header(b"DanM", W, H) + b"".join(msp_rows))
coded = []
for i, r in enumerate(msp_rows):
    if i == 0:
        coded.append(b"")  # no codes: all white
    elif r[0] == r[1] == r[2]:
        coded.append(b"\x00\x03" + r[:1] + bytes([len(r) - 3]) + r[3:])
    else:
        coded.append(bytes([len(r)]) + r)
small_v2 = [[0] * W] + small[1:]
write("v2.msp", msp_header(b"LinS", W, H) + b"".join(struct.pack("<H", len(c)) for c in coded) +
      b"".join(coded))
write("v1.pbm", pbm(small, W))
write("v2.pbm", pbm(small_v2, W))
