// GEM bit images (.img), from Digital Research's GEM: a header of big-endian words (version,
// header length in words, planes, pattern length, pixel width and height in microns, width,
// height), then the rows, each plane of a row in turn, (width + 7) / 8 bytes a plane. Rows are
// coded with four items: 0 0 0xFF n repeats the row that follows n times; 0 n repeats a
// pattern of "pattern length" bytes n times; 0x80 n gives n bytes as they are; any other byte
// is a solid run, its top bit the colour and its low seven bits the count of bytes.
//
// Reading: 1 to 8 planes; the colours of more than one plane come from an "XIMG" header
// extension when there is one (RGB in thousandths), else GEM's standard 16 colours (the
// first 16 of a gray ramp for more than four planes). Items that run past the end of a row
// are cut there. Writing: 1 plane, solid runs, bit strings and repeated rows.
#include <algorithm>
#include <cstring>
#include <new>

#include "ByteReader.h"
#include "Codec.h"

namespace lt::codec {
namespace {

struct Header {
    int version = 0, headerWords = 0, planes = 0, patternLength = 0;
    int micronsX = 0, micronsY = 0, width = 0, height = 0;
    bool ximg = false;
    size_t rowBytes = 0; // of one plane
};

int ParseHeader(const uint8_t* d, size_t size, Header& h) {
    ByteReader r(d, size);
    h.version = r.u16be();
    h.headerWords = r.u16be();
    h.planes = r.u16be();
    h.patternLength = r.u16be();
    h.micronsX = r.u16be();
    h.micronsY = r.u16be();
    h.width = r.u16be();
    h.height = r.u16be();
    if (!r.ok() || h.headerWords < 8 || size_t(h.headerWords) * 2 > size) return ERROR_FILE_FORMAT;
    if (h.width == 0 || h.height == 0 || h.patternLength < 1 || h.patternLength > 8)
        return ERROR_FILE_FORMAT;
    h.ximg = h.headerWords >= 11 && std::memcmp(d + 16, "XIMG", 4) == 0 && d[20] == 0 && d[21] == 0;
    h.rowBytes = (size_t(h.width) + 7) / 8;
    if (h.planes < 1 || h.planes > 8) return ERROR_BITPERPIXEL;
    return SUCCESS;
}

int Depth(const Header& h) { return h.planes == 1 ? 1 : h.planes <= 4 ? 4 : 8; }

int Dpi(int microns) { return microns > 0 ? std::max(1, (25400 + microns / 2) / microns) : 72; }

// GEM's sixteen standard colours by pixel value: white, the six bright colours, two grays,
// the six dark ones, black.
constexpr RGBQUAD kStandard[16] = {
    {255, 255, 255, 0}, {0, 0, 255, 0},   {0, 255, 0, 0},   {0, 255, 255, 0},
    {255, 0, 0, 0},     {255, 0, 255, 0}, {255, 255, 0, 0}, {170, 170, 170, 0},
    {85, 85, 85, 0},    {0, 0, 170, 0},   {0, 170, 0, 0},   {0, 170, 170, 0},
    {170, 0, 0, 0},     {170, 0, 170, 0}, {170, 170, 0, 0}, {0, 0, 0, 0}};

void SetPalette(const Header& h, const uint8_t* d, size_t size, BITMAPHANDLE* b) {
    const int colours = 1 << h.planes;
    if (h.planes == 1) {
        b->pPalette[0] = RGBQUAD{255, 255, 255, 0};
        b->pPalette[1] = RGBQUAD{0, 0, 0, 0};
        return;
    }
    for (int i = 0; i < colours; ++i) {
        const uint8_t g = uint8_t(255 - i * 255 / (colours - 1));
        b->pPalette[i] = h.planes <= 4 ? kStandard[i] : RGBQUAD{g, g, g, 0};
    }
    if (!h.ximg) return;
    ByteReader r(d, std::min(size, size_t(h.headerWords) * 2));
    r.seek(22);
    for (int i = 0; i < colours; ++i) {
        auto level = [&] { return uint8_t((std::min<int>(r.u16be(), 1000) * 255 + 500) / 1000); };
        const uint8_t red = level(), green = level(), blue = level();
        if (!r.ok()) break;
        b->pPalette[i] = RGBQUAD{blue, green, red, 0};
    }
}

// Decodes one row of every plane into `line`; false when the data ends before it is done.
bool DecodeLine(ByteReader& r, const Header& h, uint8_t* line, size_t bytes) {
    size_t at = 0;
    auto put = [&](uint8_t v, size_t n) {
        n = std::min(n, bytes - at);
        std::memset(line + at, v, n);
        at += n;
    };
    while (at < bytes) {
        const uint8_t c = r.u8();
        if (!r.ok()) return false;
        if (c == 0) {
            const uint8_t n = r.u8();
            if (!r.has(size_t(h.patternLength))) return false;
            const uint8_t* pattern = r.here();
            r.skip(size_t(h.patternLength));
            for (int k = 0; k < n && at < bytes; ++k)
                for (int i = 0; i < h.patternLength && at < bytes; ++i) line[at++] = pattern[i];
        } else if (c == 0x80) {
            const size_t n = r.u8();
            if (!r.has(n)) return false;
            const size_t m = std::min(n, bytes - at);
            std::memcpy(line + at, r.here(), m);
            at += m;
            r.skip(n);
        } else {
            put(c & 0x80 ? 0xFF : 0x00, c & 0x7F);
        }
    }
    return true;
}

// The pixel values of a row from its planes.
void MergePlanes(const Header& h, const uint8_t* line, uint8_t* dst, int depth) {
    if (h.planes == 1) {
        std::memcpy(dst, line, h.rowBytes);
        return;
    }
    for (int x = 0; x < h.width; ++x) {
        unsigned v = 0;
        for (int p = 0; p < h.planes; ++p)
            if (line[size_t(p) * h.rowBytes + size_t(x >> 3)] & (0x80 >> (x & 7))) v |= 1u << p;
        if (depth == 8)
            dst[x] = uint8_t(v);
        else
            dst[x >> 1] |= uint8_t(x & 1 ? v : v << 4);
    }
}

bool Sniff(const uint8_t* d, size_t size) {
    Header h;
    // Version 1 and 2 are what GEM and its followers write; headers are 8 words or an XIMG.
    // Deeper pictures (24 planes) are still GEM files, refused for their depth.
    const int rc = size >= 16 ? ParseHeader(d, size, h) : ERROR_FILE_FORMAT;
    return (rc == SUCCESS || (rc == ERROR_BITPERPIXEL && h.planes <= 32)) &&
           (h.version == 1 || h.version == 2) &&
           (h.headerWords == 8 || h.headerWords == 9 || h.ximg);
}

int Info(const uint8_t* d, size_t size, FILEINFO* info) {
    Header h;
    int rc = ParseHeader(d, size, h);
    if (rc != SUCCESS) return rc;
    info->Format = FILE_GEM;
    info->Width = h.width;
    info->Height = h.height;
    info->BitsPerPixel = Depth(h);
    info->Colors = 1 << h.planes;
    info->Compression = 1;
    info->Passes = 1;
    info->XResolution = Dpi(h.micronsX);
    info->YResolution = Dpi(h.micronsY);
    return SUCCESS;
}

int Load(const uint8_t* d, size_t size, BITMAPHANDLE* out, LoadContext& ctx) {
    Header h;
    int rc = ParseHeader(d, size, h);
    if (rc != SUCCESS) return rc;
    const int depth = Depth(h);
    rc = L_CheckImageSize(h.width, h.height, depth, nullptr, nullptr);
    if (rc != SUCCESS) return rc;
    const size_t lineBytes = h.rowBytes * size_t(h.planes);
    L_InitBitmap(out, h.width, h.height, depth);
    if (ctx.CheckWorkingMemory(lineBytes, out) != SUCCESS) {
        L_InitBitmap(out, 0, 0, 0);
        return ERROR_FILE_FORMAT;
    }
    std::vector<uint8_t> line;
    try {
        line.resize(lineBytes);
    } catch (const std::bad_alloc&) {
        L_InitBitmap(out, 0, 0, 0);
        return ERROR_NO_MEMORY;
    }
    rc = AllocatePixels(out);
    if (rc != SUCCESS) {
        L_InitBitmap(out, 0, 0, 0);
        return rc;
    }
    SetPalette(h, d, size, out);
    out->XResolution = Dpi(h.micronsX);
    out->YResolution = Dpi(h.micronsY);
    ByteReader r(d, size);
    r.seek(size_t(h.headerWords) * 2);
    int rows = 0;
    while (rows < h.height) {
        int repeat = 1;
        if (r.has(4) && r.here()[0] == 0 && r.here()[1] == 0 && r.here()[2] == 0xFF) {
            repeat = std::max<int>(1, r.here()[3]);
            r.skip(4);
        }
        if (!DecodeLine(r, h, line.data(), lineBytes)) break;
        for (int k = 0; k < repeat && rows < h.height; ++k, ++rows)
            MergePlanes(h, line.data(), L_RowPtr(out, rows), depth);
    }
    return ctx.FinishRows(out, rows, h.height, rc);
}

bool CanSave(int format, int bpp) { return format == FILE_GEM && bpp == 1; }

void Put16(std::vector<uint8_t>& o, unsigned v) {
    o.push_back(uint8_t(v >> 8));
    o.push_back(uint8_t(v));
}

// One row as solid runs of 0 and 0xFF bytes and bit strings of the others.
void EncodeRow(const uint8_t* row, size_t n, std::vector<uint8_t>& out) {
    auto solid = [](uint8_t v) { return v == 0 || v == 0xFF; };
    size_t i = 0;
    while (i < n) {
        if (solid(row[i])) {
            size_t run = 1;
            while (i + run < n && run < 127 && row[i + run] == row[i]) ++run;
            out.push_back(uint8_t((row[i] & 0x80) | run));
            i += run;
            continue;
        }
        // A bit string up to the next solid pair, which is cheaper as a run.
        size_t j = i + 1;
        while (j < n && j - i < 255 && !(solid(row[j]) && j + 1 < n && row[j + 1] == row[j])) ++j;
        out.push_back(0x80);
        out.push_back(uint8_t(j - i));
        out.insert(out.end(), row + i, row + j);
        i = j;
    }
}

int Save(const BITMAPHANDLE* b, int format, int, std::vector<uint8_t>& out) {
    if (!CanSave(format, b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    if (b->Width < 1 || b->Width > 0xFFFF || b->Height > 0xFFFF) return ERROR_INV_RANGE;
    EXTFILEOPTIONS opt;
    L_GetExtFileOption(&opt);
    auto microns = [](int dpi) {
        return dpi > 0 ? std::clamp((25400 + dpi / 2) / dpi, 1, 0xFFFF) : 353;
    };
    const int xdpi = b->XResolution > 0 ? b->XResolution : opt.XResolution;
    const int ydpi = b->YResolution > 0 ? b->YResolution : opt.YResolution;
    const bool invert = BlackIndex(b) == 0;
    const size_t rowBytes = (size_t(b->Width) + 7) / 8;
    try {
        out.clear();
        for (unsigned v : {1u, 8u, 1u, 2u, unsigned(microns(xdpi)), unsigned(microns(ydpi)),
                           unsigned(b->Width), unsigned(b->Height)})
            Put16(out, v);
        std::vector<uint8_t> row(rowBytes), next(rowBytes);
        auto fetch = [&](int y, std::vector<uint8_t>& dst) {
            const uint8_t* s = L_RowPtr(b, y);
            for (size_t i = 0; i < rowBytes; ++i) dst[i] = invert ? uint8_t(~s[i]) : s[i];
            if (b->Width % 8 && !dst.empty()) dst.back() &= uint8_t(0xFF00 >> (b->Width % 8));
        };
        for (int y = 0; y < b->Height;) {
            fetch(y, row);
            int repeat = 1;
            while (y + repeat < b->Height && repeat < 255) {
                fetch(y + repeat, next);
                if (next != row) break;
                ++repeat;
            }
            if (repeat > 1) out.insert(out.end(), {0, 0, 0xFF, uint8_t(repeat)});
            EncodeRow(row.data(), rowBytes, out);
            y += repeat;
        }
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    return SUCCESS;
}

bool HandlesFormat(int format) { return format == FILE_GEM; }

} // namespace

extern const Codec kGemCodec = {"gem", Sniff, Info, Load, CanSave, Save, nullptr, HandlesFormat};

} // namespace lt::codec
