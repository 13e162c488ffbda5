// The bitmap record: limits, lifetime, pixel access, alpha planes and DIB interchange.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include <sys/mman.h>

#include "BitmapInternal.h"

namespace {
L_LIMITS g_limits;
} // namespace

L_LIMITS L_GetLimits() { return g_limits; }
void L_SetLimits(const L_LIMITS& limits) { g_limits = limits; }

bool L_CheckedMul(size_t a, size_t b, size_t* out) {
    size_t r;
    if (__builtin_mul_overflow(a, b, &r)) return false;
    *out = r;
    return true;
}

bool L_BytesPerLine(L_INT width, L_INT bpp, L_INT* out) {
    if (width < 0 || bpp <= 0) return false;
    uint64_t bits = uint64_t(width) * uint64_t(bpp);
    uint64_t bytes = ((bits + 31) / 32) * 4;
    if (bytes > uint64_t(INT32_MAX)) return false;
    *out = L_INT(bytes);
    return true;
}

L_INT L_CheckImageSize(L_INT width, L_INT height, L_INT bpp, size_t* bytes, L_INT* bytesPerLine) {
    if (!lt::IsValidBpp(bpp)) return ERROR_BITPERPIXEL;
    if (width <= 0 || height <= 0 || width > g_limits.MaxSide || height > g_limits.MaxSide)
        return ERROR_INV_RANGE;
    if (uint64_t(width) * uint64_t(height) > g_limits.MaxPixels) return ERROR_INV_RANGE;
    L_INT bpl = 0;
    size_t total = 0;
    if (!L_BytesPerLine(width, bpp, &bpl) || !L_CheckedMul(size_t(bpl), size_t(height), &total))
        return ERROR_INV_RANGE;
    if (bytes) *bytes = total;
    if (bytesPerLine) *bytesPerLine = bpl;
    return SUCCESS;
}

uint8_t* L_RowPtr(const BITMAPHANDLE* b, L_INT y) {
    size_t row = b->ViewPerspective == BOTTOM_LEFT ? size_t(b->Height - 1 - y) : size_t(y);
    return b->Addr + row * size_t(b->BytesPerLine);
}

namespace lt {

int NearestPaletteIndex(const RGBQUAD* pal, int count, int r, int g, int bl) {
    if (!pal || count <= 0) return 0;
    int best = 0;
    int bestDist = 1 << 30;
    for (int i = 0; i < count; ++i) {
        int dr = pal[i].rgbRed - r, dg = pal[i].rgbGreen - g, db = pal[i].rgbBlue - bl;
        int d = dr * dr + dg * dg + db * db;
        if (d < bestDist) {
            bestDist = d;
            best = i;
            if (d == 0) break;
        }
    }
    return best;
}

// Large blocks ask for huge pages. A fresh block's 4 KB pages are each faulted in on their
// first write, and on a virtual machine that can cost more than the work done on them: the
// 60 MB result of rotating a 12-megapixel photo took three times as long to fault in as to
// compute. Only whole 2 MB pages inside the block are advised.
void PreferHugePages(void* p, size_t bytes) {
#ifdef MADV_HUGEPAGE
    constexpr uintptr_t kHuge = uintptr_t(2) << 20;
    if (bytes < 4 * kHuge) return;
    const uintptr_t first = (uintptr_t(p) + kHuge - 1) & ~(kHuge - 1),
                    end = (uintptr_t(p) + bytes) & ~(kHuge - 1);
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
    (void)p, (void)bytes;
#endif
}

int AllocatePixels(BITMAPHANDLE* b, bool zeroed) {
    size_t bytes = 0;
    L_INT bpl = 0;
    L_INT rc = L_CheckImageSize(b->Width, b->Height, b->BitsPerPixel, &bytes, &bpl);
    if (rc != SUCCESS) return rc;
    uint8_t* pixels = NewPixelBlock(bytes, zeroed);
    if (!pixels) return ERROR_NO_MEMORY;
    RGBQUAD* pal = nullptr;
    if (b->BitsPerPixel <= 8) {
        pal = new (std::nothrow) RGBQUAD[256];
        if (!pal) {
            ReleasePixels(pixels);
            return ERROR_NO_MEMORY;
        }
    }
    b->Addr = pixels;
    b->Size = bytes;
    b->BytesPerLine = bpl;
    b->pPalette = pal;
    b->nColors = b->BitsPerPixel <= 8 ? (1u << b->BitsPerPixel) : 0;
    b->Flags.Allocated = true;
    return SUCCESS;
}

} // namespace lt

// ---------------------------------------------------------------------------
// Lifetime.

L_INT L_InitBitmap(pBITMAPHANDLE b, L_INT width, L_INT height, L_INT bpp) {
    if (!b) return ERROR_NO_BITMAP;
    *b = BITMAPHANDLE{};
    b->Width = width;
    b->Height = height;
    b->BitsPerPixel = bpp;
    L_INT bpl = 0;
    if (width > 0 && bpp > 0 && L_BytesPerLine(width, bpp, &bpl)) b->BytesPerLine = bpl;
    return SUCCESS;
}

L_INT L_CreateBitmap(pBITMAPHANDLE b, L_UINT memory, L_INT width, L_INT height, L_INT bpp,
                     L_INT order, const RGBQUAD* pPalette, L_INT nViewPerspective) {
    if (!b) return ERROR_NO_BITMAP;
    (void)memory;
    if (nViewPerspective != 0 && nViewPerspective != TOP_LEFT && nViewPerspective != BOTTOM_LEFT)
        return ERROR_INV_PARAMETER;
    L_InitBitmap(b, width, height, bpp);
    b->Order = order == ORDER_GRAY ? ORDER_BGR : (order == ORDER_RGB ? ORDER_RGB : ORDER_BGR);
    b->ViewPerspective = nViewPerspective == 0 ? TOP_LEFT : nViewPerspective;
    L_INT rc = lt::AllocatePixels(b);
    if (rc != SUCCESS) {
        L_InitBitmap(b, 0, 0, 0);
        return rc;
    }
    if (bpp <= 8) {
        if (pPalette)
            std::memcpy(b->pPalette, pPalette, sizeof(RGBQUAD) * (size_t(1) << bpp));
        else
            L_GetFixedPalette(b->pPalette, bpp);
    }
    return SUCCESS;
}

void L_FreeBitmap(pBITMAPHANDLE b) {
    if (!b) return;
    lt::ReleasePixels(b->Addr);
    delete[] b->pPalette;
    L_DeleteRgn(b->pRgn);
    *b = BITMAPHANDLE{};
}

L_INT L_CopyBitmap(pBITMAPHANDLE dst, const BITMAPHANDLE* src) {
    if (!dst || !lt::IsAllocated(src)) return ERROR_NO_BITMAP;
    if (dst == src) return SUCCESS;
    BITMAPHANDLE copy = *src;
    copy.Addr = nullptr;
    copy.pPalette = nullptr;
    copy.pRgn = nullptr;
    // The copy fills the block only when the record's size is what its layout needs.
    size_t bytes = 0;
    const bool filled =
        L_CheckImageSize(src->Width, src->Height, src->BitsPerPixel, &bytes, nullptr) == SUCCESS &&
        bytes == src->Size;
    L_INT rc = lt::AllocatePixels(&copy, !filled);
    if (rc != SUCCESS) return rc;
    copy.BytesPerLine = src->BytesPerLine;
    copy.nColors = src->nColors;
    std::memcpy(copy.Addr, src->Addr, std::min(src->Size, copy.Size));
    if (src->pPalette && copy.pPalette)
        std::memcpy(copy.pPalette, src->pPalette, sizeof(RGBQUAD) * 256);
    if (src->pRgn) {
        copy.pRgn = L_CopyRgn(src->pRgn);
        if (!copy.pRgn) {
            L_FreeBitmap(&copy);
            return ERROR_NO_MEMORY;
        }
    }
    *dst = copy;
    return SUCCESS;
}

L_INT L_CopyBitmapHandle(pBITMAPHANDLE dst, const BITMAPHANDLE* src) {
    if (!dst || !src) return ERROR_NO_BITMAP;
    *dst = *src;
    return SUCCESS;
}

L_INT L_CopyBitmapRect(pBITMAPHANDLE dst, const BITMAPHANDLE* src, L_INT x, L_INT y, L_INT width,
                       L_INT height) {
    if (!dst || !lt::IsAllocated(src)) return ERROR_NO_BITMAP;
    // Clip the requested rectangle to the source.
    int64_t x0 = std::max<int64_t>(x, 0), y0 = std::max<int64_t>(y, 0);
    int64_t x1 = std::min<int64_t>(int64_t(x) + width, src->Width);
    int64_t y1 = std::min<int64_t>(int64_t(y) + height, src->Height);
    if (width <= 0 || height <= 0 || x0 >= x1 || y0 >= y1) return ERROR_INV_RANGE;
    BITMAPHANDLE out;
    L_INT rc = L_CreateBitmap(&out, TYPE_CONV, L_INT(x1 - x0), L_INT(y1 - y0), src->BitsPerPixel,
                              src->Order, src->pPalette, TOP_LEFT);
    if (rc != SUCCESS) return rc;
    out.XResolution = src->XResolution;
    out.YResolution = src->YResolution;
    out.nColors = src->nColors;
    const int bpp = src->BitsPerPixel;
    for (int row = 0; row < out.Height; ++row) {
        const uint8_t* s = L_RowPtr(src, L_INT(y0) + row);
        uint8_t* d = L_RowPtr(&out, row);
        if (bpp >= 8) {
            std::memcpy(d, s + size_t(x0) * size_t(bpp / 8), size_t(out.Width) * size_t(bpp / 8));
        } else {
            for (int col = 0; col < out.Width; ++col)
                lt::WriteIndex(d, col, bpp, lt::ReadIndex(s, int(x0) + col, bpp));
        }
    }
    if (src->pRgn) {
        LRegion part = src->pRgn->Intersected(RECT{int(x0), int(y0), int(x1), int(y1)});
        part.Offset(-int(x0), -int(y0));
        out.pRgn = new (std::nothrow) LRegion(std::move(part));
        if (!out.pRgn) {
            L_FreeBitmap(&out);
            return ERROR_NO_MEMORY;
        }
    }
    *dst = out;
    return SUCCESS;
}

// ---------------------------------------------------------------------------
// DIB interchange.

uint8_t* L_ChangeToDIB(pBITMAPHANDLE b, size_t* size) {
    if (!lt::IsAllocated(b)) return nullptr;
    const size_t palBytes =
        b->BitsPerPixel <= 8 ? sizeof(RGBQUAD) * (size_t(1) << b->BitsPerPixel) : 0;
    size_t total = sizeof(BITMAPINFOHEADER) + palBytes + b->Size;
    auto* block = static_cast<uint8_t*>(std::malloc(total));
    if (!block) return nullptr;
    BITMAPINFOHEADER h;
    h.biWidth = b->Width;
    h.biHeight = b->Height; // bottom-up
    h.biBitCount = uint16_t(b->BitsPerPixel);
    h.biSizeImage = uint32_t(b->Size);
    // In 64 bits: a resolution above 214,748 dpi would overflow the product.
    auto perMetre = [](L_INT dpi) {
        return int32_t(std::clamp<int64_t>(int64_t(dpi) * 10000 / 254, INT32_MIN, INT32_MAX));
    };
    h.biXPelsPerMeter = perMetre(b->XResolution);
    h.biYPelsPerMeter = perMetre(b->YResolution);
    h.biClrUsed = b->BitsPerPixel <= 8 ? (1u << b->BitsPerPixel) : 0;
    if (b->BitsPerPixel == 16) {
        // Our 16-bit pixels are 5-5-5 like a DIB's; the alpha bit is dropped by readers.
        h.biCompression = 0;
    }
    std::memcpy(block, &h, sizeof h);
    if (palBytes) std::memcpy(block + sizeof h, b->pPalette, palBytes);
    uint8_t* bits = block + sizeof h + palBytes;
    for (int y = 0; y < b->Height; ++y)
        std::memcpy(bits + size_t(b->Height - 1 - y) * size_t(b->BytesPerLine), L_RowPtr(b, y),
                    size_t(b->BytesPerLine));
    if (size) *size = total;
    L_FreeBitmap(b);
    return block;
}

L_INT L_ConvertFromDIB(pBITMAPHANDLE b, const BITMAPINFOHEADER* info, size_t infoBytes,
                       const uint8_t* bits, size_t bitsBytes) {
    if (!b || !info || !bits) return ERROR_INV_PARAMETER;
    if (infoBytes < sizeof *info || info->biSize < 40 || info->biSize > infoBytes ||
        info->biPlanes != 1)
        return ERROR_FILE_FORMAT;
    const size_t tableBytes = infoBytes - info->biSize;
    const int bpp = info->biBitCount;
    if (!lt::IsValidBpp(bpp)) return ERROR_BITPERPIXEL;
    if (info->biCompression != 0 && !(info->biCompression == 3 && (bpp == 16 || bpp == 32)))
        return ERROR_FEATURE_NOT_SUPPORTED;
    if (info->biHeight == INT32_MIN) return ERROR_INV_RANGE;
    const bool topDown = info->biHeight < 0;
    const int height = topDown ? -info->biHeight : info->biHeight;
    // The bits must be there before the bitmap is made for them.
    size_t need = 0;
    L_INT rc = L_CheckImageSize(info->biWidth, height, bpp, &need, nullptr);
    if (rc != SUCCESS) return rc;
    if (need > bitsBytes) return ERROR_FILE_FORMAT;
    const uint8_t* table = reinterpret_cast<const uint8_t*>(info) + info->biSize;
    const bool bitfields = info->biCompression == 3;
    uint32_t masks[3] = {0x00FF0000u, 0x0000FF00u, 0x000000FFu};
    if (bitfields) {
        if (tableBytes < sizeof masks) return ERROR_FILE_FORMAT;
        std::memcpy(masks, table, sizeof masks);
    }
    RGBQUAD pal[256];
    if (bpp <= 8) {
        L_GetFixedPalette(pal, bpp);
        unsigned n = info->biClrUsed ? std::min<unsigned>(info->biClrUsed, 1u << bpp) : (1u << bpp);
        if (tableBytes < sizeof(RGBQUAD) * n) return ERROR_FILE_FORMAT;
        std::memcpy(pal, table, sizeof(RGBQUAD) * n);
    }
    BITMAPHANDLE out;
    rc = L_CreateBitmap(&out, TYPE_CONV, info->biWidth, height, bpp, ORDER_BGR,
                        bpp <= 8 ? pal : nullptr, TOP_LEFT);
    if (rc != SUCCESS) return rc;
    for (int y = 0; y < height; ++y) {
        const uint8_t* s = bits + size_t(topDown ? y : height - 1 - y) * size_t(out.BytesPerLine);
        uint8_t* d = L_RowPtr(&out, y);
        if (!bitfields) {
            std::memcpy(d, s, size_t(out.BytesPerLine));
            if (bpp == 32)
                for (int x = 0; x < out.Width; ++x) d[x * 4 + 3] = 255; // DIBs carry no alpha
            if (bpp == 16)
                for (int x = 0; x < out.Width; ++x) d[x * 2 + 1] |= 0x80;
            continue;
        }
        for (int x = 0; x < out.Width; ++x) {
            uint32_t v = bpp == 32
                             ? uint32_t(s[x * 4]) | (uint32_t(s[x * 4 + 1]) << 8) |
                                   (uint32_t(s[x * 4 + 2]) << 16) | (uint32_t(s[x * 4 + 3]) << 24)
                             : uint32_t(s[x * 2]) | (uint32_t(s[x * 2 + 1]) << 8);
            uint8_t c[3];
            for (int k = 0; k < 3; ++k) {
                uint32_t m = masks[k];
                if (!m) {
                    c[k] = 0;
                    continue;
                }
                int shift = __builtin_ctz(m);
                uint32_t maxv = m >> shift;
                c[k] = uint8_t(((v & m) >> shift) * 255u / maxv);
            }
            lt::WritePixel(&out, d, x, lt::BGRA{c[2], c[1], c[0], 255}, false);
        }
    }
    *b = out;
    return SUCCESS;
}

// ---------------------------------------------------------------------------
// Pixels.

L_INT L_AccessBitmap(pBITMAPHANDLE b) { return lt::IsAllocated(b) ? SUCCESS : ERROR_NO_BITMAP; }
L_INT L_ReleaseBitmap(pBITMAPHANDLE b) { return lt::IsAllocated(b) ? SUCCESS : ERROR_NO_BITMAP; }

namespace {
// Byte range of a row starting at a pixel column, clipped to the stored row.
L_INT RowSpan(const BITMAPHANDLE* b, L_INT nRow, L_INT nCol, L_UINT bytes, size_t* offset,
              size_t* count) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    if (nRow < 0 || nRow >= b->Height || nCol < 0 || nCol >= b->Width) return ERROR_INV_RANGE;
    size_t off = size_t(nCol) * size_t(b->BitsPerPixel) / 8;
    size_t avail = size_t(b->BytesPerLine) - off;
    *offset = off;
    *count = std::min<size_t>(avail, bytes);
    return SUCCESS;
}
} // namespace

L_INT L_GetBitmapRowCol(const BITMAPHANDLE* b, uint8_t* buffer, L_INT nRow, L_INT nCol,
                        L_UINT bytes) {
    size_t off = 0, n = 0;
    L_INT rc = RowSpan(b, nRow, nCol, bytes, &off, &n);
    if (rc != SUCCESS) return rc;
    std::memcpy(buffer, L_RowPtr(b, nRow) + off, n);
    return L_INT(n);
}

L_INT L_PutBitmapRowCol(pBITMAPHANDLE b, const uint8_t* buffer, L_INT nRow, L_INT nCol,
                        L_UINT bytes) {
    size_t off = 0, n = 0;
    L_INT rc = RowSpan(b, nRow, nCol, bytes, &off, &n);
    if (rc != SUCCESS) return rc;
    std::memcpy(L_RowPtr(b, nRow) + off, buffer, n);
    return L_INT(n);
}

COLORREF L_GetPixelColor(const BITMAPHANDLE* b, L_INT nRow, L_INT nCol) {
    if (!lt::IsAllocated(b) || nRow < 0 || nRow >= b->Height || nCol < 0 || nCol >= b->Width)
        return 0;
    lt::BGRA c = lt::ReadPixel(b, L_RowPtr(b, nRow), nCol);
    return RGB(c.r, c.g, c.b);
}

L_INT L_PutPixelColor(pBITMAPHANDLE b, L_INT nRow, L_INT nCol, COLORREF color) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    if (nRow < 0 || nRow >= b->Height || nCol < 0 || nCol >= b->Width) return ERROR_INV_RANGE;
    uint8_t* row = L_RowPtr(b, nRow);
    if (IsPaletteIndex(color)) {
        unsigned i = color & 0xFFu;
        if (b->BitsPerPixel <= 8) {
            lt::WriteIndex(row, nCol, b->BitsPerPixel, i & ((1u << b->BitsPerPixel) - 1));
            return SUCCESS;
        }
        // A palette index on a true-colour bitmap names a gray level.
        lt::WritePixel(b, row, nCol, lt::BGRA{uint8_t(i), uint8_t(i), uint8_t(i), 255}, true);
        return SUCCESS;
    }
    lt::WritePixel(b, row, nCol,
                   lt::BGRA{GetBValue(color), GetGValue(color), GetRValue(color), 255}, true);
    return SUCCESS;
}

namespace {
void GrayRamp(RGBQUAD* pal) {
    for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
}
} // namespace

L_INT L_GetBitmapAlpha(const BITMAPHANDLE* b, pBITMAPHANDLE pAlpha) {
    if (!lt::IsAllocated(b) || !pAlpha) return ERROR_NO_BITMAP;
    RGBQUAD ramp[256];
    GrayRamp(ramp);
    BITMAPHANDLE out;
    L_INT rc = L_CreateBitmap(&out, TYPE_CONV, b->Width, b->Height, 8, ORDER_BGR, ramp, TOP_LEFT);
    if (rc != SUCCESS) return rc;
    const int w = b->Width; // byte stores could alias the handle: read it once
    for (int y = 0; y < b->Height; ++y) {
        const uint8_t* s = L_RowPtr(b, y);
        uint8_t* d = L_RowPtr(&out, y);
        if (b->BitsPerPixel == 32) {
            for (int x = 0; x < w; ++x) d[x] = s[x * 4 + 3];
        } else if (b->BitsPerPixel == 16) {
            for (int x = 0; x < w; ++x) d[x] = (s[x * 2 + 1] & 0x80) ? 255 : 0;
        } else {
            std::memset(d, 255, size_t(w));
        }
    }
    *pAlpha = out;
    return SUCCESS;
}

L_INT L_SetBitmapAlpha(pBITMAPHANDLE b, const BITMAPHANDLE* pAlpha) {
    if (!lt::IsAllocated(b) || !lt::IsAllocated(pAlpha)) return ERROR_NO_BITMAP;
    if (b->BitsPerPixel != 32 && b->BitsPerPixel != 16) return ERROR_BITPERPIXEL;
    if (pAlpha->Width != b->Width || pAlpha->Height != b->Height) return ERROR_INV_RANGE;
    // An 8-bit mask is read through its palette: one gray level per index.
    const bool indexed = pAlpha->BitsPerPixel == 8 && pAlpha->pPalette;
    uint8_t level[256] = {};
    if (indexed)
        for (int i = 0; i < 256; ++i) {
            const RGBQUAD& q = pAlpha->pPalette[i];
            level[i] = uint8_t((q.rgbRed * 77 + q.rgbGreen * 150 + q.rgbBlue * 29 + 128) >> 8);
        }
    const int w = b->Width; // byte stores could alias the handles: read them once
    for (int y = 0; y < b->Height; ++y) {
        const uint8_t* s = L_RowPtr(pAlpha, y);
        uint8_t* d = L_RowPtr(b, y);
        if (indexed && b->BitsPerPixel == 32) {
            for (int x = 0; x < w; ++x) d[x * 4 + 3] = level[s[x]];
            continue;
        }
        for (int x = 0; x < w; ++x) {
            uint8_t a;
            if (indexed) {
                a = level[s[x]];
            } else {
                lt::BGRA c = lt::ReadPixel(pAlpha, s, x);
                a = uint8_t((c.r * 77 + c.g * 150 + c.b * 29 + 128) >> 8);
            }
            if (b->BitsPerPixel == 32)
                d[x * 4 + 3] = a;
            else
                d[x * 2 + 1] = uint8_t((d[x * 2 + 1] & 0x7F) | (a >= 128 ? 0x80 : 0));
        }
    }
    return SUCCESS;
}

// ---------------------------------------------------------------------------
// Status callback and display modes.

namespace {
STATUSCALLBACK g_status = nullptr;
void* g_statusUser = nullptr;
// The callback drives a window; work done on other threads (a background save) must not
// reach it, so only the thread that registered it reports.
std::atomic<std::thread::id> g_statusThread{};
L_UINT g_displayMode = 0;
} // namespace

L_INT L_SetStatusCallBack(STATUSCALLBACK pfn, void* pUserData, STATUSCALLBACK* pOldFn,
                          void** pOldUserData) {
    if (pOldFn) *pOldFn = g_status;
    if (pOldUserData) *pOldUserData = g_statusUser;
    g_status = pfn;
    g_statusUser = pUserData;
    g_statusThread = std::this_thread::get_id();
    return SUCCESS;
}

L_INT L_ReportStatus(L_INT nPercent) {
    if (g_statusThread.load() != std::this_thread::get_id() || !g_status) return SUCCESS;
    // A callback that answers with an error code of its own (the water colour's -100) has
    // the operation fail with that code; any other refusal is a plain abort.
    const L_INT rc = g_status(nPercent, g_statusUser);
    if (rc == SUCCESS) return SUCCESS;
    return rc < 0 ? rc : ERROR_USER_ABORT;
}

bool lt::StatusCanCancel() {
    return g_status && g_statusThread.load() == std::this_thread::get_id();
}

L_INT L_SetDisplayMode(L_UINT uMask, L_UINT uValues) {
    L_UINT old = g_displayMode;
    g_displayMode = (g_displayMode & ~uMask) | (uValues & uMask);
    return L_INT(old);
}

L_UINT L_GetDisplayMode() { return g_displayMode; }
