// Photo CD image packs, read only. The file is a series of 2048-byte sectors; "PCD_IPI"
// opens the second one. The three smallest pictures are stored whole: Base/16 (192 x 128) at
// sector 4, Base/4 (384 x 256) at sector 23 and Base (768 x 512) at sector 96, each as groups
// of two luma rows followed by one row of each chroma channel at half the width, so chroma
// covers two by two pixels. Colours are Kodak's PhotoYCC; the low two bits of the byte at
// 0xE02 say how far the picture was turned when scanned, and it is turned back upright.
//
// A file opens as its Base picture; the thumbnail (L_GetCompressFileStamp) is Base/16.
// FIXME: the larger pictures, stored as huffman-coded differences after Base, are not read.
// A pack cut short shows the rows it holds.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "Codec.h"

namespace lt::codec {

// Decodes resolution `level` (0 Base/16, 1 Base/4, 2 Base) of a pack; exposed for the tests.
int LoadPhotoCdLevel(const uint8_t* data, size_t size, int level, BITMAPHANDLE* out,
                     LoadContext& ctx);

namespace {

constexpr size_t kSector = 0x800;
constexpr size_t kOrientation = 0xE02;
constexpr int kBaseLevel = 2;

struct Level {
    int width, height;
    size_t offset;
};
constexpr Level kLevels[] = {
    {192, 128, 4 * kSector}, {384, 256, 23 * kSector}, {768, 512, 96 * kSector}};

bool Sniff(const uint8_t* data, size_t size) {
    return size >= kSector + 7 && std::memcmp(data + kSector, "PCD_IPI", 7) == 0;
}

// Quarter turns counter-clockwise that the stored picture needs to stand upright.
int Turns(const uint8_t* data, size_t size) {
    return size > kOrientation ? data[kOrientation] & 3 : 0;
}

int Info(const uint8_t* data, size_t size, FILEINFO* info) {
    if (!Sniff(data, size)) return ERROR_FILE_FORMAT;
    const Level& l = kLevels[kBaseLevel];
    const bool sideways = Turns(data, size) % 2 == 1;
    info->Format = FILE_PCD;
    info->Width = sideways ? l.height : l.width;
    info->Height = sideways ? l.width : l.height;
    info->BitsPerPixel = 24;
    info->Colors = 0;
    info->Compression = 0;
    info->Passes = 1;
    // The scan of 35 mm film that Base stands for.
    info->XResolution = info->YResolution = 72;
    return SUCCESS;
}

uint8_t Clamp(double v) { return uint8_t(std::lround(std::clamp(v, 0.0, 255.0))); }

// One chroma row at full width: each sample stands at even positions, the mean of its
// neighbours between them.
void Widen(const uint8_t* c, int half, uint8_t* out) {
    for (int x = 0; x < half; ++x) {
        out[2 * x] = c[x];
        out[2 * x + 1] = x + 1 < half ? uint8_t((c[x] + c[x + 1] + 1) / 2) : c[x];
    }
}

} // namespace

int LoadPhotoCdLevel(const uint8_t* data, size_t size, int level, BITMAPHANDLE* out,
                     LoadContext& ctx) {
    if (!Sniff(data, size) || level < 0 || level > kBaseLevel) return ERROR_FILE_FORMAT;
    const Level& l = kLevels[level];
    const int w = l.width, h = l.height, half = w / 2;
    if (l.offset >= size) return ERROR_FILE_FORMAT;
    // Two luma rows and two half-width chroma rows.
    const size_t group = size_t(w) * 3;
    const int groups = int(std::min<size_t>((size - l.offset) / group, size_t(h / 2)));
    if (groups == 0) return ERROR_FILE_FORMAT;
    const int turns = Turns(data, size);
    const bool sideways = turns % 2 == 1;
    const int ow = sideways ? h : w, oh = sideways ? w : h;
    // Chroma of the current and next group, widened: the rows between take their mean.
    std::vector<uint8_t> chroma;
    try {
        chroma.resize(size_t(w) * 4);
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    L_InitBitmap(out, ow, oh, 24);
    int rc = AllocatePixels(out);
    if (rc != SUCCESS) {
        L_InitBitmap(out, 0, 0, 0);
        return rc;
    }
    out->XResolution = out->YResolution = 72;
    // Writes stored pixel (x, y) where it lands once turned upright.
    auto put = [&](int x, int y, uint8_t Y, uint8_t cb, uint8_t cr) {
        const double L = 1.3584 * Y, c1 = 2.2179 * (cb - 156.0), c2 = 1.8215 * (cr - 137.0);
        int ox = x, oy = y;
        switch (turns) {
            case 1: ox = y, oy = w - 1 - x; break;
            case 2: ox = w - 1 - x, oy = h - 1 - y; break;
            case 3: ox = h - 1 - y, oy = x; break;
        }
        uint8_t* p = L_RowPtr(out, oy) + size_t(ox) * 3;
        p[0] = Clamp(L + c1);
        p[1] = Clamp(L - 0.194 * c1 - 0.509 * c2);
        p[2] = Clamp(L + c2);
    };
    const uint8_t* base = data + l.offset;
    uint8_t* cb0 = chroma.data();
    uint8_t* cr0 = cb0 + w;
    uint8_t* cb1 = cr0 + w;
    uint8_t* cr1 = cb1 + w;
    Widen(base + 2 * w, half, cb0);
    Widen(base + 2 * w + half, half, cr0);
    for (int g = 0; g < groups; ++g) {
        const uint8_t* rowsY = base + g * group;
        if (g + 1 < groups) {
            Widen(rowsY + group + 2 * w, half, cb1);
            Widen(rowsY + group + 2 * w + half, half, cr1);
        } else {
            std::memcpy(cb1, cb0, size_t(w));
            std::memcpy(cr1, cr0, size_t(w));
        }
        for (int x = 0; x < w; ++x) {
            put(x, 2 * g, rowsY[x], cb0[x], cr0[x]);
            put(x, 2 * g + 1, rowsY[w + x], uint8_t((cb0[x] + cb1[x] + 1) / 2),
                uint8_t((cr0[x] + cr1[x] + 1) / 2));
        }
        std::swap(cb0, cb1);
        std::swap(cr0, cr1);
    }
    const int rows = 2 * groups;
    if (rows == h) return ctx.FinishRows(out, oh, oh, SUCCESS);
    // Only an upright picture is cut at its bottom rows; a turned one is missing a side.
    if (turns == 0) return ctx.FinishRows(out, rows, oh, SUCCESS);
    rc = ctx.EndedEarly(out, rows, 0, 0);
    for (int y = 0; y < h - rows; ++y)
        for (int x = 0; x < w; ++x) put(x, rows + y, 94, 156, 137); // mid gray
    return ctx.FinishRows(out, oh, oh, rc);
}

namespace {

int Load(const uint8_t* data, size_t size, BITMAPHANDLE* out, LoadContext& ctx) {
    return LoadPhotoCdLevel(data, size, kBaseLevel, out, ctx);
}

int Stamp(const uint8_t* data, size_t size, BITMAPHANDLE* out) {
    LoadContext ctx(nullptr, nullptr, nullptr, size);
    return LoadPhotoCdLevel(data, size, 0, out, ctx);
}

bool CanSave(int, int) { return false; }

int Save(const BITMAPHANDLE*, int, int, std::vector<uint8_t>&) {
    return ERROR_FEATURE_NOT_SUPPORTED;
}

bool HandlesFormat(int format) { return format == FILE_PCD; }

} // namespace

extern const Codec kPcdCodec = {"pcd", Sniff, Info, Load, CanSave, Save, Stamp, HandlesFormat};

} // namespace lt::codec
