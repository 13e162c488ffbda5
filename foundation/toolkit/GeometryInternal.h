// Pieces shared by the geometry operations (resize, rotate, shear, flip): pixel access by
// depth, scratch records, regions carried as masks, progress, colour rows and fill colours.
// See Resize.cpp for what callers may rely on.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "BitmapInternal.h"
#include "OwnedBitmap.h"

namespace lt::geom {

using lt::BGRA;

template <class F>
inline L_INT Guard(F&& f) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
}

// ---------------------------------------------------------------------------
// Pixel access by depth, so that the nearest-neighbour kernels compile to plain byte moves.

template <int B>
struct BytePx {
    static void Copy(uint8_t* d, int dx, const uint8_t* s, int sx) {
        std::memcpy(d + size_t(dx) * B, s + size_t(sx) * B, B);
    }
    static void CopyRun(uint8_t* d, int dx, const uint8_t* s, int sx, int n) {
        std::memcpy(d + size_t(dx) * B, s + size_t(sx) * B, size_t(n) * B);
    }
    static void Set(uint8_t* d, int dx, const uint8_t* v) { std::memcpy(d + size_t(dx) * B, v, B); }
    static void Swap(uint8_t* row, int a, int b) {
        uint8_t t[B];
        std::memcpy(t, row + size_t(a) * B, B);
        std::memcpy(row + size_t(a) * B, row + size_t(b) * B, B);
        std::memcpy(row + size_t(b) * B, t, B);
    }
};

template <int Bits>
struct SubPx {
    static void Copy(uint8_t* d, int dx, const uint8_t* s, int sx) {
        lt::WriteIndex(d, dx, Bits, lt::ReadIndex(s, sx, Bits));
    }
    static void CopyRun(uint8_t* d, int dx, const uint8_t* s, int sx, int n) {
        for (int i = 0; i < n; ++i) Copy(d, dx + i, s, sx + i);
    }
    static void Set(uint8_t* d, int dx, const uint8_t* v) { lt::WriteIndex(d, dx, Bits, v[0]); }
    static void Swap(uint8_t* row, int a, int b) {
        unsigned va = lt::ReadIndex(row, a, Bits), vb = lt::ReadIndex(row, b, Bits);
        lt::WriteIndex(row, a, Bits, vb);
        lt::WriteIndex(row, b, Bits, va);
    }
};

template <class F>
auto WithPixelType(int bpp, F&& f) {
    switch (bpp) {
        case 1: return f(SubPx<1>{});
        case 4: return f(SubPx<4>{});
        case 8: return f(BytePx<1>{});
        case 16: return f(BytePx<2>{});
        case 24: return f(BytePx<3>{});
        default: return f(BytePx<4>{});
    }
}

template <class P>
inline void SetRun(uint8_t* row, int x0, int x1, const uint8_t* v) {
    for (int x = x0; x < x1; ++x) P::Set(row, x, v);
}

inline std::vector<const uint8_t*> RowTable(const BITMAPHANDLE* b) {
    std::vector<const uint8_t*> rows(size_t(b->Height));
    for (int y = 0; y < b->Height; ++y) rows[size_t(y)] = L_RowPtr(b, y);
    return rows;
}

// ---------------------------------------------------------------------------
// Records.

// A zeroed bitmap of another size with src's depth, palette, row order and resolution.
inline L_INT NewLike(const BITMAPHANDLE* src, L_INT w, L_INT h, BITMAPHANDLE* out) {
    L_InitBitmap(out, w, h, src->BitsPerPixel);
    out->Order = src->Order;
    out->ViewPerspective = src->ViewPerspective;
    out->XResolution = src->XResolution;
    out->YResolution = src->YResolution;
    L_INT rc = lt::AllocatePixels(out);
    if (rc != SUCCESS) {
        L_InitBitmap(out, 0, 0, 0);
        return rc;
    }
    if (src->pPalette && out->pPalette)
        std::memcpy(out->pPalette, src->pPalette, sizeof(RGBQUAD) * 256);
    out->nColors = src->nColors;
    return SUCCESS;
}

// An 8-bit scratch bitmap for moving regions around (0 outside, 1 inside).
inline L_INT NewMask(L_INT w, L_INT h, BITMAPHANDLE* out) {
    L_InitBitmap(out, w, h, 8);
    L_INT rc = lt::AllocatePixels(out);
    if (rc != SUCCESS) L_InitBitmap(out, 0, 0, 0);
    return rc;
}

// Replaces b's pixels and region with the new ones; b's old content is freed.
inline void Commit(BITMAPHANDLE* b, TOwnedBitmap& out, std::unique_ptr<LRegion> rgn) {
    BITMAPHANDLE n = out.Release();
    n.pRgn = rgn.release();
    L_FreeBitmap(b);
    *b = n;
}

// ---------------------------------------------------------------------------
// Regions travel as masks through the same nearest-neighbour kernels as the pixels.

inline L_INT MaskFromRegion(const BITMAPHANDLE* b, BITMAPHANDLE* m) {
    L_INT rc = NewMask(b->Width, b->Height, m);
    if (rc != SUCCESS) return rc;
    for (const RgnSpan& s : b->pRgn->spans) {
        if (s.y < 0 || s.y >= b->Height) continue;
        int x0 = std::max(s.x0, 0), x1 = std::min(s.x1, b->Width);
        if (x0 < x1) std::memset(L_RowPtr(m, s.y) + x0, 1, size_t(x1 - x0));
    }
    return SUCCESS;
}

inline std::unique_ptr<LRegion> RegionFromMask(const BITMAPHANDLE* m) {
    auto r = std::make_unique<LRegion>();
    for (int y = 0; y < m->Height; ++y) {
        const uint8_t* row = L_RowPtr(m, y);
        int x = 0;
        while (x < m->Width) {
            while (x < m->Width && !row[x]) ++x;
            if (x == m->Width) break;
            int start = x;
            while (x < m->Width && row[x]) ++x;
            r->spans.push_back(RgnSpan{y, start, x});
        }
    }
    return r;
}

// The bitmap's region carried through `op` (a nearest-neighbour kernel from a mask of b's
// size to one of w x h). Leaves *out null when b has no region.
template <class Op>
inline L_INT TransformRegion(const BITMAPHANDLE* b, L_INT w, L_INT h, Op&& op,
                             std::unique_ptr<LRegion>* out) {
    if (!b->pRgn) return SUCCESS;
    TOwnedBitmap in, moved;
    L_INT rc = MaskFromRegion(b, in.get());
    if (rc != SUCCESS) return rc;
    rc = NewMask(w, h, moved.get());
    if (rc != SUCCESS) return rc;
    op(in.get(), moved.get());
    *out = RegionFromMask(moved.get());
    return SUCCESS;
}

// Spans of one row keep ascending x order after a mirror reversed them.
inline void ReverseEachRow(std::vector<RgnSpan>& spans) {
    size_t i = 0;
    while (i < spans.size()) {
        size_t j = i;
        while (j < spans.size() && spans[j].y == spans[i].y) ++j;
        std::reverse(spans.begin() + long(i), spans.begin() + long(j));
        i = j;
    }
}

// ---------------------------------------------------------------------------
// Progress through the status callback.

class Progress {
public:
    explicit Progress(int total) : total_(std::max(total, 1)) {}
    // False when the callback asked to cancel.
    bool Continue(int done) {
        int pct = int(int64_t(done) * 100 / total_);
        if (pct == last_) return true;
        last_ = pct;
        return L_ReportStatus(pct) == SUCCESS;
    }

private:
    int total_;
    int last_ = -1;
};

// ---------------------------------------------------------------------------
// Colour rows: filtering works on blue-green-red-alpha bytes whatever the stored depth.

class RowDecoder {
public:
    explicit RowDecoder(const BITMAPHANDLE* b) : b_(b) {
        if (b->BitsPerPixel <= 8) {
            for (int i = 0; i < 256; ++i) {
                RGBQUAD q = b->pPalette ? b->pPalette[i] : RGBQUAD{};
                lut_[i][0] = q.rgbBlue;
                lut_[i][1] = q.rgbGreen;
                lut_[i][2] = q.rgbRed;
                lut_[i][3] = 255;
            }
        }
    }
    void Decode(const uint8_t* row, uint8_t* out) const {
        const int w = b_->Width;
        switch (b_->BitsPerPixel) {
            case 32: std::memcpy(out, row, size_t(w) * 4); break;
            case 24:
                for (int x = 0; x < w; ++x) {
                    out[x * 4] = row[x * 3];
                    out[x * 4 + 1] = row[x * 3 + 1];
                    out[x * 4 + 2] = row[x * 3 + 2];
                    out[x * 4 + 3] = 255;
                }
                break;
            case 16:
                for (int x = 0; x < w; ++x) {
                    BGRA c = lt::Unpack16(uint16_t(row[x * 2] | (row[x * 2 + 1] << 8)));
                    out[x * 4] = c.b;
                    out[x * 4 + 1] = c.g;
                    out[x * 4 + 2] = c.r;
                    out[x * 4 + 3] = c.a;
                }
                break;
            case 8:
                for (int x = 0; x < w; ++x) std::memcpy(out + x * 4, lut_[row[x]], 4);
                break;
            default:
                for (int x = 0; x < w; ++x)
                    std::memcpy(out + x * 4, lut_[lt::ReadIndex(row, x, b_->BitsPerPixel)], 4);
                break;
        }
    }

private:
    const BITMAPHANDLE* b_;
    uint8_t lut_[256][4] = {};
};

class RowEncoder {
public:
    explicit RowEncoder(const BITMAPHANDLE* b) : b_(b) {
        if (b->BitsPerPixel <= 8) {
            keys_.assign(kCacheSize, 0);
            vals_.assign(kCacheSize, 0);
        }
    }
    void Encode(const uint8_t* in, uint8_t* row) {
        const int w = b_->Width;
        switch (b_->BitsPerPixel) {
            case 32: std::memcpy(row, in, size_t(w) * 4); break;
            case 24:
                for (int x = 0; x < w; ++x) {
                    row[x * 3] = in[x * 4];
                    row[x * 3 + 1] = in[x * 4 + 1];
                    row[x * 3 + 2] = in[x * 4 + 2];
                }
                break;
            case 16:
                for (int x = 0; x < w; ++x) {
                    uint16_t v =
                        lt::Pack16(BGRA{in[x * 4], in[x * 4 + 1], in[x * 4 + 2], in[x * 4 + 3]});
                    row[x * 2] = uint8_t(v);
                    row[x * 2 + 1] = uint8_t(v >> 8);
                }
                break;
            default:
                for (int x = 0; x < w; ++x)
                    lt::WriteIndex(row, x, b_->BitsPerPixel,
                                   Index(in[x * 4 + 2], in[x * 4 + 1], in[x * 4]));
                break;
        }
    }

private:
    // The palette search costs up to 256 comparisons; filtered images repeat colours a lot,
    // so remember the answers in a small direct-mapped cache.
    static constexpr size_t kCacheSize = 4096;
    unsigned Index(uint8_t r, uint8_t g, uint8_t bl) {
        uint32_t key = 0x01000000u | r | (uint32_t(g) << 8) | (uint32_t(bl) << 16);
        size_t slot = (key * 2654435761u) >> 20 & (kCacheSize - 1);
        if (keys_[slot] != key) {
            keys_[slot] = key;
            vals_[slot] =
                uint8_t(lt::NearestPaletteIndex(b_->pPalette, 1 << b_->BitsPerPixel, r, g, bl));
        }
        return vals_[slot];
    }
    const BITMAPHANDLE* b_;
    std::vector<uint32_t> keys_;
    std::vector<uint8_t> vals_;
};

// Source rows as colour bytes. 32-bit rows are used in place; other depths are decoded,
// either all at once or into a ring of `slots` rows for callers that walk downwards.
class ColorRows {
public:
    ColorRows(const BITMAPHANDLE* b, int slots) : b_(b), dec_(b) {
        const int h = b->Height;
        if (b->BitsPerPixel == 32) {
            table_ = RowTable(b);
            return;
        }
        stride_ = size_t(b->Width) * 4;
        if (slots >= h) {
            buf_.resize(stride_ * size_t(h));
            table_.resize(size_t(h));
            for (int y = 0; y < h; ++y) {
                uint8_t* out = buf_.data() + stride_ * size_t(y);
                dec_.Decode(L_RowPtr(b, y), out);
                table_[size_t(y)] = out;
            }
            return;
        }
        slots_ = std::max(slots, 1);
        buf_.resize(stride_ * size_t(slots_));
        tag_.assign(size_t(slots_), -1);
    }
    // One pointer per row, when every row is held (32 bits, or slots for every row).
    const uint8_t* const* Table() const { return slots_ ? nullptr : table_.data(); }
    const uint8_t* Get(int y) {
        if (!slots_) return table_[size_t(y)];
        size_t s = size_t(y % slots_);
        uint8_t* out = buf_.data() + stride_ * s;
        if (tag_[s] != y) {
            dec_.Decode(L_RowPtr(b_, y), out);
            tag_[s] = y;
        }
        return out;
    }

private:
    const BITMAPHANDLE* b_;
    RowDecoder dec_;
    std::vector<const uint8_t*> table_;
    std::vector<uint8_t> buf_;
    std::vector<int> tag_;
    size_t stride_ = 0;
    int slots_ = 0;
};

// ---------------------------------------------------------------------------
// Fill colour of uncovered pixels.

struct Fill {
    uint8_t stored[4] = {}; // one pixel as stored (the palette index in [0] at 8 bits or less)
    uint8_t color[4] = {};  // the same as blue-green-red-alpha, for filtered output
};

inline Fill MakeFill(const BITMAPHANDLE* b, COLORREF c) {
    Fill f;
    const int bpp = b->BitsPerPixel;
    BGRA col{GetBValue(c), GetGValue(c), GetRValue(c), 255};
    if (IsPaletteIndex(c)) {
        unsigned i = c & 0xFFu;
        col = BGRA{uint8_t(i), uint8_t(i), uint8_t(i), 255}; // a gray level on true-colour bitmaps
        if (bpp <= 8) {
            i &= (1u << bpp) - 1;
            RGBQUAD q = b->pPalette ? b->pPalette[i] : RGBQUAD{};
            f.stored[0] = uint8_t(i);
            col = BGRA{q.rgbBlue, q.rgbGreen, q.rgbRed, 255};
        }
    } else if (bpp <= 8) {
        int i = lt::NearestPaletteIndex(b->pPalette, 1 << bpp, col.r, col.g, col.b);
        f.stored[0] = uint8_t(i);
    }
    if (bpp == 32) col.a = 0;
    f.color[0] = col.b;
    f.color[1] = col.g;
    f.color[2] = col.r;
    f.color[3] = col.a;
    if (bpp == 32 || bpp == 24) std::memcpy(f.stored, f.color, 4);
    if (bpp == 16) {
        uint16_t v = lt::Pack16(col);
        f.stored[0] = uint8_t(v);
        f.stored[1] = uint8_t(v >> 8);
    }
    return f;
}

} // namespace lt::geom
