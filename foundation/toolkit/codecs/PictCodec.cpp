// Macintosh PICT pictures: QuickDraw's drawing commands, of which we take the pixel images
// (BitsRect, PackBitsRect, DirectBitsRect and their region forms) and skip the rest by the
// data length each command has. Version 1 has one-byte commands; version 2 two-byte commands
// with data kept to even offsets. Files usually start with 512 bytes that belong to the
// application that wrote them; pictures taken from the clipboard do not.
//
// Reading: 1, 2, 4 and 8-bit indexed images with their colour tables (2-bit ones become 4),
// 16 and 32-bit direct images, packed or not; each is drawn where its destination rectangle
// says, scaled by nearest pixel when it differs from the source. A picture of indexed images
// sharing one colour table keeps its indices, any other becomes 24 bits on white. A command
// whose data runs past the end stops the picture there: what was drawn is kept, a picture
// with nothing drawn fails.
//
// Writing: version 2 with an extended header, one PackBitsRect with the bitmap's colour table
// for 1, 4 and 8 bits, one DirectBitsRect packed by component for 24 bits.
#include <algorithm>
#include <cstring>
#include <new>

#include "ByteReader.h"
#include "Codec.h"
#include "PackBits.h"

namespace lt::codec {
namespace {

constexpr int kProgressBand = 64;
constexpr int kMaxRowBytes = 0x3FFF;

struct Rect {
    int top = 0, left = 0, bottom = 0, right = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

Rect ReadRect(ByteReader& r) {
    Rect q;
    q.top = int16_t(r.u16be());
    q.left = int16_t(r.u16be());
    q.bottom = int16_t(r.u16be());
    q.right = int16_t(r.u16be());
    return q;
}

struct PixOp {
    bool direct = false, packed = false;
    int rowBytes = 0, pixelSize = 1, packType = 0, cmpCount = 1, dpi = 0;
    Rect bounds, src, dst;
    int colours = 2;
    RGBQUAD table[256] = {};
    size_t data = 0; // offset of the first row
    int rows = 0;    // rows present in the file
    bool operator==(const PixOp&) const = delete;
};

struct Picture {
    int version = 0;
    Rect frame;
    std::vector<PixOp> ops;
    bool cut = false; // a command ran past the end
    int depth = 24;   // what the bitmap gets
};

// The bytes of one row in the file after unpacking.
size_t UnpackedBytes(const PixOp& op) {
    const size_t w = size_t(op.bounds.Width());
    if (op.direct && op.pixelSize == 32 && op.packed && op.packType != 1)
        return w * size_t(op.cmpCount);
    if (op.direct && op.packType == 2) return w * 3;
    return size_t(op.rowBytes);
}

// Reads the record of a pixel command after its opcode; false when it is malformed.
bool ReadPixOp(ByteReader& r, int opcode, PixOp& op) {
    op.direct = opcode == 0x9A || opcode == 0x9B;
    const bool region = opcode & 1;
    if (op.direct) r.skip(4); // base address
    const unsigned rb = r.u16be();
    const bool pixmap = op.direct || (rb & 0x8000);
    op.rowBytes = int(rb & 0x3FFF);
    op.bounds = ReadRect(r);
    if (pixmap) {
        r.skip(2); // version
        op.packType = r.u16be();
        r.skip(4); // packed size
        op.dpi = int(r.u32be() >> 16);
        r.skip(4 + 2); // vertical resolution, pixel type
        op.pixelSize = r.u16be();
        op.cmpCount = r.u16be();
        r.skip(2 + 4 + 4 + 4); // component size, plane bytes, table handle, reserved
        if (!op.direct) {
            r.skip(4); // seed
            const unsigned flags = r.u16be();
            const int entries = int(r.u16be()) + 1;
            if (!r.ok() || entries > 256 || !r.has(size_t(entries) * 8)) return false;
            op.colours = entries;
            for (int i = 0; i < entries; ++i) {
                const unsigned value = r.u16be();
                const uint8_t red = uint8_t(r.u16be() >> 8), green = uint8_t(r.u16be() >> 8),
                              blue = uint8_t(r.u16be() >> 8);
                const unsigned at = flags & 0x8000 ? unsigned(i) : value & 0xFF;
                op.table[at] = RGBQUAD{blue, green, red, 0};
            }
            op.colours = std::max(entries, 1 << std::min(op.pixelSize, 8));
        }
    } else {
        op.pixelSize = 1;
        op.table[0] = RGBQUAD{255, 255, 255, 0};
        op.table[1] = RGBQUAD{0, 0, 0, 0};
    }
    op.src = ReadRect(r);
    op.dst = ReadRect(r);
    r.skip(2); // transfer mode
    if (region) {
        const unsigned n = r.u16be();
        if (n < 10) return false;
        r.skip(n - 2);
    }
    if (!r.ok()) return false;
    const int w = op.bounds.Width(), h = op.bounds.Height();
    if (w <= 0 || h <= 0 || op.src.Width() <= 0 || op.src.Height() <= 0 || op.dst.Width() <= 0 ||
        op.dst.Height() <= 0)
        return false;
    const int ps = op.pixelSize;
    if (op.direct ? ps != 16 && ps != 32 : ps != 1 && ps != 2 && ps != 4 && ps != 8) return false;
    if (op.direct && ps == 32 && op.cmpCount != 3 && op.cmpCount != 4) return false;
    if (!op.direct) op.cmpCount = 1;
    // Rows shorter than eight bytes are never packed; a direct picture may say it is not.
    op.packed = opcode >= 0x98 && op.rowBytes >= 8 &&
                !(op.direct && (op.packType == 1 || op.packType == 2));
    if (op.direct && ps == 32 && op.rowBytes < 8) op.packType = 1;
    const uint64_t need =
        op.direct && op.packType == 2 ? uint64_t(w) * 4 : (uint64_t(w) * ps + 7) / 8;
    return op.rowBytes <= kMaxRowBytes && uint64_t(op.rowBytes) >= need && op.rowBytes > 0;
}

// Steps over the pixel rows of `op`, counting those that are there.
void SkipRows(ByteReader& r, PixOp& op) {
    op.data = r.pos();
    const int h = op.bounds.Height();
    for (op.rows = 0; op.rows < h; ++op.rows) {
        size_t n = UnpackedBytes(op);
        if (op.packed) n = op.rowBytes > 250 ? r.u16be() : r.u8();
        if (!r.skip(n)) return;
    }
}

// The length of the data of a command we do not draw, after its opcode; false when unknown
// or past the end.
bool SkipCommand(ByteReader& r, int op, int version) {
    auto lengthWord = [&] { return r.skip(r.u16be()); };
    auto sizedWord = [&] { // a size that counts itself
        const unsigned n = r.u16be();
        return n >= 2 && r.skip(n - 2);
    };
    auto text = [&](size_t before) { return r.skip(before) && r.skip(r.u8()); };
    if (op >= 0x8100) return r.skip(r.u32be());
    if (op >= 0x8000) return true;
    if (op >= 0x100) return r.skip(size_t(op >> 8) * 2);
    switch (op) {
        case 0x00:
        case 0x17:
        case 0x18:
        case 0x19:
        case 0x1C:
        case 0x1E:
        case 0xFF: return true;
        case 0x01: return sizedWord(); // clip region
        case 0x02:
        case 0x09:
        case 0x0A:
        case 0x10:
        case 0x20: return r.skip(8);
        case 0x03:
        case 0x05:
        case 0x08:
        case 0x0D:
        case 0x15:
        case 0x16:
        case 0x23:
        case 0xA0: return r.skip(2);
        case 0x04: return r.skip(1);
        case 0x06:
        case 0x07:
        case 0x0B:
        case 0x0C:
        case 0x0E:
        case 0x0F:
        case 0x21: return r.skip(4);
        case 0x11: return r.skip(version == 1 ? 1 : 2);
        case 0x1A:
        case 0x1B:
        case 0x1D:
        case 0x1F:
        case 0x22: return r.skip(6);
        case 0x28: return text(4);
        case 0x29:
        case 0x2A: return text(1);
        case 0x2B: return text(2);
        case 0xA1: return r.skip(2) && lengthWord(); // long comment: kind, size, data
        case 0x12:
        case 0x13:
        case 0x14: return false; // pixel patterns: not worth reading
        default: break;
    }
    if (op >= 0x24 && op <= 0x2F) return lengthWord();
    if (op >= 0x30 && op <= 0x37) return r.skip(8);
    if (op >= 0x38 && op <= 0x3F) return true;
    if (op >= 0x40 && op <= 0x47) return r.skip(8);
    if (op >= 0x48 && op <= 0x4F) return true;
    if (op >= 0x50 && op <= 0x57) return r.skip(8);
    if (op >= 0x58 && op <= 0x5F) return true;
    if (op >= 0x60 && op <= 0x67) return r.skip(12);
    if (op >= 0x68 && op <= 0x6F) return r.skip(4);
    if (op >= 0x70 && op <= 0x77) return sizedWord(); // polygons
    if (op >= 0x78 && op <= 0x7F) return true;
    if (op >= 0x80 && op <= 0x87) return sizedWord(); // regions
    if (op >= 0x88 && op <= 0x8F) return true;
    if ((op >= 0x92 && op <= 0x97) || (op >= 0x9C && op <= 0x9F) || (op >= 0xA2 && op <= 0xAF))
        return lengthWord();
    if (op >= 0xB0 && op <= 0xCF) return true;
    if (op >= 0xD0 && op <= 0xFE) return r.skip(r.u32be());
    return false;
}

// Where the picture's size word is: after the application's 512 bytes, or at the start.
bool FindStart(const uint8_t* d, size_t size, size_t* start, int* version) {
    for (size_t base : {size_t(512), size_t(0)}) {
        if (size < base + 14) continue;
        const uint8_t* v = d + base + 10;
        if (v[0] == 0x11 && v[1] == 0x01) {
            *start = base;
            *version = 1;
            return true;
        }
        if (v[0] == 0x00 && v[1] == 0x11 && v[2] == 0x02 && v[3] == 0xFF) {
            *start = base;
            *version = 2;
            return true;
        }
    }
    return false;
}

bool SameTables(const PixOp& a, const PixOp& b) {
    return !a.direct && !b.direct && a.pixelSize == b.pixelSize && a.colours == b.colours &&
           std::memcmp(a.table, b.table, sizeof a.table) == 0;
}

int Parse(const uint8_t* d, size_t size, Picture& p) {
    size_t start = 0;
    if (!FindStart(d, size, &start, &p.version)) return ERROR_FILE_FORMAT;
    ByteReader r(d, size);
    r.seek(start + 2);
    p.frame = ReadRect(r);
    r.skip(p.version == 1 ? 2 : 4);
    if (p.frame.Width() <= 0 || p.frame.Height() <= 0) return ERROR_FILE_FORMAT;
    for (;;) {
        if (p.version == 2 && (r.pos() & 1)) r.skip(1);
        const int op = p.version == 1 ? r.u8() : r.u16be();
        if (!r.ok()) {
            p.cut = true;
            break;
        }
        if (op == 0xFF) break;
        if (op == 0x90 || op == 0x91 || (op >= 0x98 && op <= 0x9B)) {
            if (op == 0x9A && p.version == 1) return ERROR_FILE_FORMAT;
            PixOp px;
            if (!ReadPixOp(r, op, px)) {
                p.cut = true;
                break;
            }
            SkipRows(r, px);
            // A picture's worth of commands: more is not a real file.
            if (px.rows > 0) {
                if (p.ops.size() >= 4096) return ERROR_FILE_FORMAT;
                p.ops.push_back(px);
            }
            if (px.rows < px.bounds.Height()) {
                p.cut = true;
                break;
            }
            continue;
        }
        if (!SkipCommand(r, op, p.version)) {
            p.cut = true;
            break;
        }
    }
    if (p.ops.empty()) return ERROR_FILE_FORMAT;
    const PixOp& first = p.ops.front();
    p.depth = 24;
    if (std::all_of(p.ops.begin(), p.ops.end(),
                    [&](const PixOp& o) { return SameTables(o, first); }))
        p.depth = first.pixelSize == 1 ? 1 : first.pixelSize <= 4 ? 4 : 8;
    return SUCCESS;
}

bool Sniff(const uint8_t* d, size_t size) {
    size_t start;
    int version;
    return FindStart(d, size, &start, &version);
}

int Info(const uint8_t* d, size_t size, FILEINFO* info) {
    Picture p;
    int rc = Parse(d, size, p);
    if (rc != SUCCESS) return rc;
    info->Format = FILE_PICT;
    info->Width = p.frame.Width();
    info->Height = p.frame.Height();
    info->BitsPerPixel = p.depth;
    info->Colors = p.depth <= 8 ? 1 << p.depth : 0;
    info->Compression = p.ops.front().packed ? 1 : 0;
    info->Passes = 1;
    info->XResolution = info->YResolution = p.ops.front().dpi > 0 ? p.ops.front().dpi : 72;
    return SUCCESS;
}

// Unpacks one row of `op` from [p, p + n) into `out` (UnpackedBytes long).
void UnpackRow(const PixOp& op, const uint8_t* p, size_t n, uint8_t* out, size_t bytes) {
    std::memset(out, 0, bytes);
    if (!op.packed) {
        std::memcpy(out, p, std::min(n, bytes));
        return;
    }
    if (op.direct && op.pixelSize == 16) {
        // Runs of words rather than bytes.
        const uint8_t* end = p + n;
        size_t at = 0;
        while (p < end && at < bytes) {
            const uint8_t c = *p++;
            if (c < 128) {
                const size_t m = std::min({size_t(c + 1) * 2, size_t(end - p), bytes - at});
                std::memcpy(out + at, p, m);
                at += m;
                p += size_t(c + 1) * 2;
            } else if (c > 128) {
                if (end - p < 2) return;
                for (int k = 0; k < 257 - c && at + 1 < bytes; ++k, at += 2) {
                    out[at] = p[0];
                    out[at + 1] = p[1];
                }
                p += 2;
            }
        }
        return;
    }
    PackBitsReader reader(p, p + n);
    reader.Next(out, bytes); // a short row keeps its zeros
}

BGRA SourcePixel(const PixOp& op, const uint8_t* row, int x, unsigned* index) {
    if (!op.direct) {
        const int ps = op.pixelSize, bit = x * ps;
        *index = unsigned(row[bit >> 3] >> (8 - ps - (bit & 7))) & ((1u << ps) - 1);
        const RGBQUAD q = op.table[*index];
        return {q.rgbBlue, q.rgbGreen, q.rgbRed, 255};
    }
    if (op.pixelSize == 16) {
        const unsigned v = unsigned(row[2 * x] << 8 | row[2 * x + 1]);
        auto five = [](unsigned c) { return uint8_t((c << 3) | (c >> 2)); };
        return {five(v & 31), five((v >> 5) & 31), five((v >> 10) & 31), 255};
    }
    const size_t w = size_t(op.bounds.Width());
    if (op.packed && op.packType != 1) { // planes of red, green, blue (alpha first when four)
        const size_t o = op.cmpCount == 4 ? w : 0;
        return {row[o + 2 * w + size_t(x)], row[o + w + size_t(x)], row[o + size_t(x)], 255};
    }
    if (op.packType == 2) return {row[3 * x + 2], row[3 * x + 1], row[3 * x], 255};
    return {row[4 * x + 3], row[4 * x + 2], row[4 * x + 1], 255};
}

// Draws `op` into the bitmap, whose top left is the frame's.
void Draw(const uint8_t* d, size_t size, const Picture& p, const PixOp& op, BITMAPHANDLE* out,
          std::vector<uint8_t>& row) {
    const size_t bytes = UnpackedBytes(op);
    row.resize(bytes);
    ByteReader r(d, size);
    r.seek(op.data);
    int decoded = -1; // the bounds row in `row`
    const int y0 = std::max(op.dst.top, p.frame.top), y1 = std::min(op.dst.bottom, p.frame.bottom);
    const int x0 = std::max(op.dst.left, p.frame.left), x1 = std::min(op.dst.right, p.frame.right);
    for (int y = y0; y < y1; ++y) {
        const int sy =
            op.src.top + int(int64_t(y - op.dst.top) * op.src.Height() / op.dst.Height());
        const int by = sy - op.bounds.top;
        if (by < 0) continue;
        if (by >= op.rows) break;
        while (decoded < by) {
            size_t n = bytes;
            if (op.packed) n = op.rowBytes > 250 ? r.u16be() : r.u8();
            UnpackRow(op, r.here(), std::min(n, r.remaining()), row.data(), bytes);
            r.skip(n);
            ++decoded;
        }
        uint8_t* dst = L_RowPtr(out, y - p.frame.top);
        for (int x = x0; x < x1; ++x) {
            const int sx =
                op.src.left + int(int64_t(x - op.dst.left) * op.src.Width() / op.dst.Width());
            const int bx = sx - op.bounds.left;
            if (bx < 0 || bx >= op.bounds.Width()) continue;
            unsigned index = 0;
            const BGRA c = SourcePixel(op, row.data(), bx, &index);
            if (out->BitsPerPixel <= 8)
                WriteIndex(dst, x - p.frame.left, out->BitsPerPixel, index);
            else
                WritePixel(out, dst, x - p.frame.left, c, false);
        }
    }
}

int Load(const uint8_t* d, size_t size, BITMAPHANDLE* out, LoadContext& ctx) {
    Picture p;
    int rc = Parse(d, size, p);
    if (rc != SUCCESS) return rc;
    const int w = p.frame.Width(), h = p.frame.Height();
    rc = L_CheckImageSize(w, h, p.depth, nullptr, nullptr);
    if (rc != SUCCESS) return rc;
    L_InitBitmap(out, w, h, p.depth);
    if (ctx.CheckWorkingMemory(kMaxRowBytes * 4 + p.ops.size() * sizeof(PixOp), out) != SUCCESS) {
        L_InitBitmap(out, 0, 0, 0);
        return ERROR_FILE_FORMAT;
    }
    std::vector<uint8_t> row;
    try {
        row.reserve(size_t(kMaxRowBytes) * 4);
    } catch (const std::bad_alloc&) {
        L_InitBitmap(out, 0, 0, 0);
        return ERROR_NO_MEMORY;
    }
    rc = AllocatePixels(out);
    if (rc != SUCCESS) {
        L_InitBitmap(out, 0, 0, 0);
        return rc;
    }
    const PixOp& first = p.ops.front();
    out->XResolution = out->YResolution = first.dpi > 0 ? first.dpi : 72;
    if (p.depth <= 8) {
        std::memcpy(out->pPalette, first.table, sizeof(RGBQUAD) << p.depth);
        // Uncovered parts are the table's white, or its first colour.
        int white = 0;
        for (int i = 0; i < (1 << p.depth); ++i) {
            const RGBQUAD& q = first.table[i];
            if (q.rgbRed == 255 && q.rgbGreen == 255 && q.rgbBlue == 255) {
                white = i;
                break;
            }
        }
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) WriteIndex(L_RowPtr(out, y), x, p.depth, unsigned(white));
    } else {
        for (int y = 0; y < h; ++y) std::memset(L_RowPtr(out, y), 0xFF, size_t(out->BytesPerLine));
    }
    for (const PixOp& op : p.ops) Draw(d, size, p, op, out, row);
    if (p.cut) {
        // Where the last image stops, the rest of the picture is missing.
        const PixOp& last = p.ops.back();
        const int drawn =
            std::clamp(last.dst.top - p.frame.top +
                           int(int64_t(last.rows) * last.dst.Height() / last.src.Height()),
                       1, h);
        rc = ctx.EndedEarly(out, drawn, drawn, h);
    }
    for (int y = 0; rc == SUCCESS && y < h; y += kProgressBand)
        rc = ctx.Rows(out, y, std::min(kProgressBand, h - y), 0, 1);
    if (rc != SUCCESS) {
        L_FreeBitmap(out);
        L_InitBitmap(out, 0, 0, 0);
    }
    return rc;
}

bool CanSave(int format, int bpp) {
    return format == FILE_PICT && (bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24);
}

void Put16(std::vector<uint8_t>& o, unsigned v) {
    o.push_back(uint8_t(v >> 8));
    o.push_back(uint8_t(v));
}
void Put32(std::vector<uint8_t>& o, uint32_t v) {
    Put16(o, v >> 16);
    Put16(o, v & 0xFFFF);
}
void PutRect(std::vector<uint8_t>& o, int w, int h) {
    for (int v : {0, 0, h, w}) Put16(o, unsigned(v));
}

// Appends a row, packed with its byte count unless rows are shorter than eight bytes.
void PutRow(std::vector<uint8_t>& o, const uint8_t* row, size_t n, int rowBytes) {
    if (rowBytes < 8) {
        o.insert(o.end(), row, row + n);
        return;
    }
    std::vector<uint8_t> packed;
    PackBits(row, n, packed);
    if (rowBytes > 250)
        Put16(o, unsigned(packed.size()));
    else
        o.push_back(uint8_t(packed.size()));
    o.insert(o.end(), packed.begin(), packed.end());
}

int Save(const BITMAPHANDLE* b, int format, int, std::vector<uint8_t>& out) {
    const int bpp = b->BitsPerPixel;
    if (!CanSave(format, bpp)) return ERROR_BITPERPIXEL;
    const int w = b->Width, h = b->Height;
    const int rowBytes = bpp == 24 ? 4 * w : ((w * bpp + 15) / 16) * 2;
    if (w < 1 || h < 1 || h > 0x7FFF || w > 0x7FFF || rowBytes > kMaxRowBytes)
        return ERROR_INV_RANGE;
    EXTFILEOPTIONS opt;
    L_GetExtFileOption(&opt);
    const uint32_t dpi =
        uint32_t(std::clamp(b->XResolution > 0 ? b->XResolution : opt.XResolution, 1, 0x7FFF));
    try {
        out.assign(512, 0);
        Put16(out, 0); // the size, filled in below
        PutRect(out, w, h);
        Put32(out, 0x001102FF);
        Put16(out, 0x0C00);
        Put16(out, 0xFFFE); // extended version 2 header
        Put16(out, 0);
        Put32(out, dpi << 16);
        Put32(out, dpi << 16);
        PutRect(out, w, h);
        Put32(out, 0);
        Put16(out, 0x001E);
        Put16(out, 0x0001); // clip to the frame
        Put16(out, 10);
        PutRect(out, w, h);
        Put16(out, bpp == 24 ? 0x009A : 0x0098);
        if (bpp == 24) Put32(out, 0x000000FF);
        Put16(out, 0x8000 | unsigned(rowBytes));
        PutRect(out, w, h);
        Put16(out, 0);                 // version
        Put16(out, bpp == 24 ? 4 : 0); // packing: by component for direct pixels
        Put32(out, 0);                 // packed size
        Put32(out, dpi << 16);
        Put32(out, dpi << 16);
        Put16(out, bpp == 24 ? 16 : 0); // RGB direct or indexed
        Put16(out, bpp == 24 ? 32 : unsigned(bpp));
        Put16(out, bpp == 24 ? 3 : 1);             // components
        Put16(out, bpp == 24 ? 8 : unsigned(bpp)); // bits a component
        Put32(out, 0);
        Put32(out, 0);
        Put32(out, 0);
        if (bpp <= 8) {
            const int n = 1 << bpp;
            Put32(out, 0);
            Put16(out, 0);
            Put16(out, unsigned(n - 1));
            for (int i = 0; i < n; ++i) {
                const RGBQUAD q = b->pPalette ? b->pPalette[i] : RGBQUAD{};
                Put16(out, unsigned(i));
                for (uint8_t c : {q.rgbRed, q.rgbGreen, q.rgbBlue}) Put16(out, c * 257u);
            }
        }
        PutRect(out, w, h);
        PutRect(out, w, h);
        Put16(out, 0); // source copy
        std::vector<uint8_t> row(size_t(rowBytes), 0);
        for (int y = 0; y < h; ++y) {
            const uint8_t* s = L_RowPtr(b, y);
            if (bpp <= 8) {
                std::fill(row.begin(), row.end(), 0);
                std::memcpy(row.data(), s, (size_t(w) * size_t(bpp) + 7) / 8);
                PutRow(out, row.data(), row.size(), rowBytes);
            } else if (rowBytes < 8) { // one pixel: unpacked, a pad byte first
                for (int x = 0; x < w; ++x) {
                    row[4 * size_t(x)] = 0;
                    row[4 * size_t(x) + 1] = s[3 * x + 2];
                    row[4 * size_t(x) + 2] = s[3 * x + 1];
                    row[4 * size_t(x) + 3] = s[3 * x];
                }
                PutRow(out, row.data(), size_t(rowBytes), rowBytes);
            } else {
                for (int x = 0; x < w; ++x) {
                    row[size_t(x)] = s[3 * x + 2];
                    row[size_t(w) + size_t(x)] = s[3 * x + 1];
                    row[2 * size_t(w) + size_t(x)] = s[3 * x];
                }
                PutRow(out, row.data(), 3 * size_t(w), rowBytes);
            }
        }
        if (out.size() & 1) out.push_back(0);
        Put16(out, 0x00FF);
        const size_t picSize = out.size() - 512;
        out[512] = uint8_t(picSize >> 8);
        out[513] = uint8_t(picSize);
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    return SUCCESS;
}

bool HandlesFormat(int format) { return format == FILE_PICT; }

} // namespace

extern const Codec kPictCodec = {"pict", Sniff, Info, Load, CanSave, Save, nullptr, HandlesFormat};

} // namespace lt::codec
