// IBM IOCA bilevel images (function set 10), alone or inside a MO:DCA document.
//
// An image segment is a run of self-defining fields: a one-byte id and a one-byte length
// (Begin Segment 0x70, Begin Image Content 0x91, Image Size 0x94, Image Encoding 0x95, IDE
// Size 0x96, End Image Content 0x93, End Segment 0x71, ...), or 0xFE, a second id byte and a
// two-byte length (Image Data 0xFE92, which may come many times: the coded page is their
// concatenation). Numbers are big-endian. The page is coded as group 3 one-dimensional
// (0x80), group 3 two-dimensional (0x81), or group 4 (0x82, and IBM's MMR, 0x01), most
// significant bit first, a 1 bit being a significant (black) point.
//
// A MO:DCA document is a run of structured fields: 0x5A, a two-byte length counting from
// itself, a three-byte id, a flag byte and two reserved bytes, then the data. The first
// image object's Image Picture Data fields (D3EEFB) carry the segment, again in pieces;
// its Image Data Descriptor (D3A6FB) gives the size when the segment does not.
//
// Writing gives a segment with one Image Data field per 32 KiB; wrapped, a one-page
// document whose page is the size of the picture.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "ByteReader.h"
#include "Codec.h"

namespace lt::codec {
namespace {

enum Compression : uint8_t { kIbmMmr = 0x01, kG3Mh = 0x80, kG3Mr = 0x81, kG4 = 0x82 };

struct Segment {
    int width = 0, height = 0;
    int unitBase = -1, hres = 0, vres = 0;
    int compression = -1, ideSize = 1;
    std::vector<uint8_t> data; // the coded page; only filled when asked for
};

uint16_t Be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

// Reads the fields of an image segment. `withData` copies the coded page out.
int ParseSegment(const uint8_t* d, size_t size, bool withData, Segment& s) {
    if (size < 2 || d[0] != 0x70) return ERROR_FILE_FORMAT;
    size_t pos = 0;
    bool ended = false;
    try {
        while (!ended && pos + 2 <= size) {
            const uint8_t id = d[pos];
            if (id == 0xFE) {
                if (pos + 4 > size) break;
                const uint8_t id2 = d[pos + 1];
                const size_t len = Be16(d + pos + 2);
                const size_t avail = std::min(len, size - (pos + 4));
                if (id2 == 0x92 && withData)
                    s.data.insert(s.data.end(), d + pos + 4, d + pos + 4 + avail);
                pos += 4 + len;
                continue;
            }
            const size_t len = d[pos + 1];
            if (pos + 2 + len > size) break;
            const uint8_t* v = d + pos + 2;
            switch (id) {
                case 0x94:
                    if (len < 9) return ERROR_FILE_FORMAT;
                    s.unitBase = v[0];
                    s.hres = Be16(v + 1);
                    s.vres = Be16(v + 3);
                    s.width = Be16(v + 5);
                    s.height = Be16(v + 7);
                    break;
                case 0x95:
                    if (len < 1) return ERROR_FILE_FORMAT;
                    s.compression = v[0];
                    break;
                case 0x96:
                    if (len < 1) return ERROR_FILE_FORMAT;
                    s.ideSize = v[0];
                    break;
                case 0x71: ended = true; break;
                default: break; // names, look-up tables, colours: nothing we need
            }
            pos += 2 + len;
        }
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    // Pictures without an encoding field are uncompressed, which we do not read.
    if (s.compression == -1 || s.compression == 0x03) return ERROR_FEATURE_NOT_SUPPORTED;
    if (s.compression != kIbmMmr && s.compression != kG3Mh && s.compression != kG3Mr &&
        s.compression != kG4)
        return ERROR_FEATURE_NOT_SUPPORTED;
    if (s.ideSize != 1) return ERROR_FEATURE_NOT_SUPPORTED;
    return SUCCESS;
}

// Dots per inch from a resolution per unit base (0: ten inches, 1: ten centimetres).
int Dpi(int unitBase, int res) {
    if (res <= 0) return 0;
    if (unitBase == 0) return int(std::lround(res / 10.0));
    if (unitBase == 1) return int(std::lround(res * 2.54 / 10.0));
    return 0;
}

int FormatOf(int compression, bool wrapped) {
    const int base = wrapped ? FILE_MODCA_G3_1DIM : FILE_IOCA_G3_1DIM;
    if (compression == kG3Mh) return base;
    if (compression == kG3Mr) return base + 1;
    return base + 2;
}

ccitt::Params ParamsOf(int compression) {
    ccitt::Params p;
    p.coding = compression == kG3Mh   ? ccitt::Coding::MH
               : compression == kG3Mr ? ccitt::Coding::MR
                                      : ccitt::Coding::MMR;
    p.rowStart = ccitt::RowStart::Eol;
    return p;
}

// ---------------------------------------------------------------------------
// The MO:DCA wrapper.

constexpr uint32_t kBDT = 0xD3A8A8, kEDT = 0xD3A9A8, kBPG = 0xD3A8AF, kEPG = 0xD3A9AF,
                   kBAG = 0xD3A8C9, kEAG = 0xD3A9C9, kPGD = 0xD3A6AF, kBIM = 0xD3A8FB,
                   kEIM = 0xD3A9FB, kBOG = 0xD3A8C7, kEOG = 0xD3A9C7, kOBD = 0xD3A66B,
                   kOBP = 0xD3AC6B, kIDD = 0xD3A6FB, kIPD = 0xD3EEFB;

// The segment carried by the document's first image object, and the size its descriptor
// gives.
struct Wrapped {
    std::vector<uint8_t> segment;
    int width = 0, height = 0, unitBase = -1, hres = 0, vres = 0;
};

int Unwrap(const uint8_t* d, size_t size, Wrapped& w) {
    size_t pos = 0;
    bool inImage = false, sawImage = false;
    try {
        while (pos + 9 <= size && d[pos] == 0x5A) {
            const size_t len = Be16(d + pos + 1);
            if (len < 8) return ERROR_FILE_FORMAT;
            const uint32_t id = uint32_t(d[pos + 3]) << 16 | uint32_t(d[pos + 4]) << 8 | d[pos + 5];
            const uint8_t flags = d[pos + 6];
            // A field cut by the end of the file keeps what it holds.
            size_t end = std::min(pos + 1 + len, size);
            size_t at = pos + 9;
            if (flags & 0x80) { // an extension before the data: its length counts itself
                if (at >= end) return ERROR_FILE_FORMAT;
                at += d[at];
            }
            if (flags & 0x08 && end > at) { // padding at the end, its length last
                size_t pad = d[end - 1];
                if (pad == 0 && end - at >= 3) pad = Be16(d + end - 3);
                end = pad <= end - at ? end - pad : at;
            }
            if (at > end) at = end;
            if (id == kBIM && !sawImage)
                inImage = sawImage = true;
            else if (id == kEIM)
                inImage = false;
            else if (inImage && id == kIPD)
                w.segment.insert(w.segment.end(), d + at, d + end);
            else if (inImage && id == kIDD && end - at >= 9) {
                w.unitBase = d[at];
                w.hres = Be16(d + at + 1);
                w.vres = Be16(d + at + 3);
                w.width = Be16(d + at + 5);
                w.height = Be16(d + at + 7);
            } else if (id == kEDT) {
                break;
            }
            pos += 1 + len;
        }
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    return w.segment.empty() ? ERROR_FILE_FORMAT : SUCCESS;
}

// The segment of a raw or wrapped file, its size completed from the wrapper's descriptor.
int Parse(const uint8_t* d, size_t size, bool wrapped, bool withData, Segment& s) {
    if (!wrapped) {
        int rc = ParseSegment(d, size, withData, s);
        if (rc == SUCCESS && (s.width <= 0 || s.height <= 0)) rc = ERROR_FILE_FORMAT;
        return rc;
    }
    Wrapped w;
    int rc = Unwrap(d, size, w);
    if (rc != SUCCESS) return rc;
    rc = ParseSegment(w.segment.data(), w.segment.size(), withData, s);
    if (rc != SUCCESS) return rc;
    if (s.width <= 0 || s.height <= 0) {
        s.width = w.width;
        s.height = w.height;
    }
    if (s.unitBase < 0) {
        s.unitBase = w.unitBase;
        s.hres = w.hres;
        s.vres = w.vres;
    }
    return s.width > 0 && s.height > 0 ? SUCCESS : ERROR_FILE_FORMAT;
}

void Resolution(const Segment& s, int* x, int* y) {
    *x = Dpi(s.unitBase, s.hres);
    *y = Dpi(s.unitBase, s.vres);
    if (*x <= 0 || *y <= 0) {
        EXTFILEOPTIONS ext;
        L_GetExtFileOption(&ext);
        *x = ext.XResolution;
        *y = ext.YResolution;
    }
}

int InfoOf(const uint8_t* d, size_t size, bool wrapped, FILEINFO* info) {
    Segment s;
    int rc = Parse(d, size, wrapped, false, s);
    if (rc != SUCCESS) return rc;
    info->Format = FormatOf(s.compression, wrapped);
    info->Width = s.width;
    info->Height = s.height;
    info->BitsPerPixel = 1;
    info->Colors = 2;
    info->Compression = s.compression;
    info->Passes = 1;
    Resolution(s, &info->XResolution, &info->YResolution);
    return SUCCESS;
}

int LoadOf(const uint8_t* d, size_t size, bool wrapped, BITMAPHANDLE* out, LoadContext& ctx) {
    Segment s;
    int rc = Parse(d, size, wrapped, true, s);
    if (rc != SUCCESS) return rc;
    int xdpi = 0, ydpi = 0;
    Resolution(s, &xdpi, &ydpi);
    return LoadFaxPage(s.data.data(), s.data.size(), s.width, s.height, ParamsOf(s.compression),
                       xdpi, ydpi, out, ctx);
}

// ---------------------------------------------------------------------------
// Writing.

void Put16(std::vector<uint8_t>& o, unsigned v) {
    o.push_back(uint8_t(v >> 8));
    o.push_back(uint8_t(v));
}
void Put24(std::vector<uint8_t>& o, unsigned v) {
    o.push_back(uint8_t(v >> 16));
    Put16(o, v & 0xffff);
}

int CompressionFor(int format) {
    switch (format) {
        case FILE_IOCA_G3_1DIM:
        case FILE_MODCA_G3_1DIM: return kG3Mh;
        case FILE_IOCA_G3_2DIM:
        case FILE_MODCA_G3_2DIM: return kG3Mr;
        default: return kG4;
    }
}

bool IsRaw(int format) { return format >= FILE_IOCA_G3_1DIM && format <= FILE_IOCA_G4; }
bool IsWrapped(int format) { return format >= FILE_MODCA_G3_1DIM && format <= FILE_MODCA_G4; }

// Resolution in the units of a ten-inch base.
unsigned TenInchUnits(int dpi) { return unsigned(std::clamp(dpi > 0 ? dpi : 72, 1, 3276) * 10); }

int SaveSegment(const BITMAPHANDLE* b, int format, std::vector<uint8_t>& out) {
    // Sizes are 15-bit numbers in both the segment and the document.
    if (b->Width > 0x7fff || b->Height > 0x7fff) return ERROR_FEATURE_NOT_SUPPORTED;
    const int compression = CompressionFor(format);
    std::vector<uint8_t> page;
    int rc = SaveFaxPage(b, ParamsOf(compression), page);
    if (rc != SUCCESS) return rc;
    out.insert(out.end(), {0x70, 0x00, 0x91, 0x01, 0xFF, 0x94, 0x09, 0x00});
    Put16(out, TenInchUnits(b->XResolution));
    Put16(out, TenInchUnits(b->YResolution));
    Put16(out, unsigned(b->Width));
    Put16(out, unsigned(b->Height));
    out.insert(out.end(), {0x95, 0x02, uint8_t(compression), 0x01, 0x96, 0x01, 0x01});
    constexpr size_t kPiece = 0x8000;
    for (size_t at = 0; at < page.size(); at += kPiece) {
        const size_t n = std::min(kPiece, page.size() - at);
        out.insert(out.end(), {0xFE, 0x92});
        Put16(out, unsigned(n));
        out.insert(out.end(), page.begin() + long(at), page.begin() + long(at + n));
    }
    out.insert(out.end(), {0x93, 0x00, 0x71, 0x00});
    return SUCCESS;
}

void PutField(std::vector<uint8_t>& o, uint32_t id, const uint8_t* data, size_t n) {
    o.push_back(0x5A);
    Put16(o, unsigned(8 + n));
    Put24(o, id);
    o.insert(o.end(), {0x00, 0x00, 0x00});
    o.insert(o.end(), data, data + n);
}
void PutField(std::vector<uint8_t>& o, uint32_t id, const std::vector<uint8_t>& data) {
    PutField(o, id, data.data(), data.size());
}

int SaveDocument(const BITMAPHANDLE* b, int format, std::vector<uint8_t>& out) {
    std::vector<uint8_t> segment;
    int rc = SaveSegment(b, format, segment);
    if (rc != SUCCESS) return rc;
    const unsigned xu = TenInchUnits(b->XResolution), yu = TenInchUnits(b->YResolution);
    const unsigned w = unsigned(b->Width), h = unsigned(b->Height);
    // Names are eight EBCDIC characters: "QUILLO01" would need a code page; blanks will do.
    const std::vector<uint8_t> name(8, 0x40);
    std::vector<uint8_t> docName = name;
    docName.insert(docName.end(), {0x00, 0x00});
    PutField(out, kBDT, docName);
    PutField(out, kBPG, name);
    PutField(out, kBAG, name);
    std::vector<uint8_t> pgd = {0x00, 0x00};
    Put16(pgd, xu);
    Put16(pgd, yu);
    Put24(pgd, w);
    Put24(pgd, h);
    pgd.insert(pgd.end(), {0x00, 0x00, 0x00});
    PutField(out, kPGD, pgd);
    PutField(out, kEAG, name);
    PutField(out, kBIM, name);
    PutField(out, kBOG, name);
    // Object area: where the picture goes (the page's origin) and how large it is.
    std::vector<uint8_t> obd = {0x03, 0x43, 0x01, 0x08, 0x4B, 0x00, 0x00};
    Put16(obd, xu);
    Put16(obd, yu);
    obd.insert(obd.end(), {0x09, 0x4C, 0x02});
    Put24(obd, w);
    Put24(obd, h);
    PutField(out, kOBD, obd);
    std::vector<uint8_t> obp = {0x01, 0x17, 0, 0, 0, 0, 0, 0,    0x00, 0x00, 0x2D, 0x00,
                                0x00, 0,    0, 0, 0, 0, 0, 0x00, 0x00, 0x2D, 0x00, 0x01};
    PutField(out, kOBP, obp);
    std::vector<uint8_t> idd = {0x00};
    Put16(idd, xu);
    Put16(idd, yu);
    Put16(idd, w);
    Put16(idd, h);
    idd.insert(idd.end(), {0xF7, 0x02, 0x01, 0x0A}); // function set 10
    PutField(out, kIDD, idd);
    PutField(out, kEOG, name);
    constexpr size_t kPiece = 32759 - 7; // a field holds 32767 bytes counting its length
    for (size_t at = 0; at < segment.size(); at += kPiece)
        PutField(out, kIPD, segment.data() + at, std::min(kPiece, segment.size() - at));
    PutField(out, kEIM, name);
    PutField(out, kEPG, name);
    PutField(out, kEDT, name);
    return SUCCESS;
}

// ---------------------------------------------------------------------------
// The two codecs.

bool SniffRaw(const uint8_t* d, size_t size) {
    if (size < 5 || d[0] != 0x70) return false;
    const size_t at = 2 + size_t(d[1]);
    return at + 3 <= size && d[at] == 0x91 && d[at + 1] == 0x01 && d[at + 2] == 0xFF;
}
bool SniffWrapped(const uint8_t* d, size_t size) {
    return size >= 9 && d[0] == 0x5A && Be16(d + 1) >= 8 && d[3] == 0xD3 &&
           (d[4] == 0xA8 || d[4] == 0xEE);
}

int InfoRaw(const uint8_t* d, size_t n, FILEINFO* i) { return InfoOf(d, n, false, i); }
int InfoWrapped(const uint8_t* d, size_t n, FILEINFO* i) { return InfoOf(d, n, true, i); }
int LoadRaw(const uint8_t* d, size_t n, BITMAPHANDLE* o, LoadContext& c) {
    return LoadOf(d, n, false, o, c);
}
int LoadWrapped(const uint8_t* d, size_t n, BITMAPHANDLE* o, LoadContext& c) {
    return LoadOf(d, n, true, o, c);
}

bool CanSaveRaw(int format, int bpp) { return IsRaw(format) && bpp == 1; }
bool CanSaveWrapped(int format, int bpp) { return IsWrapped(format) && bpp == 1; }

int SaveRaw(const BITMAPHANDLE* b, int format, int, std::vector<uint8_t>& out) {
    if (!CanSaveRaw(format, b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    try {
        out.clear();
        return SaveSegment(b, format, out);
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
}
int SaveWrapped(const BITMAPHANDLE* b, int format, int, std::vector<uint8_t>& out) {
    if (!CanSaveWrapped(format, b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    try {
        out.clear();
        return SaveDocument(b, format, out);
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
}

} // namespace

extern const Codec kIocaCodec = {"ioca",     SniffRaw, InfoRaw, LoadRaw,
                                 CanSaveRaw, SaveRaw,  nullptr, IsRaw};
extern const Codec kModcaCodec = {"modca",        SniffWrapped, InfoWrapped, LoadWrapped,
                                  CanSaveWrapped, SaveWrapped,  nullptr,     IsWrapped};

} // namespace lt::codec
