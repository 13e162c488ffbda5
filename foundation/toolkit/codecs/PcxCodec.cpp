// ZSoft PCX pictures (versions 0 to 5), and the first page of the DCX files that bundle
// several of them (fax software writes those).
//
// Reading covers the layouts other programs write: 1 bit in 1 to 4 planes (monochrome,
// 8 and 16 colours), 2 and 4 bits packed in one plane, 8 bits with the 256-colour table after
// the pixels (gray when the table is missing), 24 bits as three planes of 8 and 32 bits as
// four; run-length coded or raw. The header's bytes-per-line is trusted only once it is known
// to hold a row; runs may carry on from one row into the next, as some old writers let them.
// Writing: 1 bit; 4 bits as four planes of 1 bit, which every reader knows; 8 bits with the
// trailing table; 24 bits as three planes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "ByteReader.h"
#include "Codec.h"
#include "WholeFile.h"

namespace lt::codec {
namespace {

constexpr size_t kHeaderSize = 128;
constexpr uint8_t kManufacturer = 0x0A;
constexpr uint8_t kPaletteMarker = 0x0C;
constexpr size_t kTrailingPalette = 1 + 768;
constexpr uint32_t kDcxMagic = 0x3ADE68B1;
constexpr int kDcxMaxPages = 1023;

// The sixteen colours a file without its own palette is shown in.
constexpr uint8_t kEgaColours[16][3] = {
    {0, 0, 0},     {0, 0, 170},     {0, 170, 0},    {0, 170, 170},   {170, 0, 0},   {170, 0, 170},
    {170, 85, 0},  {170, 170, 170}, {85, 85, 85},   {85, 85, 255},   {85, 255, 85}, {85, 255, 255},
    {255, 85, 85}, {255, 85, 255},  {255, 255, 85}, {255, 255, 255},
};

enum class Layout {
    Bits1,  // 1 bit, 1 plane
    Planar, // 1 bit in 2 to 4 planes: bit p of the index is in plane p
    Bits2,  // 2 bits packed, 1 plane
    Bits4,  // 4 bits packed, 1 plane
    Bits8,  // 8 bits, 1 plane
    Rgb,    // 8 bits in 3 planes: red, green, blue
    Rgba,   // 8 bits in 4 planes
};

struct Header {
    // Where the picture lies in the data (a DCX page is part of the file).
    size_t start = 0, end = 0;
    int pages = 1;
    int version = 0;
    int encoding = 1;
    int bits = 0, planes = 0;
    int width = 0, height = 0;
    int xdpi = 0, ydpi = 0;
    size_t bytesPerLine = 0; // of one plane
    const uint8_t* egaPalette = nullptr;
    const uint8_t* vgaPalette = nullptr; // the 256 colours after the pixels, or null
    size_t pixelEnd = 0;                 // where the pixel data stops
    Layout layout = Layout::Bits8;
    int outBpp = 0;
};

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

bool LooksLikePcx(const uint8_t* d, size_t size) {
    return size >= kHeaderSize && d[0] == kManufacturer && d[1] <= 5 && d[1] != 1 && d[2] <= 1 &&
           (d[3] == 1 || d[3] == 2 || d[3] == 4 || d[3] == 8);
}

bool IsDcx(const uint8_t* d, size_t size) { return size >= 8 && Get32(d) == kDcxMagic; }

int ChooseLayout(Header& h) {
    const int b = h.bits, p = h.planes;
    if (b == 1 && p == 1) {
        h.layout = Layout::Bits1;
        h.outBpp = 1;
    } else if (b == 1 && p >= 2 && p <= 4) {
        h.layout = Layout::Planar;
        h.outBpp = 4;
    } else if (b == 2 && p == 1) {
        h.layout = Layout::Bits2;
        h.outBpp = 4;
    } else if (b == 4 && p == 1) {
        h.layout = Layout::Bits4;
        h.outBpp = 4;
    } else if (b == 8 && p == 1) {
        h.layout = Layout::Bits8;
        h.outBpp = 8;
    } else if (b == 8 && p == 3) {
        h.layout = Layout::Rgb;
        h.outBpp = 24;
    } else if (b == 8 && p == 4) {
        h.layout = Layout::Rgba;
        h.outBpp = 32;
    } else {
        return ERROR_BITPERPIXEL;
    }
    return SUCCESS;
}

// Finds the picture (the first page of a DCX), reads and checks its header. Touches no
// pixel data.
int ParseHeader(const uint8_t* data, size_t size, Header& h) {
    h.start = 0;
    h.end = size;
    if (IsDcx(data, size)) {
        // A table of page offsets, ended by a zero, follows the magic number.
        ByteReader r(data, size);
        r.skip(4);
        const uint32_t first = r.u32le();
        if (first < 8 || first >= size) return ERROR_FILE_FORMAT;
        int pages = 1;
        while (pages < kDcxMaxPages) {
            const uint32_t next = r.u32le();
            if (!r.ok() || next == 0) break;
            // The first page ends where the second begins.
            if (pages == 1 && next > first && next <= size) h.end = next;
            ++pages;
        }
        h.start = first;
        h.pages = pages;
    }
    const uint8_t* d = data + h.start;
    const size_t n = h.end - h.start;
    if (!LooksLikePcx(d, n)) return ERROR_FILE_FORMAT;
    h.version = d[1];
    h.encoding = d[2];
    h.bits = d[3];
    const int xmin = Get16(d + 4), ymin = Get16(d + 6), xmax = Get16(d + 8), ymax = Get16(d + 10);
    if (xmax < xmin || ymax < ymin) return ERROR_FILE_FORMAT;
    h.width = xmax - xmin + 1;
    h.height = ymax - ymin + 1;
    h.xdpi = Get16(d + 12);
    h.ydpi = Get16(d + 14);
    h.egaPalette = d + 16;
    h.planes = d[65];
    h.bytesPerLine = Get16(d + 66);
    int rc = ChooseLayout(h);
    if (rc != SUCCESS) return rc;
    if (h.bytesPerLine < (size_t(h.width) * size_t(h.bits) + 7) / 8) return ERROR_FILE_FORMAT;

    h.pixelEnd = h.end;
    if (h.layout == Layout::Bits8 && n >= kHeaderSize + kTrailingPalette &&
        d[n - kTrailingPalette] == kPaletteMarker) {
        h.vgaPalette = d + n - kTrailingPalette + 1;
        h.pixelEnd = h.end - kTrailingPalette;
    }
    return SUCCESS;
}

// Fills scan lines (all planes of a row, one after the other) from the data, run-length
// coded or raw. A run left over at the end of a line goes on into the next one.
class LineReader {
public:
    LineReader(const uint8_t* p, const uint8_t* end, bool rle) : p_(p), end_(end), rle_(rle) {}

    // False when the data ended before the line was full.
    bool Next(uint8_t* line, size_t bytes) {
        size_t at = 0;
        if (!rle_) {
            if (size_t(end_ - p_) < bytes) return false;
            std::memcpy(line, p_, bytes);
            p_ += bytes;
            return true;
        }
        while (at < bytes) {
            if (runLeft_ > 0) {
                const size_t n = std::min(size_t(runLeft_), bytes - at);
                std::memset(line + at, runValue_, n);
                at += n;
                runLeft_ -= int(n);
                continue;
            }
            if (p_ == end_) return false;
            const uint8_t c = *p_++;
            if ((c & 0xC0) != 0xC0) {
                line[at++] = c;
                continue;
            }
            if (p_ == end_) return false;
            runLeft_ = c & 0x3F;
            runValue_ = *p_++;
        }
        return true;
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
    bool rle_;
    int runLeft_ = 0;
    uint8_t runValue_ = 0;
};

void SetPalette(const Header& h, BITMAPHANDLE* b) {
    for (int i = 0; i < 256; ++i) b->pPalette[i] = RGBQUAD{};
    if (h.outBpp > 8) return;
    if (h.layout == Layout::Bits8) {
        for (int i = 0; i < 256; ++i) {
            const uint8_t* c = h.vgaPalette ? h.vgaPalette + 3 * i : nullptr;
            b->pPalette[i] =
                c ? RGBQUAD{c[2], c[1], c[0], 0} : RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
        }
        return;
    }
    const int count = h.layout == Layout::Bits1    ? 2
                      : h.layout == Layout::Bits2  ? 4
                      : h.layout == Layout::Planar ? 1 << h.planes
                                                   : 16;
    bool blank = true;
    for (int i = 0; i < 3 * count; ++i) blank = blank && h.egaPalette[i] == 0;
    for (int i = 0; i < count; ++i) {
        const uint8_t* c = h.egaPalette + 3 * i;
        if (blank) c = count == 2 ? kEgaColours[i == 0 ? 0 : 15] : kEgaColours[i];
        b->pPalette[i] = RGBQUAD{c[2], c[1], c[0], 0};
    }
}

void ConvertLine(const Header& h, const uint8_t* line, uint8_t* row) {
    const size_t bpl = h.bytesPerLine;
    const int w = h.width;
    switch (h.layout) {
        case Layout::Bits1: std::memcpy(row, line, (size_t(w) + 7) / 8); break;
        case Layout::Bits4: std::memcpy(row, line, (size_t(w) + 1) / 2); break;
        case Layout::Bits8: std::memcpy(row, line, size_t(w)); break;
        case Layout::Bits2:
            for (int x = 0; x < w; ++x)
                WriteIndex(row, x, 4, (line[x >> 2] >> (6 - 2 * (x & 3))) & 3u);
            break;
        case Layout::Planar:
            for (int x = 0; x < w; ++x) {
                unsigned v = 0;
                for (int p = 0; p < h.planes; ++p)
                    v |= unsigned((line[size_t(p) * bpl + (x >> 3)] >> (7 - (x & 7))) & 1) << p;
                WriteIndex(row, x, 4, v);
            }
            break;
        case Layout::Rgb:
            for (int x = 0; x < w; ++x, row += 3) {
                row[0] = line[2 * bpl + size_t(x)];
                row[1] = line[bpl + size_t(x)];
                row[2] = line[size_t(x)];
            }
            break;
        case Layout::Rgba:
            for (int x = 0; x < w; ++x, row += 4) {
                row[0] = line[2 * bpl + size_t(x)];
                row[1] = line[bpl + size_t(x)];
                row[2] = line[size_t(x)];
                row[3] = line[3 * bpl + size_t(x)];
            }
            break;
    }
}

void ApplyResolution(const Header& h, int& x, int& y) {
    EXTFILEOPTIONS ext;
    L_GetExtFileOption(&ext);
    x = h.xdpi > 0 ? h.xdpi : ext.XResolution;
    y = h.ydpi > 0 ? h.ydpi : ext.YResolution;
}

bool Sniff(const uint8_t* data, size_t size) {
    if (IsDcx(data, size)) return true;
    return LooksLikePcx(data, size);
}

int Info(const uint8_t* data, size_t size, FILEINFO* info) {
    Header h;
    int rc = ParseHeader(data, size, h);
    if (rc != SUCCESS) return rc;
    info->Format = FILE_PCX;
    info->Width = h.width;
    info->Height = h.height;
    info->BitsPerPixel = h.outBpp;
    info->Colors = h.outBpp <= 8 ? 1 << h.outBpp : 0;
    info->Compression = h.encoding;
    info->Passes = 1;
    info->PageCount = h.pages;
    ApplyResolution(h, info->XResolution, info->YResolution);
    return SUCCESS;
}

int Load(const uint8_t* data, size_t size, BITMAPHANDLE* out, LoadContext& ctx) {
    Header h;
    int rc = ParseHeader(data, size, h);
    if (rc != SUCCESS) return rc;
    rc = L_CheckImageSize(h.width, h.height, h.outBpp, nullptr, nullptr);
    if (rc != SUCCESS) return rc;
    const size_t lineBytes = h.bytesPerLine * size_t(h.planes);
    if (ctx.CheckWorkingMemory(lineBytes, nullptr) != SUCCESS) return ERROR_FILE_FORMAT;
    std::vector<uint8_t> line;
    try {
        line.resize(lineBytes);
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    L_InitBitmap(out, h.width, h.height, h.outBpp);
    rc = AllocatePixels(out);
    if (rc != SUCCESS) {
        L_InitBitmap(out, 0, 0, 0);
        return rc;
    }
    ApplyResolution(h, out->XResolution, out->YResolution);
    if (out->pPalette) SetPalette(h, out);

    LineReader reader(data + h.start + kHeaderSize, data + h.pixelEnd, h.encoding == 1);
    int rows = 0;
    while (rows < h.height && reader.Next(line.data(), lineBytes))
        ConvertLine(h, line.data(), L_RowPtr(out, rows++));
    if (h.layout == Layout::Rgba) OpaqueWhenAlphaIsBlank(out, rows);
    return ctx.FinishRows(out, rows, h.height, rc);
}

bool CanSave(int format, int bpp) {
    return format == FILE_PCX && (bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24);
}

// One scan line, run-length coded. Runs stay within the line, as the format asks; a byte
// with both top bits set can only be written as a run.
void EncodeLine(const uint8_t* p, size_t n, std::vector<uint8_t>& out) {
    size_t i = 0;
    while (i < n) {
        size_t run = 1;
        while (i + run < n && run < 63 && p[i + run] == p[i]) ++run;
        if (run > 1 || (p[i] & 0xC0) == 0xC0) out.push_back(uint8_t(0xC0 | run));
        out.push_back(p[i]);
        i += run;
    }
}

int Save(const BITMAPHANDLE* b, int format, int /*qfactor: lossless*/, std::vector<uint8_t>& out) {
    const int bpp = b->BitsPerPixel;
    if (!CanSave(format, bpp)) return ERROR_BITPERPIXEL;
    if (b->Width > 0x10000 || b->Height > 0x10000) return ERROR_INV_RANGE;
    const int bits = bpp == 1 || bpp == 4 ? 1 : 8;
    const int planes = bpp == 4 ? 4 : bpp == 24 ? 3 : 1;
    // Rows of each plane are padded to an even length.
    const size_t used = (size_t(b->Width) * size_t(bits) + 7) / 8;
    const size_t bpl = (used + 1) & ~size_t(1);
    if (bpl > 0xFFFF) return ERROR_INV_RANGE;

    EXTFILEOPTIONS ext;
    L_GetExtFileOption(&ext);
    const int xdpi = b->XResolution > 0 ? b->XResolution : ext.XResolution;
    const int ydpi = b->YResolution > 0 ? b->YResolution : ext.YResolution;

    std::vector<uint8_t> line;
    try {
        out.clear();
        // Usually enough; a run-length coded line is at most twice its length.
        out.reserve(kHeaderSize + kTrailingPalette + bpl * size_t(planes) * size_t(b->Height));
        line.assign(bpl * size_t(planes), 0);
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    bool gray = bpp == 8 && b->pPalette;
    for (int i = 0; gray && i < 256; ++i) {
        const RGBQUAD q = b->pPalette[i];
        gray = q.rgbRed == i && q.rgbGreen == i && q.rgbBlue == i;
    }
    out.push_back(kManufacturer);
    out.push_back(5); // version: with a 256-colour table when there is one
    out.push_back(1); // run-length coded
    out.push_back(uint8_t(bits));
    PutLE16(out, 0);
    PutLE16(out, 0);
    PutLE16(out, unsigned(b->Width - 1));
    PutLE16(out, unsigned(b->Height - 1));
    PutLE16(out, unsigned(std::clamp(xdpi, 0, 0xFFFF)));
    PutLE16(out, unsigned(std::clamp(ydpi, 0, 0xFFFF)));
    for (int i = 0; i < 16; ++i) {
        const RGBQUAD q = bpp <= 4 && b->pPalette && i < (1 << bpp) ? b->pPalette[i] : RGBQUAD{};
        out.insert(out.end(), {q.rgbRed, q.rgbGreen, q.rgbBlue});
    }
    out.push_back(0);
    out.push_back(uint8_t(planes));
    PutLE16(out, unsigned(bpl));
    PutLE16(out, gray ? 2 : 1);
    PutLE16(out, 0); // screen size: not known
    PutLE16(out, 0);
    out.resize(kHeaderSize, 0);

    for (int y = 0; y < b->Height; ++y) {
        const uint8_t* row = L_RowPtr(b, y);
        std::fill(line.begin(), line.end(), uint8_t(0));
        switch (bpp) {
            case 1:
            case 8: std::memcpy(line.data(), row, used); break;
            case 4:
                for (int x = 0; x < b->Width; ++x) {
                    const unsigned v = ReadIndex(row, x, 4);
                    for (int p = 0; p < 4; ++p)
                        if (v & (1u << p))
                            line[size_t(p) * bpl + size_t(x >> 3)] |= uint8_t(0x80 >> (x & 7));
                }
                break;
            case 24:
                for (int x = 0; x < b->Width; ++x) {
                    line[size_t(x)] = row[3 * x + 2];
                    line[bpl + size_t(x)] = row[3 * x + 1];
                    line[2 * bpl + size_t(x)] = row[3 * x];
                }
                break;
        }
        for (int p = 0; p < planes; ++p) EncodeLine(line.data() + size_t(p) * bpl, bpl, out);
    }
    if (bpp == 8) {
        out.push_back(kPaletteMarker);
        for (int i = 0; i < 256; ++i) {
            const RGBQUAD q = b->pPalette ? b->pPalette[i] : RGBQUAD{};
            out.insert(out.end(), {q.rgbRed, q.rgbGreen, q.rgbBlue});
        }
    }
    return SUCCESS;
}

bool HandlesFormat(int format) { return format == FILE_PCX; }

bool HasDcxExtension(const char* path) {
    const size_t n = std::strlen(path);
    if (n < 4 || path[n - 4] != '.') return false;
    const char* e = path + n - 3;
    return (e[0] | 0x20) == 'd' && (e[1] | 0x20) == 'c' && (e[2] | 0x20) == 'x';
}

} // namespace

int KeepDcxPages(const char* path, std::vector<uint8_t>& pcx) {
    std::vector<uint8_t> old;
    const bool wasDcx = ReadWholeFile(path, old) == SUCCESS && IsDcx(old.data(), old.size());
    if (!wasDcx && !HasDcxExtension(path)) return SUCCESS;
    // The pages after the first, as their offsets give them; one that lies outside the file
    // or holds no picture cannot be kept.
    std::vector<std::pair<size_t, size_t>> pages;
    if (wasDcx) {
        std::vector<uint32_t> offsets;
        ByteReader r(old.data(), old.size());
        r.skip(4);
        for (uint32_t o; offsets.size() < size_t(kDcxMaxPages) && (o = r.u32le()) != 0 && r.ok();)
            offsets.push_back(o);
        for (size_t k = 1; k < offsets.size(); ++k) {
            const size_t start = offsets[k];
            size_t end = old.size();
            if (k + 1 < offsets.size() && offsets[k + 1] > start)
                end = std::min(end, size_t(offsets[k + 1]));
            if (start < end && LooksLikePcx(old.data() + start, end - start))
                pages.emplace_back(start, end);
        }
    }
    const size_t table = 4 + 4 * (pages.size() + 2);
    uint64_t total = table + pcx.size();
    for (auto [start, end] : pages) total += end - start;
    if (total > UINT32_MAX) return ERROR_INV_RANGE;
    std::vector<uint8_t> out;
    try {
        out.reserve(size_t(total));
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    auto put32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
    };
    put32(kDcxMagic);
    size_t at = table;
    put32(uint32_t(at));
    at += pcx.size();
    for (auto [start, end] : pages) {
        put32(uint32_t(at));
        at += end - start;
    }
    put32(0);
    out.insert(out.end(), pcx.begin(), pcx.end());
    for (auto [start, end] : pages)
        out.insert(out.end(), old.begin() + long(start), old.begin() + long(end));
    pcx.swap(out);
    return SUCCESS;
}

extern const Codec kPcxCodec = {"pcx", Sniff, Info, Load, CanSave, Save, nullptr, HandlesFormat};

} // namespace lt::codec
