// Colour depth conversion, gray scale conversion and gray detection.
//
// Choices the callers can rely on:
//  - The whole bitmap is converted (a depth change cannot stop at the region's edge); the
//    region travels with the result unchanged.
//  - The result is stored top-down (TOP_LEFT) in blue-green-red order.
//  - Palette kinds, first match wins: user, fixed, Netscape, identity, optimized. Without
//    any of them a target of 8 bits or less gets an optimized palette.
//  - Identity keeps the source's palette (and its indices as they are) when the source is a
//    palette image of no more bits than the target; from a deeper source it is optimized.
//  - Netscape's 216 colours only fit at 8 bits; at 1 and 4 bits it gives the fixed palette.
//  - A user palette of fewer entries than the depth holds is padded with black, and pixels
//    are only ever mapped to the given entries. Likewise an optimized palette with fewer
//    colours than the depth holds.
//  - Dithering applies to targets of 8 bits or less; deeper targets take colours as they are.
//    A pixel whose colour is in the target palette always gets that entry, dithered or not.
//  - Progress goes to the status callback; a cancel leaves dst, and src in place, untouched.
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "ColorInternal.h"
#include "processing/ProcessingInternal.h"

namespace lt::color {

RowReader::RowReader(const BITMAPHANDLE* b) : b_(b) {
    for (int i = 0; i < 256; ++i) {
        const bool valid = b->BitsPerPixel <= 8 && b->pPalette && i < (1 << b->BitsPerPixel);
        const RGBQUAD q = valid ? b->pPalette[i] : RGBQUAD{};
        lut_[i] = BGRA{q.rgbBlue, q.rgbGreen, q.rgbRed, 255};
    }
}

void RowReader::Read(int y, BGRA* out) const {
    const uint8_t* s = L_RowPtr(b_, y);
    const int w = b_->Width;
    switch (b_->BitsPerPixel) {
        case 32: std::memcpy(static_cast<void*>(out), s, size_t(w) * 4); break;
        case 24:
            for (int x = 0; x < w; ++x, s += 3) out[x] = BGRA{s[0], s[1], s[2], 255};
            break;
        case 16:
            for (int x = 0; x < w; ++x) out[x] = Unpack16(uint16_t(s[x * 2] | (s[x * 2 + 1] << 8)));
            break;
        case 8:
            for (int x = 0; x < w; ++x) out[x] = lut_[s[x]];
            break;
        default:
            for (int x = 0; x < w; ++x) out[x] = lut_[ReadIndex(s, x, b_->BitsPerPixel)];
            break;
    }
}

} // namespace lt::color

namespace {

using lt::BGRA;

// The pixel block of a record is big enough for its size and depth.
bool Consistent(const BITMAPHANDLE* b) {
    L_INT bpl = 0;
    if (b->Width <= 0 || b->Height <= 0 || !L_BytesPerLine(b->Width, b->BitsPerPixel, &bpl))
        return false;
    size_t need = 0;
    return b->BytesPerLine >= bpl &&
           L_CheckedMul(size_t(b->BytesPerLine), size_t(b->Height), &need) && b->Size >= need;
}

void PackIndices(const uint8_t* idx, uint8_t* row, int w, int bpp) {
    switch (bpp) {
        case 8: std::memcpy(row, idx, size_t(w)); break;
        case 4:
            for (int x = 0; x + 1 < w; x += 2)
                row[x >> 1] = uint8_t((idx[x] << 4) | (idx[x + 1] & 0x0F));
            if (w & 1) row[w >> 1] = uint8_t(idx[w - 1] << 4);
            break;
        default: {
            int x = 0;
            for (; x + 8 <= w; x += 8) {
                unsigned v = 0;
                for (int k = 0; k < 8; ++k) v = (v << 1) | (idx[x + k] & 1u);
                row[x >> 3] = uint8_t(v);
            }
            if (x < w) {
                unsigned v = 0;
                for (int k = 0; k < 8; ++k) v = (v << 1) | (x + k < w ? (idx[x + k] & 1u) : 0u);
                row[x >> 3] = uint8_t(v);
            }
            break;
        }
    }
}

// Progress for the rows of a conversion; false when the user cancelled.
bool Progress(int y, int height) {
    if ((y & 63) != 0) return true;
    return L_ReportStatus(int(int64_t(y) * 100 / height)) == SUCCESS;
}

// 24 to 32 bits (opaque) and back, the conversions every photo goes through on its way in
// and out of the editor: one pass straight between the rows, in a loop that vectorises.
QUILLO_ROW_KERNEL void Row24To32(const uint8_t* s, uint8_t* d, int w) {
    for (int x = 0; x < w; ++x) {
        d[4 * x] = s[3 * x];
        d[4 * x + 1] = s[3 * x + 1];
        d[4 * x + 2] = s[3 * x + 2];
        d[4 * x + 3] = 255;
    }
}

QUILLO_ROW_KERNEL void Row32To24(const uint8_t* s, uint8_t* d, int w) {
    for (int x = 0; x < w; ++x) {
        d[3 * x] = s[4 * x];
        d[3 * x + 1] = s[4 * x + 1];
        d[3 * x + 2] = s[4 * x + 2];
    }
}

int ToTrueColour(const BITMAPHANDLE* src, BITMAPHANDLE* out) {
    const int sbpp = src->BitsPerPixel, dbpp = out->BitsPerPixel;
    if ((sbpp == 24 && dbpp == 32) || (sbpp == 32 && dbpp == 24)) {
        for (int y = 0; y < src->Height; ++y) {
            if (!Progress(y, src->Height)) return ERROR_USER_ABORT;
            if (sbpp == 24)
                Row24To32(L_RowPtr(src, y), L_RowPtr(out, y), src->Width);
            else
                Row32To24(L_RowPtr(src, y), L_RowPtr(out, y), src->Width);
        }
        return SUCCESS;
    }
    lt::color::RowReader reader(src);
    std::vector<BGRA> row(static_cast<size_t>(src->Width));
    const int w = src->Width;
    for (int y = 0; y < src->Height; ++y) {
        if (!Progress(y, src->Height)) return ERROR_USER_ABORT;
        reader.Read(y, row.data());
        uint8_t* d = L_RowPtr(out, y);
        switch (out->BitsPerPixel) {
            case 32: std::memcpy(d, static_cast<const void*>(row.data()), size_t(w) * 4); break;
            case 24:
                for (int x = 0; x < w; ++x, d += 3) {
                    d[0] = row[size_t(x)].b;
                    d[1] = row[size_t(x)].g;
                    d[2] = row[size_t(x)].r;
                }
                break;
            default:
                for (int x = 0; x < w; ++x) {
                    const uint16_t v = lt::Pack16(row[size_t(x)]);
                    d[x * 2] = uint8_t(v);
                    d[x * 2 + 1] = uint8_t(v >> 8);
                }
                break;
        }
    }
    return SUCCESS;
}

// Chooses the target palette; count is the number of entries pixels may map to.
int ChoosePalette(const BITMAPHANDLE* src, int bpp, L_UINT flags, const RGBQUAD* user,
                  L_UINT userColors, RGBQUAD* pal, int* count, bool* keepIndices) {
    const int cap = 1 << bpp;
    for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{};
    *keepIndices = false;
    if (flags & CRF_USERPALETTE) {
        if (!user || userColors == 0) return ERROR_INV_PARAMETER;
        *count = int(std::min<L_UINT>(userColors, L_UINT(cap)));
        std::memcpy(pal, user, sizeof(RGBQUAD) * size_t(*count));
        return SUCCESS;
    }
    if ((flags & CRF_FIXEDPALETTE) || ((flags & CRF_NETSCAPEPALETTE) && bpp < 8)) {
        *count = cap;
        return L_GetFixedPalette(pal, bpp);
    }
    if (flags & CRF_NETSCAPEPALETTE) {
        *count = lt::color::NetscapePalette(pal);
        return SUCCESS;
    }
    if ((flags & CRF_IDENTITYPALETTE) && src->BitsPerPixel <= bpp && src->pPalette) {
        *count = 1 << src->BitsPerPixel;
        std::memcpy(pal, src->pPalette, sizeof(RGBQUAD) * size_t(*count));
        *keepIndices = true;
        return SUCCESS;
    }
    const int n = lt::color::OptimizedPalette(src, cap, pal);
    if (n < 0) return n;
    *count = n;
    return SUCCESS;
}

int ToPalette(const BITMAPHANDLE* src, BITMAPHANDLE* out, L_UINT flags, const RGBQUAD* user,
              L_UINT userColors) {
    RGBQUAD pal[256];
    int count = 0;
    bool keepIndices = false;
    const int bpp = out->BitsPerPixel;
    int rc = ChoosePalette(src, bpp, flags, user, userColors, pal, &count, &keepIndices);
    if (rc != SUCCESS) return rc;
    std::memcpy(out->pPalette, pal, sizeof pal);
    const int w = src->Width;
    const unsigned dither = flags & CRF_DITHERMASK;
    std::vector<uint8_t> idx(static_cast<size_t>(w));

    // A palette source whose colours all map exactly (or that is not dithered) only needs
    // an index translation.
    const int sbpp = src->BitsPerPixel;
    if (sbpp <= 8) {
        uint8_t lut[256] = {};
        bool direct = true;
        if (keepIndices) {
            for (int i = 0; i < 256; ++i) lut[i] = uint8_t(i);
        } else {
            lt::color::InverseMap map(pal, count);
            for (int i = 0; i < (1 << sbpp); ++i) {
                const RGBQUAD q = src->pPalette ? src->pPalette[i] : RGBQUAD{};
                const int e =
                    map.Exact(q.rgbRed | (uint32_t(q.rgbGreen) << 8) | (uint32_t(q.rgbBlue) << 16));
                if (e < 0 && dither != CRF_NODITHERING) {
                    direct = false;
                    break;
                }
                lut[i] = uint8_t(e >= 0 ? e : map.Nearest(q.rgbRed, q.rgbGreen, q.rgbBlue));
            }
        }
        if (direct) {
            for (int y = 0; y < src->Height; ++y) {
                if (!Progress(y, src->Height)) return ERROR_USER_ABORT;
                const uint8_t* s = L_RowPtr(src, y);
                for (int x = 0; x < w; ++x) idx[size_t(x)] = lut[lt::ReadIndex(s, x, sbpp)];
                PackIndices(idx.data(), L_RowPtr(out, y), w, bpp);
            }
            return SUCCESS;
        }
    }

    lt::color::RowReader reader(src);
    lt::color::Quantizer quantizer(pal, count, w, dither);
    std::vector<BGRA> row(static_cast<size_t>(w));
    for (int y = 0; y < src->Height; ++y) {
        if (!Progress(y, src->Height)) return ERROR_USER_ABORT;
        reader.Read(y, row.data());
        quantizer.Row(row.data(), idx.data(), y);
        PackIndices(idx.data(), L_RowPtr(out, y), w, bpp);
    }
    return SUCCESS;
}

// Puts a freshly built bitmap in place of dst. In place (dst == src) the old pixels and
// palette are freed and the region stays; otherwise src's region is copied.
int Install(const BITMAPHANDLE* src, BITMAPHANDLE* dst, BITMAPHANDLE& out) {
    out.XResolution = src->XResolution;
    out.YResolution = src->YResolution;
    if (dst == src) {
        lt::ReleasePixels(dst->Addr);
        delete[] dst->pPalette;
        out.pRgn = dst->pRgn;
        *dst = out;
        return SUCCESS;
    }
    if (src->pRgn) {
        out.pRgn = new (std::nothrow) LRegion(*src->pRgn);
        if (!out.pRgn) return ERROR_NO_MEMORY;
    }
    *dst = out;
    return SUCCESS;
}

void Discard(BITMAPHANDLE& out) {
    std::free(out.Addr);
    delete[] out.pPalette;
    out = BITMAPHANDLE{};
}

} // namespace

L_INT L_ColorResBitmap(const BITMAPHANDLE* src, pBITMAPHANDLE dst, L_INT nBitsPerPixel,
                       L_UINT uFlags, const RGBQUAD* pPalette, L_UINT uColors) {
    if (!dst || !lt::IsAllocated(src)) return ERROR_NO_BITMAP;
    if (!lt::IsValidBpp(nBitsPerPixel) || !lt::IsValidBpp(src->BitsPerPixel))
        return ERROR_BITPERPIXEL;
    if (!Consistent(src)) return ERROR_INV_PARAMETER;
    BITMAPHANDLE out;
    L_InitBitmap(&out, src->Width, src->Height, nBitsPerPixel);
    L_INT rc = lt::AllocatePixels(&out);
    if (rc != SUCCESS) return rc;
    rc = nBitsPerPixel <= 8 ? ToPalette(src, &out, uFlags, pPalette, uColors)
                            : ToTrueColour(src, &out);
    if (rc == SUCCESS) rc = Install(src, dst, out);
    if (rc != SUCCESS) {
        Discard(out);
        return rc;
    }
    L_ReportStatus(100); // the work is done; a late cancel changes nothing
    return SUCCESS;
}

namespace {

// Gray levels of a row of 24- or 32-bit pixels, straight from the stored bytes so that the
// loop vectorises.
QUILLO_ROW_KERNEL void GrayRow(const uint8_t* s, int w, int step, uint8_t* d) {
    if (step == 4) {
        for (int x = 0; x < w; ++x) {
            const uint32_t p = lt::proc::LoadWord(s + 4 * x);
            d[x] = uint8_t(lt::proc::Luma((p >> 16) & 255u, (p >> 8) & 255u, p & 255u));
        }
    } else {
        for (int x = 0; x < w; ++x)
            d[x] = uint8_t(lt::proc::Luma(s[3 * x + 2], s[3 * x + 1], s[3 * x]));
    }
}

// 24 and 32 bits, top row first, when nothing can cancel half way: the gray levels are
// written into the bitmap's own block, which then shrinks. A fresh block would cost as much
// again as the conversion, in first touches of its pages. Every row of levels lands at or
// before the bytes it comes from, so the rows go in order; where a row's levels would
// overlap its own pixels (the first row) they go through a copy.
L_INT GrayInPlace(pBITMAPHANDLE b) {
    BITMAPHANDLE out;
    L_InitBitmap(&out, b->Width, b->Height, 8);
    size_t bytes = 0;
    L_INT bpl = 0;
    if (L_INT rc = L_CheckImageSize(out.Width, out.Height, 8, &bytes, &bpl); rc != SUCCESS)
        return rc;
    out.pPalette = new (std::nothrow) RGBQUAD[256];
    if (!out.pPalette) return ERROR_NO_MEMORY;
    for (int i = 0; i < 256; ++i) out.pPalette[i] = RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    std::vector<uint8_t> first;
    const int w = b->Width, step = b->BitsPerPixel / 8;
    const size_t in = size_t(b->BytesPerLine), outRow = size_t(bpl);
    for (int y = 0; y < b->Height; ++y) {
        const uint8_t* s = b->Addr + size_t(y) * in;
        uint8_t* d = b->Addr + size_t(y) * outRow;
        if (d + w > s) {
            first.resize(size_t(w));
            GrayRow(s, w, step, first.data());
            std::memcpy(d, first.data(), size_t(w));
        } else {
            GrayRow(s, w, step, d);
        }
        std::memset(d + w, 0, outRow - size_t(w)); // the row's padding, as in a fresh block
    }
    out.Addr = b->Addr;
    if (auto* shrunk = static_cast<uint8_t*>(std::realloc(b->Addr, bytes))) out.Addr = shrunk;
    out.Size = bytes;
    out.BytesPerLine = bpl;
    out.nColors = 256;
    out.Flags.Allocated = true;
    out.XResolution = b->XResolution;
    out.YResolution = b->YResolution;
    out.pRgn = b->pRgn;
    delete[] b->pPalette;
    *b = out;
    return SUCCESS;
}

} // namespace

L_INT L_GrayScaleBitmap(pBITMAPHANDLE b, L_INT nBitsPerPixel) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    if (nBitsPerPixel != 8 || !lt::IsValidBpp(b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    if (!Consistent(b)) return ERROR_INV_PARAMETER;
    // In place only in a block of b's own: another holder's pixels must stay.
    if (b->BitsPerPixel >= 24 && (b->ViewPerspective == TOP_LEFT || b->Height == 1) &&
        !lt::StatusCanCancel() && !L_IsBitmapShared(b))
        return GrayInPlace(b);
    BITMAPHANDLE out;
    L_InitBitmap(&out, b->Width, b->Height, 8);
    L_INT rc = lt::AllocatePixels(&out);
    if (rc != SUCCESS) return rc;
    for (int i = 0; i < 256; ++i) out.pPalette[i] = RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    // The same weights as the alpha planes use, so a gray image and its alpha plane agree.
    auto luma = [](int r, int g, int bl) {
        return uint8_t((r * 77 + g * 150 + bl * 29 + 128) >> 8);
    };
    const int w = b->Width;
    if (b->BitsPerPixel <= 8) {
        uint8_t lut[256] = {};
        for (int i = 0; i < (1 << b->BitsPerPixel); ++i) {
            const RGBQUAD q = b->pPalette ? b->pPalette[i] : RGBQUAD{};
            lut[i] = luma(q.rgbRed, q.rgbGreen, q.rgbBlue);
        }
        for (int y = 0; y < b->Height; ++y) {
            const uint8_t* s = L_RowPtr(b, y);
            uint8_t* d = L_RowPtr(&out, y);
            for (int x = 0; x < w; ++x) d[x] = lut[lt::ReadIndex(s, x, b->BitsPerPixel)];
        }
    } else {
        lt::color::RowReader reader(b);
        std::vector<BGRA> row(static_cast<size_t>(w));
        for (int y = 0; y < b->Height; ++y) {
            if (!Progress(y, b->Height)) {
                Discard(out);
                return ERROR_USER_ABORT;
            }
            uint8_t* d = L_RowPtr(&out, y);
            if (b->BitsPerPixel >= 24) {
                GrayRow(L_RowPtr(b, y), w, b->BitsPerPixel / 8, d);
                continue;
            }
            reader.Read(y, row.data());
            for (int x = 0; x < w; ++x)
                d[x] = luma(row[size_t(x)].r, row[size_t(x)].g, row[size_t(x)].b);
        }
    }
    Install(b, b, out);
    return SUCCESS;
}

// Palette images answer from their colour table. Deeper images have no table, so their
// pixels are looked at: all of them with equal red, green and blue gives GRAY_NOTORDERED
// (there is no order to speak of), anything else GRAY_NO.
L_INT L_IsGrayScaleBitmap(const BITMAPHANDLE* b) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    if (!lt::IsValidBpp(b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    if (b->BitsPerPixel <= 8) {
        if (!b->pPalette) return GRAY_NO;
        const int n = 1 << b->BitsPerPixel;
        bool normal = true, inverse = true;
        for (int i = 0; i < n; ++i) {
            const RGBQUAD q = b->pPalette[i];
            if (q.rgbRed != q.rgbGreen || q.rgbGreen != q.rgbBlue) return GRAY_NO;
            normal = normal && q.rgbRed == i * 255 / (n - 1);
            inverse = inverse && q.rgbRed == (n - 1 - i) * 255 / (n - 1);
        }
        return normal ? GRAY_ORDEREDNORMAL : inverse ? GRAY_ORDEREDINVERSE : GRAY_NOTORDERED;
    }
    if (!Consistent(b)) return ERROR_INV_PARAMETER;
    const int w = b->Width;
    for (int y = 0; y < b->Height; ++y) {
        const uint8_t* s = L_RowPtr(b, y);
        switch (b->BitsPerPixel) {
            case 32:
            case 24: {
                const int step = b->BitsPerPixel / 8;
                for (int x = 0; x < w; ++x, s += step)
                    if (s[0] != s[1] || s[1] != s[2]) return GRAY_NO;
                break;
            }
            default:
                for (int x = 0; x < w; ++x) {
                    const unsigned v = unsigned(s[x * 2] | (s[x * 2 + 1] << 8));
                    const unsigned r = (v >> 10) & 31u, g = (v >> 5) & 31u, bl = v & 31u;
                    if (r != g || g != bl) return GRAY_NO;
                }
                break;
        }
    }
    return GRAY_NOTORDERED;
}
