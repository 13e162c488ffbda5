// Encapsulated PostScript, read only: plain files starting "%!PS", and DOS binary files
// (a 30-byte header, magic C5 D0 D3 C6, giving offset and length of the PostScript, a
// Windows metafile preview and a TIFF preview, all little-endian).
//
// A DOS file with a TIFF preview opens as that preview (format code 63), which needs no
// interpreter. Otherwise the PostScript (code 16) is rendered by Ghostscript in a child
// process (Ghostscript.h) at 72 dpi, white behind the drawing, on a page of the bounding box
// rounded out to whole points. The box comes from the %%BoundingBox comment (the first one,
// or the one in the trailer when the header says "(atend)"), so that the header alone gives
// the size and the memory a load takes. FIXME: metafile previews are not read; such files
// are rendered instead.
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
        r.skip(8); // the metafile preview
        const uint32_t tiffOff = r.u32le(), tiffLen = r.u32le();
        if (!r.ok()) return ERROR_FILE_FORMAT;
        size_t at = 0;
        if (Section(size, tiffOff, tiffLen, at)) {
            s.tiff = data + at;
            s.tiffSize = tiffLen;
        }
        if (Section(size, psOff, psLen, at)) {
            s.ps = data + at;
            s.psSize = psLen;
        }
        return s.ps || s.tiff ? SUCCESS : ERROR_FILE_FORMAT;
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
    if (!s.ps) return ERROR_FILE_FORMAT;
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
    if (!s.ps) return ERROR_FILE_FORMAT;
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
