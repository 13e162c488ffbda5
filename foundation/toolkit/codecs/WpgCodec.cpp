// WordPerfect graphics, version 1 (.wpg): a 16-byte header (0xFF "WPC", the offset of the
// first record, product 1, file type 0x16, version 1.0), then records of a type byte and a
// length (one byte; 0xFF: a 16-bit word follows; with its top bit set, a 31-bit length in
// two words, high word first). Numbers are little-endian.
//
// We read the first bitmap record (type 0x0B, or 0x14 with a placement before the same
// fields) at 1, 4 or 8 bits, with the colours of the colour map records (0x0E: first index,
// count, then red, green, blue) that come before it. Without a map, 1 bit is black on white,
// 4 bits the sixteen EGA colours and 8 bits a gray ramp. The rows, top first, each
// (width * depth + 7) / 8 bytes, are run-length coded as one stream:
//   0x80 | n, v   n bytes of v (1 <= n <= 127)     0x80, n      n bytes of 0xFF
//   n, n bytes    the bytes as they are            0x00, n      the previous row n more times
// Vector drawings have no bitmap record and are refused. Writing: a start record, the colour
// map, one type 1 bitmap record, the end record.
#include <algorithm>
#include <cstring>
#include <new>

#include "ByteReader.h"
#include "Codec.h"

namespace lt::codec {
namespace {

constexpr size_t kHeader = 16;
constexpr uint8_t kStart = 0x0F, kEnd = 0x10, kColorMap = 0x0E, kBitmap1 = 0x0B, kBitmap2 = 0x14;

struct Record {
    uint8_t type = 0;
    size_t body = 0, length = 0; // where the data starts, and how long it is
};

// The record at `pos`, its length cut to the file. False at the end of the data.
bool NextRecord(const uint8_t* d, size_t size, size_t pos, Record& r) {
    ByteReader br(d, size);
    if (!br.seek(pos)) return false;
    r.type = br.u8();
    size_t len = br.u8();
    if (len == 0xFF) {
        const uint16_t w = br.u16le();
        len = w;
        if (w & 0x8000) len = size_t(w & 0x7fff) << 16 | br.u16le();
    }
    if (!br.ok()) return false;
    r.body = br.pos();
    r.length = std::min(len, size - r.body);
    return true;
}

struct Picture {
    int width = 0, height = 0, bpp = 0, xdpi = 0, ydpi = 0;
    size_t data = 0, dataLength = 0; // the coded rows
    RGBQUAD palette[256] = {};
    bool mapped = false;
};

void DefaultPalette(Picture& p) {
    if (p.mapped) return;
    if (p.bpp == 1) {
        p.palette[0] = RGBQUAD{0, 0, 0, 0};
        p.palette[1] = RGBQUAD{255, 255, 255, 0};
    } else if (p.bpp == 4) {
        static const uint8_t ega[16][3] = {
            {0, 0, 0},     {0, 0, 170},    {0, 170, 0},    {0, 170, 170},
            {170, 0, 0},   {170, 0, 170},  {170, 85, 0},   {170, 170, 170},
            {85, 85, 85},  {85, 85, 255},  {85, 255, 85},  {85, 255, 255},
            {255, 85, 85}, {255, 85, 255}, {255, 255, 85}, {255, 255, 255}};
        for (int i = 0; i < 16; ++i) p.palette[i] = RGBQUAD{ega[i][2], ega[i][1], ega[i][0], 0};
    } else {
        for (int i = 0; i < 256; ++i) p.palette[i] = RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    }
}

bool Sniff(const uint8_t* d, size_t size) {
    return size >= 4 && d[0] == 0xFF && d[1] == 'W' && d[2] == 'P' && d[3] == 'C';
}

int Parse(const uint8_t* d, size_t size, Picture& p) {
    if (size < kHeader || !Sniff(d, size)) return ERROR_FILE_FORMAT;
    ByteReader h(d, kHeader);
    h.skip(4);
    const uint32_t first = h.u32le();
    const uint8_t product = h.u8(), type = h.u8(), major = h.u8();
    (void)product;
    if (type != 0x16) return ERROR_FILE_FORMAT;
    if (major != 1) return ERROR_FEATURE_NOT_SUPPORTED; // version 2 is another record set
    if (first < kHeader || first > size) return ERROR_FILE_FORMAT;
    Record r;
    for (size_t pos = first; NextRecord(d, size, pos, r); pos = r.body + r.length) {
        ByteReader br(d + r.body, r.length);
        if (r.type == kColorMap) {
            const unsigned start = br.u16le(), count = br.u16le();
            if (!br.ok() || start + count > 256) return ERROR_FILE_FORMAT;
            for (unsigned i = start; i < start + count; ++i) {
                const uint8_t red = br.u8(), green = br.u8(), blue = br.u8();
                if (!br.ok()) return ERROR_FILE_FORMAT;
                p.palette[i] = RGBQUAD{blue, green, red, 0};
            }
            p.mapped = true;
        } else if (r.type == kBitmap1 || r.type == kBitmap2) {
            if (r.type == kBitmap2) br.skip(10); // rotation and the corners of its place
            p.width = br.u16le();
            p.height = br.u16le();
            p.bpp = br.u16le();
            p.xdpi = br.u16le();
            p.ydpi = br.u16le();
            if (!br.ok() || p.width == 0 || p.height == 0) return ERROR_FILE_FORMAT;
            if (p.bpp != 1 && p.bpp != 4 && p.bpp != 8) return ERROR_FEATURE_NOT_SUPPORTED;
            p.data = r.body + br.pos();
            p.dataLength = r.length - br.pos();
            DefaultPalette(p);
            return SUCCESS;
        } else if (r.type == kEnd) {
            break;
        }
    }
    return ERROR_FEATURE_NOT_SUPPORTED; // a drawing without a bitmap
}

int Info(const uint8_t* d, size_t size, FILEINFO* info) {
    Picture p;
    int rc = Parse(d, size, p);
    if (rc != SUCCESS) return rc;
    info->Format = FILE_WPG;
    info->Width = p.width;
    info->Height = p.height;
    info->BitsPerPixel = p.bpp;
    info->Colors = 1 << p.bpp;
    info->Compression = 1;
    info->Passes = 1;
    info->XResolution = p.xdpi;
    info->YResolution = p.ydpi;
    return SUCCESS;
}

int Load(const uint8_t* d, size_t size, BITMAPHANDLE* out, LoadContext& ctx) {
    Picture p;
    int rc = Parse(d, size, p);
    if (rc != SUCCESS) return rc;
    rc = L_CheckImageSize(p.width, p.height, p.bpp, nullptr, nullptr);
    if (rc != SUCCESS) return rc;
    L_InitBitmap(out, p.width, p.height, p.bpp);
    if (ctx.CheckWorkingMemory(0, out) != SUCCESS) {
        L_InitBitmap(out, 0, 0, 0);
        return ERROR_FILE_FORMAT;
    }
    rc = AllocatePixels(out);
    if (rc != SUCCESS) {
        L_InitBitmap(out, 0, 0, 0);
        return rc;
    }
    std::memcpy(out->pPalette, p.palette, sizeof(RGBQUAD) << p.bpp);
    out->XResolution = p.xdpi;
    out->YResolution = p.ydpi;
    const size_t rowBytes = (size_t(p.width) * size_t(p.bpp) + 7) / 8;
    const uint8_t* s = d + p.data;
    const size_t n = p.dataLength;
    size_t i = 0, x = 0;
    int y = 0;
    uint8_t* row = L_RowPtr(out, 0);
    // Puts `count` bytes of `v` (or of src when it is given) into the rows.
    auto put = [&](size_t count, uint8_t v, const uint8_t* src) {
        while (count > 0 && y < p.height) {
            const size_t k = std::min(count, rowBytes - x);
            if (src) {
                std::memcpy(row + x, src, k);
                src += k;
            } else {
                std::memset(row + x, v, k);
            }
            x += k;
            count -= k;
            if (x == rowBytes) {
                x = 0;
                if (++y < p.height) row = L_RowPtr(out, y);
            }
        }
    };
    rc = SUCCESS;
    while (y < p.height && i < n) {
        const uint8_t c = s[i++];
        const size_t count = c & 0x7f;
        if (c & 0x80) {
            if (i >= n) break;
            if (count)
                put(count, s[i++], nullptr);
            else
                put(s[i++], 0xFF, nullptr);
        } else if (count) {
            const size_t k = std::min(count, n - i);
            put(k, 0, s + i);
            i += k;
        } else {
            if (i >= n) break;
            const int times = s[i++];
            // Only whole rows repeat, and only after one.
            if (x != 0 || y == 0) {
                rc = ERROR_FILE_FORMAT;
                break;
            }
            const uint8_t* prev = L_RowPtr(out, y - 1);
            for (int t = 0; t < times && y < p.height; ++t) put(rowBytes, 0, prev);
        }
    }
    if (rc != SUCCESS) {
        L_FreeBitmap(out);
        L_InitBitmap(out, 0, 0, 0);
        return rc;
    }
    // A row the data ended in is kept as far as it got.
    return ctx.FinishRows(out, y + (x > 0 ? 1 : 0), p.height, SUCCESS);
}

bool CanSave(int format, int bpp) {
    return format == FILE_WPG && (bpp == 1 || bpp == 4 || bpp == 8);
}

void PutRecord(std::vector<uint8_t>& o, uint8_t type, const std::vector<uint8_t>& body) {
    o.push_back(type);
    const size_t n = body.size();
    if (n < 0xFF) {
        o.push_back(uint8_t(n));
    } else if (n < 0x8000) {
        o.push_back(0xFF);
        PutLE16(o, unsigned(n));
    } else {
        o.push_back(0xFF);
        PutLE16(o, unsigned(0x8000 | (n >> 16)));
        PutLE16(o, unsigned(n & 0xffff));
    }
    o.insert(o.end(), body.begin(), body.end());
}

// One row in runs and literals; runs shorter than three bytes are not worth a code.
void CodeRow(const uint8_t* r, size_t n, std::vector<uint8_t>& o) {
    size_t i = 0, lit = 0; // literal bytes waiting before i
    auto flush = [&] {
        while (lit > 0) {
            const size_t k = std::min<size_t>(lit, 127);
            o.push_back(uint8_t(k));
            o.insert(o.end(), r + i - lit, r + i - lit + k);
            lit -= k;
        }
    };
    while (i < n) {
        size_t run = 1;
        while (i + run < n && run < 127 && r[i + run] == r[i]) ++run;
        if (run >= 3) {
            flush();
            o.push_back(uint8_t(0x80 | run));
            o.push_back(r[i]);
            i += run;
        } else {
            i += run;
            lit += run;
        }
    }
    flush();
}

int Save(const BITMAPHANDLE* b, int format, int, std::vector<uint8_t>& out) {
    if (!CanSave(format, b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    if (b->Width > 0xffff || b->Height > 0xffff) return ERROR_FEATURE_NOT_SUPPORTED;
    const int bpp = b->BitsPerPixel;
    const unsigned xdpi = unsigned(std::clamp(b->XResolution > 0 ? b->XResolution : 72, 1, 65535));
    const unsigned ydpi = unsigned(std::clamp(b->YResolution > 0 ? b->YResolution : 72, 1, 65535));
    try {
        // Magic, where the records start, WordPerfect's product and file type, version 1.0.
        static const uint8_t header[kHeader] = {0xFF, 'W',  'P',  'C',  kHeader, 0, 0, 0,
                                                0x01, 0x16, 0x01, 0x00, 0,       0, 0, 0};
        out.assign(header, header + kHeader);
        // The drawing's size is in 1200ths of an inch.
        std::vector<uint8_t> start = {0x01, 0x00};
        PutLE16(start, unsigned(std::min<uint64_t>(uint64_t(b->Width) * 1200 / xdpi, 0xffff)));
        PutLE16(start, unsigned(std::min<uint64_t>(uint64_t(b->Height) * 1200 / ydpi, 0xffff)));
        PutRecord(out, kStart, start);
        std::vector<uint8_t> map;
        PutLE16(map, 0);
        PutLE16(map, 1u << bpp);
        for (int i = 0; i < (1 << bpp); ++i) {
            const RGBQUAD q = b->pPalette ? b->pPalette[i] : RGBQUAD{};
            map.insert(map.end(), {q.rgbRed, q.rgbGreen, q.rgbBlue});
        }
        PutRecord(out, kColorMap, map);
        std::vector<uint8_t> bits;
        for (unsigned v : {unsigned(b->Width), unsigned(b->Height), unsigned(bpp), xdpi, ydpi})
            PutLE16(bits, v);
        const size_t rowBytes = (size_t(b->Width) * size_t(bpp) + 7) / 8;
        std::vector<uint8_t> row(rowBytes), prev;
        int repeats = 0;
        auto flushRepeats = [&] {
            for (; repeats > 0; repeats -= std::min(repeats, 255))
                bits.insert(bits.end(), {0x00, uint8_t(std::min(repeats, 255))});
        };
        for (int y = 0; y < b->Height; ++y) {
            std::memcpy(row.data(), L_RowPtr(b, y), rowBytes);
            // Bits past the last pixel are not the picture's: keep them clear.
            if (int spare = int(rowBytes * 8 - size_t(b->Width) * size_t(bpp)))
                row[rowBytes - 1] &= uint8_t(0xff << spare);
            if (y > 0 && row == prev) {
                ++repeats;
                continue;
            }
            flushRepeats();
            CodeRow(row.data(), rowBytes, bits);
            prev = row;
        }
        flushRepeats();
        if (bits.size() > 0x7fffffff) return ERROR_FEATURE_NOT_SUPPORTED;
        PutRecord(out, kBitmap1, bits);
        PutRecord(out, kEnd, {});
        return SUCCESS;
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
}

bool HandlesFormat(int format) { return format == FILE_WPG; }

} // namespace

extern const Codec kWpgCodec = {"wpg", Sniff, Info, Load, CanSave, Save, nullptr, HandlesFormat};

} // namespace lt::codec
