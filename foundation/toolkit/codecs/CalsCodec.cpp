// CALS raster type 1 (MIL-R-28002, in the file layout of MIL-STD-1840): a header of sixteen
// 128-byte text records ("rtype: 1", "rpelcnt: 001728,002200", ...), padded with spaces,
// then one group 4 coded page.
//
// Reading takes the records in any order and the numbers with any padding; a missing
// "rorient" is the usual 000,270 (pixels left to right, lines top to bottom) and a missing
// "rdensty" is 200 dpi. The other seven orientations are turned upright as they are read.
// Writing gives every record, "NONE" where we have nothing to say.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "Codec.h"

namespace lt::codec {
namespace {

constexpr size_t kRecord = 128, kRecords = 16, kHeader = kRecord * kRecords;
constexpr int kDefaultDensity = 200;

struct Header {
    int pels = 0, lines = 0; // as stored: pixels per line, lines
    int pelPath = 0, lineProgression = 270;
    int density = kDefaultDensity;
};

// The value of record `name` ("rpelcnt"), or false when no record has it.
bool Field(const uint8_t* d, const char* name, std::string* value) {
    const size_t n = std::strlen(name);
    for (size_t r = 0; r < kRecords; ++r) {
        const char* rec = reinterpret_cast<const char*>(d + r * kRecord);
        if (std::strncmp(rec, name, n) != 0 || rec[n] != ':') continue;
        size_t i = n + 1, end = kRecord;
        while (i < end && rec[i] == ' ') ++i;
        while (end > i && (rec[end - 1] == ' ' || rec[end - 1] == '\0' || rec[end - 1] == '\r' ||
                           rec[end - 1] == '\n'))
            --end;
        value->assign(rec + i, end - i);
        return true;
    }
    return false;
}

// "001728,002200" and the like: two numbers of at most six digits.
bool TwoNumbers(const std::string& s, int* a, int* b) {
    int v[2] = {0, 0}, count = 0, digits = 0;
    for (char c : s) {
        if (std::isdigit(static_cast<unsigned char>(c))) {
            if (++digits > 6) return false;
            v[count] = v[count] * 10 + (c - '0');
        } else if (c == ',' && digits > 0 && count == 0) {
            count = 1;
            digits = 0;
        } else if (c != ' ') {
            return false;
        }
    }
    if (count != 1 || digits == 0) return false;
    *a = v[0];
    *b = v[1];
    return true;
}

// A direction as a step in screen pixels (x right, y down).
struct Step {
    int x, y;
};
bool Direction(int degrees, Step* s) {
    switch (degrees) {
        case 0: *s = {1, 0}; return true;
        case 90: *s = {0, -1}; return true;
        case 180: *s = {-1, 0}; return true;
        case 270: *s = {0, 1}; return true;
        default: return false;
    }
}

int ParseHeader(const uint8_t* d, size_t size, Header& h) {
    if (size < kHeader) return ERROR_FILE_FORMAT;
    std::string v;
    if (!Field(d, "rtype", &v)) return ERROR_FILE_FORMAT;
    // Type 2 and 3 files hold tiles or mixed content, which we do not read.
    if (v != "1") return ERROR_FEATURE_NOT_SUPPORTED;
    if (!Field(d, "rpelcnt", &v) || !TwoNumbers(v, &h.pels, &h.lines)) return ERROR_FILE_FORMAT;
    if (h.pels <= 0 || h.lines <= 0) return ERROR_FILE_FORMAT;
    if (Field(d, "rorient", &v) && !TwoNumbers(v, &h.pelPath, &h.lineProgression))
        return ERROR_FILE_FORMAT;
    Step u{}, w{};
    if (!Direction(h.pelPath, &u) || !Direction(h.lineProgression, &w) || u.x * w.x + u.y * w.y)
        return ERROR_FILE_FORMAT;
    if (Field(d, "rdensty", &v)) {
        int density = 0;
        for (char c : v)
            if (std::isdigit(static_cast<unsigned char>(c)) && density < 100000)
                density = density * 10 + (c - '0');
        if (density > 0) h.density = density;
    }
    return SUCCESS;
}

bool Upright(const Header& h) { return h.pelPath == 0 && h.lineProgression == 270; }
// Pixels along the screen's x axis.
bool Sideways(const Header& h) { return h.pelPath == 90 || h.pelPath == 270; }

bool Sniff(const uint8_t* d, size_t size) {
    for (const char* start : {"srcdocid:", "rtype:", "version: MIL-"}) {
        const size_t n = std::strlen(start);
        if (size >= n && std::memcmp(d, start, n) == 0) return true;
    }
    return false;
}

int Info(const uint8_t* data, size_t size, FILEINFO* info) {
    Header h;
    int rc = ParseHeader(data, size, h);
    if (rc != SUCCESS) return rc;
    info->Format = FILE_CALS;
    info->Width = Sideways(h) ? h.lines : h.pels;
    info->Height = Sideways(h) ? h.pels : h.lines;
    info->BitsPerPixel = 1;
    info->Colors = 2;
    info->Compression = 4; // as TIFF numbers group 4
    info->Passes = 1;
    info->XResolution = info->YResolution = h.density;
    return SUCCESS;
}

// Moves the stored page into a bitmap turned upright.
int Turn(const Header& h, const BITMAPHANDLE* page, BITMAPHANDLE* out) {
    Step u{}, w{};
    Direction(h.pelPath, &u);
    Direction(h.lineProgression, &w);
    const int width = Sideways(h) ? h.lines : h.pels, height = Sideways(h) ? h.pels : h.lines;
    L_InitBitmap(out, width, height, 1);
    int rc = AllocatePixels(out);
    if (rc != SUCCESS) {
        L_InitBitmap(out, 0, 0, 0);
        return rc;
    }
    std::memcpy(out->pPalette, page->pPalette, 2 * sizeof(RGBQUAD));
    out->XResolution = page->XResolution;
    out->YResolution = page->YResolution;
    const int offX = (u.x < 0 ? h.pels - 1 : 0) + (w.x < 0 ? h.lines - 1 : 0);
    const int offY = (u.y < 0 ? h.pels - 1 : 0) + (w.y < 0 ? h.lines - 1 : 0);
    for (int l = 0; l < h.lines; ++l) {
        const uint8_t* src = L_RowPtr(page, l);
        for (int p = 0; p < h.pels; ++p) {
            if (!(src[p >> 3] & (0x80 >> (p & 7)))) continue;
            const int x = offX + u.x * p + w.x * l, y = offY + u.y * p + w.y * l;
            L_RowPtr(out, y)[x >> 3] |= uint8_t(0x80 >> (x & 7));
        }
    }
    return SUCCESS;
}

int Load(const uint8_t* data, size_t size, BITMAPHANDLE* out, LoadContext& ctx) {
    Header h;
    int rc = ParseHeader(data, size, h);
    if (rc != SUCCESS) return rc;
    const ccitt::Params g4{ccitt::Coding::MMR};
    if (Upright(h))
        return LoadFaxPage(data + kHeader, size - kHeader, h.pels, h.lines, g4, h.density,
                           h.density, out, ctx);
    // The page as stored, then turned: both are held for a moment.
    size_t pageBytes = 0;
    rc = L_CheckImageSize(h.pels, h.lines, 1, &pageBytes, nullptr);
    if (rc != SUCCESS) return rc;
    if (ctx.CheckWorkingMemory(pageBytes, nullptr) != SUCCESS) return ERROR_FILE_FORMAT;
    BITMAPHANDLE page;
    rc = LoadFaxPage(data + kHeader, size - kHeader, h.pels, h.lines, g4, h.density, h.density,
                     &page, ctx);
    if (rc != SUCCESS) return rc;
    rc = Turn(h, &page, out);
    L_FreeBitmap(&page);
    return rc;
}

bool CanSave(int format, int bpp) { return format == FILE_CALS && bpp == 1; }

void PutRecord(std::vector<uint8_t>& o, const std::string& text) {
    const size_t at = o.size();
    o.resize(at + kRecord, ' ');
    std::memcpy(o.data() + at, text.data(), std::min(text.size(), kRecord));
}

int Save(const BITMAPHANDLE* b, int format, int, std::vector<uint8_t>& out) {
    if (!CanSave(format, b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    EXTFILEOPTIONS opt;
    L_GetExtFileOption(&opt);
    const int density = std::clamp(b->XResolution > 0 ? b->XResolution : opt.XResolution, 1, 9999);
    char size[64], dens[32];
    std::snprintf(size, sizeof size, "rpelcnt: %06d,%06d", b->Width, b->Height);
    std::snprintf(dens, sizeof dens, "rdensty: %04d", density);
    try {
        out.clear();
        for (const char* name : {"srcdocid", "dstdocid", "txtfilid", "figid", "srcgph", "doccls"})
            PutRecord(out, std::string(name) + ": NONE");
        PutRecord(out, "rtype: 1");
        PutRecord(out, "rorient: 000,270");
        PutRecord(out, size);
        PutRecord(out, dens);
        PutRecord(out, "notes: NONE");
        out.resize(kHeader, ' ');
        int rc = SaveFaxPage(b, ccitt::Params{ccitt::Coding::MMR}, out);
        if (rc != SUCCESS) return rc;
        // Readers of the format count in 128-byte records, so the data fills its last one.
        out.resize((out.size() + kRecord - 1) / kRecord * kRecord, 0);
        return SUCCESS;
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
}

bool HandlesFormat(int format) { return format == FILE_CALS; }

} // namespace

extern const Codec kCalsCodec = {"cals", Sniff, Info, Load, CanSave, Save, nullptr, HandlesFormat};

} // namespace lt::codec
