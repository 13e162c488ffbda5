// Encapsulated PostScript, read only: plain files starting "%!PS", and DOS binary files
// (a 30-byte header, magic C5 D0 D3 C6, giving offset and length of the PostScript, a
// Windows metafile preview and a TIFF preview, all little-endian).
//
// A DOS file with a TIFF preview opens as that preview (format code 63), which needs no
// interpreter. Otherwise the PostScript (code 16) is rendered by Ghostscript in a child
// process (Ghostscript.h) at 72 dpi, white behind the drawing, on a page of the bounding box
// rounded out to whole points. The box comes from the %%BoundingBox comment (the first one,
// or the one in the trailer when the header says "(atend)"), so that the header alone gives
// the size and the memory a load takes. When there is no PostScript, or Ghostscript gives no
// picture (not installed, or failing), the Windows metafile preview opens instead, provided it
// carries a bitmap (a DIB drawing record, as the programs that make such previews write);
// metafiles made of vector drawing alone are not drawn.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "ByteReader.h"
#include "Codec.h"
#include "Ghostscript.h"

namespace lt::codec {
namespace {

constexpr uint8_t kDosMagic[4] = {0xC5, 0xD0, 0xD3, 0xC6};
constexpr size_t kDosHeader = 30;
constexpr int kResolution = 72;
// Where the bounding box comment may stand: the header comments, or the trailer.
constexpr size_t kCommentWindow = 64 * 1024;

struct Sections {
    const uint8_t* ps = nullptr;
    size_t psSize = 0;
    const uint8_t* tiff = nullptr;
    size_t tiffSize = 0;
    const uint8_t* wmf = nullptr;
    size_t wmfSize = 0;
};

// A section of a DOS file, or nothing when it does not lie within the file.
bool Section(size_t size, uint32_t offset, uint32_t length, size_t& start) {
    if (length == 0 || offset < kDosHeader || offset > size || length > size - offset) return false;
    start = offset;
    return true;
}

int SplitSections(const uint8_t* data, size_t size, Sections& s) {
    if (size >= 4 && std::memcmp(data, kDosMagic, 4) == 0) {
        ByteReader r(data, size);
        r.skip(4);
        const uint32_t psOff = r.u32le(), psLen = r.u32le();
        const uint32_t wmfOff = r.u32le(), wmfLen = r.u32le();
        const uint32_t tiffOff = r.u32le(), tiffLen = r.u32le();
        if (!r.ok()) return ERROR_FILE_FORMAT;
        size_t at = 0;
        if (Section(size, wmfOff, wmfLen, at)) {
            s.wmf = data + at;
            s.wmfSize = wmfLen;
        }
        if (Section(size, tiffOff, tiffLen, at)) {
            s.tiff = data + at;
            s.tiffSize = tiffLen;
        }
        if (Section(size, psOff, psLen, at)) {
            s.ps = data + at;
            s.psSize = psLen;
        }
        return s.ps || s.tiff || s.wmf ? SUCCESS : ERROR_FILE_FORMAT;
    }
    s.ps = data;
    s.psSize = size;
    return SUCCESS;
}

// The four numbers after "%%BoundingBox:" in `text`; false when there are none, or "(atend)".
bool ParseBox(std::string_view text, double box[4]) {
    static constexpr std::string_view kKey = "%%BoundingBox:";
    size_t at = 0;
    while ((at = text.find(kKey, at)) != std::string_view::npos) {
        // The comment starts a line.
        if (at != 0 && text[at - 1] != '\n' && text[at - 1] != '\r') {
            at += kKey.size();
            continue;
        }
        size_t p = at + kKey.size();
        const size_t eol = text.find_first_of("\r\n", p);
        std::string line(text.substr(p, eol == std::string_view::npos ? text.size() - p : eol - p));
        const char* c = line.c_str();
        int n = 0;
        for (; n < 4; ++n) {
            char* end = nullptr;
            box[n] = std::strtod(c, &end);
            if (end == c || !std::isfinite(box[n])) break;
            c = end;
        }
        if (n == 4) return true;
        at = p; // "(atend)", or a damaged line: a later one may serve
    }
    return false;
}

// The page Ghostscript renders: whole points around the box.
struct Box {
    int x = 0, y = 0, width = 0, height = 0;
};

int FindBox(const uint8_t* ps, size_t size, Box& b) {
    const std::string_view all(reinterpret_cast<const char*>(ps), size);
    double box[4];
    if (!ParseBox(all.substr(0, kCommentWindow), box) &&
        !(size > kCommentWindow && ParseBox(all.substr(size - kCommentWindow), box)))
        return ERROR_FILE_FORMAT;
    constexpr double kFar = 1e9;
    const double x = std::floor(box[0]), y = std::floor(box[1]);
    const double w = std::ceil(box[2]) - x, h = std::ceil(box[3]) - y;
    if (!(std::fabs(x) < kFar && std::fabs(y) < kFar && w >= 1 && h >= 1 && w <= 0x7FFFFFFF &&
          h <= 0x7FFFFFFF))
        return ERROR_FILE_FORMAT;
    b = Box{int(x), int(y), int(w), int(h)};
    return SUCCESS;
}

// The first bitmap a metafile draws, as a BMP file image (a file header in front of the DIB
// the record carries). False when the metafile is damaged or draws no bitmap.
bool MetafileBitmap(const uint8_t* wmf, size_t size, std::vector<uint8_t>& bmp) {
    static constexpr uint8_t kPlaceable[4] = {0xD7, 0xCD, 0xC6, 0x9A};
    const size_t start = size >= 22 && std::memcmp(wmf, kPlaceable, 4) == 0 ? 22 : 0;
    ByteReader h(wmf + start, size - start);
    const uint16_t type = h.u16le(), headerWords = h.u16le();
    if (!h.ok() || (type != 1 && type != 2) || headerWords != 9) return false;
    size_t at = start + 18;
    while (size - at >= 6) {
        ByteReader rec(wmf + at, size - at);
        const uint32_t words = rec.u32le();
        const uint16_t function = rec.u16le();
        if (function == 0 || words < 3 || words > (size - at) / 2) return false; // the end
        // Where the DIB starts in each record that carries one.
        size_t dibAt = 0;
        switch (function) {
            case 0x0940: dibAt = 22; break; // DIBBITBLT
            case 0x0B41: dibAt = 26; break; // DIBSTRETCHBLT
            case 0x0F43: dibAt = 28; break; // STRETCHDIB
            default: break;
        }
        const size_t recBytes = size_t(words) * 2;
        if (dibAt && recBytes > dibAt + 40) {
            const uint8_t* dib = wmf + at + dibAt;
            const size_t dibSize = recBytes - dibAt;
            ByteReader d(dib, dibSize);
            const uint32_t infoSize = d.u32le();
            d.skip(10);
            const uint16_t bpp = d.u16le();
            const uint32_t compression = d.u32le();
            d.skip(12);
            const uint32_t used = d.u32le();
            if (!d.ok() || infoSize < 40 || infoSize > dibSize) return false;
            uint64_t colors = used ? used : bpp <= 8 ? (1u << bpp) : 0;
            uint64_t offset = 14 + uint64_t(infoSize) + 4 * colors;
            if (compression == 3 && infoSize == 40) offset += 12; // the channel masks
            if (offset - 14 > dibSize) return false;
            bmp.assign({'B', 'M'});
            const uint32_t total = uint32_t(14 + dibSize);
            for (uint32_t v : {total, 0u, uint32_t(offset)}) {
                PutLE16(bmp, v & 0xffff);
                PutLE16(bmp, v >> 16);
            }
            bmp.insert(bmp.end(), dib, dib + dibSize);
            return true;
        }
        at += recBytes;
    }
    return false;
}

// Opens the metafile preview's bitmap; ERROR_FILE_FORMAT when there is none.
int LoadMetafilePreview(const Sections& s, BITMAPHANDLE* out, LoadContext& ctx) {
    std::vector<uint8_t> bmp;
    if (!s.wmf || !MetafileBitmap(s.wmf, s.wmfSize, bmp) ||
        !kBmpCodec.Sniff(bmp.data(), bmp.size()))
        return ERROR_FILE_FORMAT;
    FILEINFO fi;
    int rc = kBmpCodec.Info(bmp.data(), bmp.size(), &fi);
    if (rc != SUCCESS) return rc;
    rc = L_CheckImageSize(fi.Width, fi.Height, fi.BitsPerPixel, nullptr, nullptr);
    if (rc != SUCCESS) return rc;
    return kBmpCodec.Load(bmp.data(), bmp.size(), out, ctx);
}

bool Sniff(const uint8_t* data, size_t size) {
    if (size >= 4 && std::memcmp(data, kDosMagic, 4) == 0) return true;
    return size >= 4 && std::memcmp(data, "%!PS", 4) == 0;
}

int Info(const uint8_t* data, size_t size, FILEINFO* info) {
    Sections s;
    int rc = SplitSections(data, size, s);
    if (rc != SUCCESS) return rc;
    if (s.tiff && kTiffCodec.Sniff(s.tiff, s.tiffSize)) {
        rc = kTiffCodec.Info(s.tiff, s.tiffSize, info);
        if (rc == SUCCESS) info->Format = FILE_EPS_PREVIEW;
        return rc;
    }
    if (!s.ps) {
        std::vector<uint8_t> bmp;
        if (!s.wmf || !MetafileBitmap(s.wmf, s.wmfSize, bmp) ||
            !kBmpCodec.Sniff(bmp.data(), bmp.size()))
            return ERROR_FILE_FORMAT;
        rc = kBmpCodec.Info(bmp.data(), bmp.size(), info);
        if (rc == SUCCESS) info->Format = FILE_EPS_PREVIEW;
        return rc;
    }
    Box box;
    rc = FindBox(s.ps, s.psSize, box);
    if (rc != SUCCESS) return rc;
    info->Format = FILE_EPS;
    info->Width = box.width;
    info->Height = box.height;
    info->BitsPerPixel = 24;
    info->Colors = 0;
    info->Compression = 0;
    info->Passes = 1;
    info->XResolution = info->YResolution = kResolution;
    return SUCCESS;
}

int Load(const uint8_t* data, size_t size, BITMAPHANDLE* out, LoadContext& ctx) {
    Sections s;
    int rc = SplitSections(data, size, s);
    if (rc != SUCCESS) return rc;
    if (s.tiff && kTiffCodec.Sniff(s.tiff, s.tiffSize))
        return kTiffCodec.Load(s.tiff, s.tiffSize, out, ctx);
    if (!s.ps) return LoadMetafilePreview(s, out, ctx);
    Box box;
    rc = FindBox(s.ps, s.psSize, box);
    if (rc != SUCCESS) return rc;
    const int w = box.width, h = box.height;
    size_t bytes = 0;
    L_INT stride = 0;
    rc = L_CheckImageSize(w, h, 24, &bytes, &stride);
    if (rc != SUCCESS) return rc;
    // The interpreter's file (a BMP of the same rows and a header) and the picture decoded
    // from it are held at once.
    const uint64_t fileBytes = uint64_t(bytes) + 1024;
    if (ctx.CheckWorkingMemory(fileBytes + bytes, nullptr) != SUCCESS) return ERROR_FILE_FORMAT;
    std::vector<uint8_t> bmp;
    rc = RenderPostScript(s.ps, s.psSize, box.x, box.y, w, h, RenderLimits{}, fileBytes, bmp);
    // Without a rendering the preview is better than nothing (its own size, not the box's).
    if (rc != SUCCESS && s.wmf && LoadMetafilePreview(s, out, ctx) == SUCCESS) return SUCCESS;
    if (rc != SUCCESS) return rc;
    if (!kBmpCodec.Sniff(bmp.data(), bmp.size())) return ERROR_FILE_FORMAT;
    LoadContext inner(nullptr, nullptr, nullptr, bmp.size());
    rc = kBmpCodec.Load(bmp.data(), bmp.size(), out, inner);
    if (rc != SUCCESS) return rc;
    if (out->Width != w || out->Height != h || out->BitsPerPixel != 24) {
        L_FreeBitmap(out);
        L_InitBitmap(out, 0, 0, 0);
        return ERROR_FILE_FORMAT;
    }
    out->XResolution = out->YResolution = kResolution;
    return ctx.FinishRows(out, h, h, SUCCESS);
}

bool CanSave(int, int) { return false; }

int Save(const BITMAPHANDLE*, int, int, std::vector<uint8_t>&) {
    return ERROR_FEATURE_NOT_SUPPORTED;
}

int Stamp(const uint8_t* data, size_t size, BITMAPHANDLE* out) {
    Sections s;
    if (SplitSections(data, size, s) != SUCCESS || !s.tiff || !kTiffCodec.Sniff(s.tiff, s.tiffSize))
        return ERROR_NO_STAMP;
    LoadContext ctx(nullptr, nullptr, nullptr, size);
    return kTiffCodec.Load(s.tiff, s.tiffSize, out, ctx);
}

bool HandlesFormat(int format) { return format == FILE_EPS || format == FILE_EPS_PREVIEW; }

} // namespace

extern const Codec kEpsCodec = {"eps", Sniff, Info, Load, CanSave, Save, Stamp, HandlesFormat};

} // namespace lt::codec
