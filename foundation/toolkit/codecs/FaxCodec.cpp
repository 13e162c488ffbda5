// Fax pages (.fxs, the "WinFax images" type): a small header of ours in front of one group 3
// page, one-dimensional (code 70, what we write) or two-dimensional (code 69).
// docs/fxs-format.md describes the layout. Fax software's own .fxs files use containers of
// their own and are not recognised here.
#include <algorithm>
#include <cstring>
#include <new>

#include "ByteReader.h"
#include "Codec.h"

namespace lt::codec {
namespace {

constexpr uint8_t kMagic[4] = {'Q', 'F', 'X', 'S'};
constexpr size_t kHeader = 28;
constexpr uint8_t kVersion = 1;
enum Coding : uint8_t { kMH = 1, kMR = 2 };
constexpr uint8_t kLsbFirst = 1;
// Standard fax resolution when the bitmap has none: 204 x 196 dots per inch ("fine").
constexpr int kFaxXdpi = 204, kFaxYdpi = 196;

struct Header {
    int coding = 0;
    bool lsbFirst = false;
    int width = 0, height = 0, xdpi = 0, ydpi = 0;
    size_t payload = 0;
};

int ParseHeader(const uint8_t* d, size_t size, Header& h) {
    if (size < kHeader || std::memcmp(d, kMagic, 4) != 0) return ERROR_FILE_FORMAT;
    ByteReader r(d + 4, kHeader - 4);
    if (r.u8() != kVersion) return ERROR_FEATURE_NOT_SUPPORTED;
    h.coding = r.u8();
    const uint8_t flags = r.u8();
    r.u8();
    const uint32_t w = r.u32le(), ht = r.u32le(), xd = r.u32le(), yd = r.u32le();
    const uint32_t payload = r.u32le();
    if (!r.ok()) return ERROR_FILE_FORMAT;
    if (h.coding != kMH && h.coding != kMR) return ERROR_FILE_FORMAT;
    if (w == 0 || ht == 0 || w > 0x7fffffff || ht > 0x7fffffff) return ERROR_FILE_FORMAT;
    h.lsbFirst = flags & kLsbFirst;
    h.width = int(w);
    h.height = int(ht);
    h.xdpi = xd > 0 && xd <= 100000 ? int(xd) : 0;
    h.ydpi = yd > 0 && yd <= 100000 ? int(yd) : 0;
    // A file cut short keeps the rows it holds; the decoder tells where they end.
    h.payload = std::min<size_t>(payload, size - kHeader);
    return SUCCESS;
}

bool Sniff(const uint8_t* d, size_t size) { return size >= 4 && std::memcmp(d, kMagic, 4) == 0; }

int Info(const uint8_t* data, size_t size, FILEINFO* info) {
    Header h;
    int rc = ParseHeader(data, size, h);
    if (rc != SUCCESS) return rc;
    info->Format = h.coding == kMH ? FILE_WINFAX_G3_1DIM : FILE_WINFAX_G3_2DIM;
    info->Width = h.width;
    info->Height = h.height;
    info->BitsPerPixel = 1;
    info->Colors = 2;
    info->Compression = h.coding == kMH ? 2 : 3; // as TIFF numbers them
    info->Passes = 1;
    info->XResolution = h.xdpi;
    info->YResolution = h.ydpi;
    return SUCCESS;
}

ccitt::Params PageParams(int coding, bool lsbFirst) {
    ccitt::Params p;
    p.coding = coding == kMH ? ccitt::Coding::MH : ccitt::Coding::MR;
    p.order = lsbFirst ? ccitt::BitOrder::LsbFirst : ccitt::BitOrder::MsbFirst;
    p.rowStart = ccitt::RowStart::Eol;
    return p;
}

int Load(const uint8_t* data, size_t size, BITMAPHANDLE* out, LoadContext& ctx) {
    Header h;
    int rc = ParseHeader(data, size, h);
    if (rc != SUCCESS) return rc;
    return LoadFaxPage(data + kHeader, h.payload, h.width, h.height,
                       PageParams(h.coding, h.lsbFirst), h.xdpi, h.ydpi, out, ctx);
}

bool HandlesFormat(int format) {
    return format == FILE_WINFAX_G3_1DIM || format == FILE_WINFAX_G3_2DIM;
}

bool CanSave(int format, int bpp) { return HandlesFormat(format) && bpp == 1; }

void PutLE32(std::vector<uint8_t>& o, uint32_t v) {
    PutLE16(o, v & 0xffff);
    PutLE16(o, v >> 16);
}

int Save(const BITMAPHANDLE* b, int format, int, std::vector<uint8_t>& out) {
    if (!CanSave(format, b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    const uint8_t coding = format == FILE_WINFAX_G3_1DIM ? kMH : kMR;
    const bool hasDpi = b->XResolution > 0 && b->YResolution > 0;
    try {
        out.assign(kMagic, kMagic + 4);
        out.push_back(kVersion);
        out.push_back(coding);
        out.push_back(0); // flags: most significant bit first
        out.push_back(0);
        PutLE32(out, uint32_t(b->Width));
        PutLE32(out, uint32_t(b->Height));
        PutLE32(out, uint32_t(hasDpi ? b->XResolution : kFaxXdpi));
        PutLE32(out, uint32_t(hasDpi ? b->YResolution : kFaxYdpi));
        PutLE32(out, 0); // payload length, known once coded
        int rc = SaveFaxPage(b, PageParams(coding, false), out);
        if (rc != SUCCESS) return rc;
        const uint32_t payload = uint32_t(out.size() - kHeader);
        for (int i = 0; i < 4; ++i) out[24 + i] = uint8_t(payload >> (8 * i));
        return SUCCESS;
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
}

} // namespace

extern const Codec kFaxCodec = {"fax", Sniff, Info, Load, CanSave, Save, nullptr, HandlesFormat};

} // namespace lt::codec
