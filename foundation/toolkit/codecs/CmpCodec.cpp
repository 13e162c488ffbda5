// Quillo's own compressed pictures (.cmp): a small header of ours in front of either a JPEG
// stream (8-bit gray and 24-bit colour, lossy, code 20) or a group 4 fax page (1 bit,
// lossless, code 26). docs/cmp-format.md describes the layout. Files other programs wrote
// under the same extension use containers of their own and are not recognised here.
//
// Reading believes nothing in the header it can check against the payload: the JPEG
// stream's own size and depth must agree with the header's before any pixel is decoded.
#include <cstring>
#include <new>

#include "ByteReader.h"
#include "Codec.h"

namespace lt::codec {
namespace {

constexpr uint8_t kMagic[4] = {'Q', 'C', 'M', 'P'};
constexpr size_t kHeader = 36;
constexpr uint8_t kVersion = 1;
enum Coding : uint8_t { kJpeg = 1, kGroup4 = 2 };

struct Header {
    int coding = 0, bpp = 0, blackIndex = 1;
    int width = 0, height = 0, xdpi = 0, ydpi = 0;
    size_t payload = 0;
    RGBQUAD palette[2] = {};
};

int ParseHeader(const uint8_t* d, size_t size, Header& h) {
    if (size < kHeader || std::memcmp(d, kMagic, 4) != 0) return ERROR_FILE_FORMAT;
    ByteReader r(d + 4, kHeader - 4);
    if (r.u8() != kVersion) return ERROR_FEATURE_NOT_SUPPORTED;
    h.coding = r.u8();
    h.bpp = r.u8();
    const uint8_t flags = r.u8();
    const uint32_t w = r.u32le(), ht = r.u32le(), xd = r.u32le(), yd = r.u32le();
    const uint32_t payload = r.u32le();
    for (RGBQUAD& q : h.palette) {
        q.rgbBlue = r.u8();
        q.rgbGreen = r.u8();
        q.rgbRed = r.u8();
        q.rgbReserved = 0;
        r.u8();
    }
    if (!r.ok()) return ERROR_FILE_FORMAT;
    const bool jpeg = h.coding == kJpeg && (h.bpp == 8 || h.bpp == 24);
    const bool fax = h.coding == kGroup4 && h.bpp == 1;
    if (!jpeg && !fax) return ERROR_FILE_FORMAT;
    if (w == 0 || ht == 0 || w > 0x7fffffff || ht > 0x7fffffff) return ERROR_FILE_FORMAT;
    if (payload > size - kHeader) return ERROR_FILE_FORMAT;
    h.width = int(w);
    h.height = int(ht);
    h.xdpi = xd > 0 && xd <= 100000 ? int(xd) : 0;
    h.ydpi = yd > 0 && yd <= 100000 ? int(yd) : 0;
    h.payload = payload;
    h.blackIndex = flags & 1 ? 0 : 1;
    return SUCCESS;
}

bool Sniff(const uint8_t* d, size_t size) { return size >= 4 && std::memcmp(d, kMagic, 4) == 0; }

int Info(const uint8_t* data, size_t size, FILEINFO* info) {
    Header h;
    int rc = ParseHeader(data, size, h);
    if (rc != SUCCESS) return rc;
    info->Format = h.coding == kJpeg ? FILE_CMP : FILE_CMP_1BIT;
    info->Width = h.width;
    info->Height = h.height;
    info->BitsPerPixel = h.bpp;
    info->Colors = h.bpp == 24 ? 0 : 1 << h.bpp;
    info->Compression = h.coding;
    info->Passes = 1;
    info->XResolution = h.xdpi;
    info->YResolution = h.ydpi;
    return SUCCESS;
}

int LoadJpeg(const uint8_t* p, const Header& h, BITMAPHANDLE* out, LoadContext& ctx) {
    FILEINFO inner;
    int rc = kJpegCodec.Info(p, h.payload, &inner);
    if (rc != SUCCESS) return ERROR_FILE_FORMAT;
    if (inner.Width != h.width || inner.Height != h.height || inner.BitsPerPixel != h.bpp)
        return ERROR_FILE_FORMAT;
    return kJpegCodec.Load(p, h.payload, out, ctx);
}

int LoadGroup4(const uint8_t* p, const Header& h, BITMAPHANDLE* out, LoadContext& ctx) {
    int rc = LoadFaxPage(p, h.payload, h.width, h.height, ccitt::Params{ccitt::Coding::MMR}, h.xdpi,
                         h.ydpi, out, ctx);
    if (rc != SUCCESS) return rc;
    // The page codes the darker entry as black; when that is entry 0, the bits turn over.
    if (h.blackIndex == 0) {
        const size_t rowBytes = (size_t(h.width) + 7) / 8;
        const uint8_t tail = uint8_t(0xff << ((8 - h.width % 8) % 8));
        for (int y = 0; y < h.height; ++y) {
            uint8_t* row = L_RowPtr(out, y);
            for (size_t i = 0; i < rowBytes; ++i) row[i] = uint8_t(~row[i]);
            row[rowBytes - 1] &= tail;
        }
    }
    std::memcpy(out->pPalette, h.palette, sizeof h.palette);
    return SUCCESS;
}

int Load(const uint8_t* data, size_t size, BITMAPHANDLE* out, LoadContext& ctx) {
    Header h;
    int rc = ParseHeader(data, size, h);
    if (rc != SUCCESS) return rc;
    const uint8_t* payload = data + kHeader;
    rc = h.coding == kJpeg ? LoadJpeg(payload, h, out, ctx) : LoadGroup4(payload, h, out, ctx);
    if (rc != SUCCESS) return rc;
    out->XResolution = h.xdpi;
    out->YResolution = h.ydpi;
    return SUCCESS;
}

bool CanSave(int format, int bpp) {
    return (format == FILE_CMP && (bpp == 8 || bpp == 24)) || (format == FILE_CMP_1BIT && bpp == 1);
}

void PutLE32(std::vector<uint8_t>& o, uint32_t v) {
    PutLE16(o, v & 0xffff);
    PutLE16(o, v >> 16);
}

int Save(const BITMAPHANDLE* b, int format, int qfactor, std::vector<uint8_t>& out) {
    if (!CanSave(format, b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    try {
        std::vector<uint8_t> payload;
        int rc = format == FILE_CMP ? kJpegCodec.Save(b, FILE_JFIF, qfactor, payload)
                                    : SaveFaxPage(b, ccitt::Params{ccitt::Coding::MMR}, payload);
        if (rc != SUCCESS) return rc;
        if (payload.size() > 0xffffffffu) return ERROR_FEATURE_NOT_SUPPORTED;
        const bool fax = format == FILE_CMP_1BIT;
        const int black = fax ? BlackIndex(b) : 1;
        out.clear();
        out.reserve(kHeader + payload.size());
        out.insert(out.end(), kMagic, kMagic + 4);
        out.push_back(kVersion);
        out.push_back(fax ? kGroup4 : kJpeg);
        out.push_back(uint8_t(b->BitsPerPixel));
        out.push_back(black == 0 ? 1 : 0);
        PutLE32(out, uint32_t(b->Width));
        PutLE32(out, uint32_t(b->Height));
        PutLE32(out, uint32_t(b->XResolution > 0 ? b->XResolution : 0));
        PutLE32(out, uint32_t(b->YResolution > 0 ? b->YResolution : 0));
        PutLE32(out, uint32_t(payload.size()));
        for (int i = 0; i < 2; ++i) {
            // A 1-bit bitmap without a palette is black on white, index 0 black.
            const RGBQUAD def = i == 0 ? RGBQUAD{0, 0, 0, 0} : RGBQUAD{255, 255, 255, 0};
            const RGBQUAD q = fax ? (b->pPalette ? b->pPalette[i] : def) : RGBQUAD{};
            for (uint8_t v : {q.rgbBlue, q.rgbGreen, q.rgbRed, uint8_t(0)}) out.push_back(v);
        }
        out.insert(out.end(), payload.begin(), payload.end());
        return SUCCESS;
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
}

bool HandlesFormat(int format) { return format == FILE_CMP || format == FILE_CMP_1BIT; }

} // namespace

extern const Codec kCmpCodec = {"cmp", Sniff, Info, Load, CanSave, Save, nullptr, HandlesFormat};

} // namespace lt::codec
