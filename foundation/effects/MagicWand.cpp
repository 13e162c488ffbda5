// The magic wand: a scanline flood over a per-pixel state map.
//
// Each row's matches are computed once, the first time the flood reaches the row, into a
// byte map (0 no match, 1 match not yet reached, 2 marked). The flood then works on whole
// runs of that map: it finds runs of 1 with memchr and word-at-a-time scans, marks them 2
// and looks at the rows above and below each run. A click on a small object touches only
// a few rows; flooding a whole 12-megapixel photo costs one pass of colour tests and about
// three passes over the byte map. The mask is written only at the end, from the map, so a
// failure leaves it as it was.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "MagicWand.h"
#include "PixelAccess.h"

// Function multiversioning needs ifunc support (glibc); define QUILLO_NO_CLONES to build the
// plain versions only.
#if defined(__x86_64__) && !defined(QUILLO_NO_CLONES)
#define QUILLO_ROW_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define QUILLO_ROW_KERNEL
#endif

namespace {

enum : uint8_t { kNoMatch = 0, kMatch = 1, kMarked = 2 };

// x / 255 rounded down, exact for 0 <= x < 65535.
inline unsigned Div255(unsigned x) { return (x + 1 + (x >> 8)) >> 8; }

// A colour as compared: blue, green, red, alpha (colours premultiplied at 32 bits).
struct Key {
    uint8_t c[4];
};

// Per channel, the accepted values lo .. lo + span.
struct Box {
    uint8_t lo[4] = {0, 0, 0, 0};
    uint8_t span[4] = {255, 255, 255, 255};

    bool Contains(const Key& k) const {
        // In 8-bit wrapping arithmetic v - lo <= span exactly when lo <= v <= lo + span.
        return uint8_t(k.c[0] - lo[0]) <= span[0] && uint8_t(k.c[1] - lo[1]) <= span[1] &&
               uint8_t(k.c[2] - lo[2]) <= span[2] && uint8_t(k.c[3] - lo[3]) <= span[3];
    }
    // The colours within `tolerance` of every value in [min, max] per channel.
    static Box Around(const Key& min, const Key& max, int tolerance) {
        Box b;
        for (int k = 0; k < 4; ++k) {
            const int lo = std::max(0, min.c[k] - tolerance);
            const int hi = std::min(255, max.c[k] + tolerance);
            b.lo[k] = uint8_t(lo);
            b.span[k] = uint8_t(hi - lo);
        }
        return b;
    }
};

// The matches of n 32-bit pixels. Opaque rows, the usual case, skip the premultiplication.
QUILLO_ROW_KERNEL void MatchRow32(const uint8_t* __restrict row, int n, const Box& box,
                                  uint8_t* __restrict out) {
    const uint8_t l0 = box.lo[0], l1 = box.lo[1], l2 = box.lo[2], l3 = box.lo[3];
    const uint8_t s0 = box.span[0], s1 = box.span[1], s2 = box.span[2], s3 = box.span[3];
    uint8_t opaque = 255;
    for (int x = 0; x < n; ++x) opaque &= row[4 * x + 3];
    if (opaque == 255) {
        const bool alphaOk = uint8_t(255 - l3) <= s3;
        for (int x = 0; x < n; ++x) {
            const uint8_t* p = row + 4 * x;
            out[x] = uint8_t((uint8_t(p[0] - l0) <= s0) & (uint8_t(p[1] - l1) <= s1) &
                             (uint8_t(p[2] - l2) <= s2) & alphaOk);
        }
        return;
    }
    for (int x = 0; x < n; ++x) {
        const uint8_t* p = row + 4 * x;
        const unsigned a = p[3];
        const uint8_t kb = uint8_t(Div255(p[0] * a + 127));
        const uint8_t kg = uint8_t(Div255(p[1] * a + 127));
        const uint8_t kr = uint8_t(Div255(p[2] * a + 127));
        out[x] = uint8_t((uint8_t(kb - l0) <= s0) & (uint8_t(kg - l1) <= s1) &
                         (uint8_t(kr - l2) <= s2) & (uint8_t(p[3] - l3) <= s3));
    }
}

Key KeyOf(const BITMAPHANDLE* b, const uint8_t* row, int x) {
    const lt::BGRA c = lt::ReadPixel(b, row, x);
    if (b->BitsPerPixel != 32) return Key{{c.b, c.g, c.r, 255}};
    const unsigned a = c.a;
    return Key{{uint8_t(Div255(c.b * a + 127)), uint8_t(Div255(c.g * a + 127)),
                uint8_t(Div255(c.r * a + 127)), c.a}};
}

Key PaletteKey(const BITMAPHANDLE* b, unsigned i) {
    if (!b->pPalette) return Key{{0, 0, 0, 255}};
    const RGBQUAD& q = b->pPalette[i];
    return Key{{q.rgbBlue, q.rgbGreen, q.rgbRed, 255}};
}

class TWand {
public:
    TWand(const BITMAPHANDLE* b, const BITMAPHANDLE* mask) : b_(b), mask_(mask) {
        w_ = b->Width;
        h_ = b->Height;
    }

    L_INT Allocate() {
        size_t n;
        if (!L_CheckedMul(size_t(w_), size_t(h_), &n)) return ERROR_NO_MEMORY;
        state_.reset(new (std::nothrow) uint8_t[n]);
        if (!state_) return ERROR_NO_MEMORY;
        try {
            ready_.assign(size_t(h_), 0);
            withBits_.assign(size_t(h_), 0);
            sel_.assign(size_t(w_) + 8, 0);
        } catch (const std::bad_alloc&) {
            return ERROR_NO_MEMORY;
        }
        return SUCCESS;
    }

    void SetBox(const Box& box) {
        box_ = box;
        if (b_->BitsPerPixel <= 8)
            for (unsigned i = 0; i < (1u << b_->BitsPerPixel); ++i)
                indexMatch_[i] = box.Contains(PaletteKey(b_, i)) ? kMatch : kNoMatch;
    }
    // Existing mask pixels count as marked (growing); otherwise the mask is ignored.
    void KeepMask(bool keep) { keepMask_ = keep; }

    // The range of colours under the mask's set pixels; false when none is set. Notes the
    // rows that have any.
    bool MaskRange(Key* min, Key* max) {
        uint8_t lo[4] = {255, 255, 255, 255}, hi[4] = {0, 0, 0, 0};
        uint8_t* sel = sel_.data();
        bool any = false;
        for (int y = 0; y < h_; ++y) {
            const uint8_t* m = L_RowPtr(mask_, y);
            bool rowAny = false;
            for (int xb = 0; xb < (w_ + 7) / 8; ++xb) {
                const unsigned byte = xb == w_ / 8 ? m[xb] & (0xFF00u >> (w_ % 8)) : m[xb];
                rowAny = rowAny || byte != 0;
                for (int i = 0; i < 8; ++i) sel[size_t(xb * 8 + i)] = (byte >> (7 - i)) & 1;
            }
            withBits_[size_t(y)] = rowAny;
            if (!rowAny) continue;
            any = true;
            const uint8_t* row = L_RowPtr(b_, y);
            if (b_->BitsPerPixel == 32) {
                // Without branches, so that the loop vectorises: unselected pixels count
                // as 255 for the minimum and 0 for the maximum.
                for (int x = 0; x < w_; ++x) {
                    const uint8_t* p = row + 4 * x;
                    const unsigned a = p[3];
                    const uint8_t k[4] = {uint8_t(Div255(p[0] * a + 127)),
                                          uint8_t(Div255(p[1] * a + 127)),
                                          uint8_t(Div255(p[2] * a + 127)), p[3]};
                    const uint8_t on = uint8_t(-sel[size_t(x)]), off = uint8_t(~on);
                    for (int c = 0; c < 4; ++c) {
                        lo[c] = std::min(lo[c], uint8_t(k[c] | off));
                        hi[c] = std::max(hi[c], uint8_t(k[c] & on));
                    }
                }
            } else {
                for (int x = 0; x < w_; ++x) {
                    if (!sel[size_t(x)]) continue;
                    const Key k = KeyOf(b_, row, x);
                    for (int c = 0; c < 4; ++c) {
                        lo[c] = std::min(lo[c], k.c[c]);
                        hi[c] = std::max(hi[c], k.c[c]);
                    }
                }
            }
        }
        *min = Key{{lo[0], lo[1], lo[2], lo[3]}};
        *max = Key{{hi[0], hi[1], hi[2], hi[3]}};
        return any;
    }

    uint8_t* Row(int y) {
        uint8_t* s = state_.get() + size_t(y) * size_t(w_);
        if (!ready_[size_t(y)]) {
            MatchRow(y, s);
            ready_[size_t(y)] = 1;
        }
        return s;
    }

    // The 4-connected area of kMatch pixels around (x, y) becomes kMarked.
    L_INT FloodFrom(int x, int y) {
        uint8_t* row = Row(y);
        if (row[x] != kMatch) return SUCCESS;
        int l = x;
        while (l > 0 && row[l - 1] == kMatch) --l;
        const int r = RunEnd(row, x + 1);
        if (!Mark(y, l, r)) return ERROR_NO_MEMORY;
        return Drain();
    }

    // The mask's pixels spread into the matching pixels connected to them.
    L_INT GrowConnected() {
        for (int y = 0; y < h_; ++y) {
            if (!withBits_[size_t(y)]) continue;
            if (L_INT rc = FloodFromMarkedRow(y); rc != SUCCESS) return rc;
        }
        return SUCCESS;
    }

    // Every run of marked pixels of row y spreads into the matching pixels around it.
    L_INT FloodFromMarkedRow(int y) {
        uint8_t* row = Row(y);
        for (int x = 0; x < w_;) {
            const void* p = std::memchr(row + x, kMarked, size_t(w_ - x));
            if (!p) break;
            x = int(static_cast<const uint8_t*>(p) - row);
            int l = x;
            while (l > 0 && row[l - 1] == kMatch) --l;
            const int r = RunEnd(row, RunEnd(row, x + 1, kMarked), kMatch);
            if (!Mark(y, l, r)) return ERROR_NO_MEMORY;
            x = r;
        }
        return Drain();
    }

    // Writes the final mask: a pixel is set when marked, or, with `anyMatch`, when it
    // matches at all. Rows the flood never reached are cleared when `clearOthers`, else kept.
    void WriteMask(BITMAPHANDLE* mask, bool anyMatch, bool clearOthers) {
        const int full = w_ / 8, tail = w_ % 8;
        for (int y = 0; y < h_; ++y) {
            uint8_t* out = L_RowPtr(mask, y);
            if (!ready_[size_t(y)]) {
                if (clearOthers) std::memset(out, 0, size_t((w_ + 7) / 8));
                continue;
            }
            const uint8_t* s = state_.get() + size_t(y) * size_t(w_);
            for (int k = 0; k < full; ++k) {
                uint64_t v;
                std::memcpy(&v, s + size_t(k) * 8, 8);
                v = (anyMatch ? (v | (v >> 1)) : (v >> 1)) & 0x0101010101010101ull;
                // Gathers the low bit of byte i into bit 7 - i of the top byte.
                out[k] = uint8_t((v * 0x8040201008040201ull) >> 56);
            }
            if (tail) {
                uint8_t byte = 0;
                for (int i = 0; i < tail; ++i) {
                    const uint8_t v = s[full * 8 + i];
                    if (anyMatch ? v != kNoMatch : v == kMarked) byte |= uint8_t(0x80u >> i);
                }
                out[full] = byte;
            }
        }
    }

    void MatchAllRows() {
        for (int y = 0; y < h_; ++y) Row(y);
    }

private:
    // The first x >= from where the row is not `value` (or the width).
    int RunEnd(const uint8_t* row, int from, uint8_t value = kMatch) const {
        const uint64_t word = 0x0101010101010101ull * value;
        int x = from;
        while (x + 8 <= w_) {
            uint64_t v;
            std::memcpy(&v, row + x, 8);
            if (v != word) break;
            x += 8;
        }
        while (x < w_ && row[x] == value) ++x;
        return x;
    }

    // Marks [l, r) of row y and queues it. dir is the direction the flood came from (+1
    // downwards, -1 upwards, 0 for a start) and [px0, px1) the run it came from: that part
    // of the row behind needs no second look.
    bool Mark(int y, int l, int r, int dir = 0, int px0 = 0, int px1 = 0) {
        std::memset(state_.get() + size_t(y) * size_t(w_) + size_t(l), kMarked, size_t(r - l));
        try {
            stack_.push_back(Span{y, l, r, dir, px0, px1});
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    // The first x in [from, to) where the row is kMatch, or `to`.
    static int FindMatch(const uint8_t* row, int from, int to) {
        int x = from;
        while (x + 8 <= to) {
            uint64_t v;
            std::memcpy(&v, row + x, 8);
            v ^= 0x0101010101010101ull; // bytes equal to kMatch become 0
            const uint64_t zero = (v - 0x0101010101010101ull) & ~v & 0x8080808080808080ull;
            if (zero) return x + __builtin_ctzll(zero) / 8;
            x += 8;
        }
        while (x < to && row[x] != kMatch) ++x;
        return x;
    }

    // Marks every run of kMatch in row y that touches [from, to), each run whole.
    bool ScanRow(int y, int from, int to, int dir, int px0, int px1) {
        uint8_t* row = Row(y);
        for (int x = FindMatch(row, from, to); x < to; x = FindMatch(row, x, to)) {
            int l = x;
            while (l > 0 && row[l - 1] == kMatch) --l;
            const int r = RunEnd(row, x + 1);
            if (!Mark(y, l, r, dir, px0, px1)) return false;
            x = r;
        }
        return true;
    }

    // Spreads every pending marked run into the rows above and below it.
    L_INT Drain() {
        while (!stack_.empty()) {
            const Span s = stack_.back();
            stack_.pop_back();
            for (int dir = -1; dir <= 1; dir += 2) {
                const int ny = s.y + dir;
                if (ny < 0 || ny >= h_) continue;
                bool ok;
                if (dir == -s.dir) // back towards the parent run: only beyond its ends
                    ok = ScanRow(ny, s.x0, std::min(s.x1, s.px0), dir, s.x0, s.x1) &&
                         ScanRow(ny, std::max(s.x0, s.px1), s.x1, dir, s.x0, s.x1);
                else
                    ok = ScanRow(ny, s.x0, s.x1, dir, s.x0, s.x1);
                if (!ok) return ERROR_NO_MEMORY;
            }
        }
        return SUCCESS;
    }

    void MatchRow(int y, uint8_t* out) const {
        const uint8_t* row = L_RowPtr(b_, y);
        const int w = w_;
        const uint8_t l0 = box_.lo[0], l1 = box_.lo[1], l2 = box_.lo[2], l3 = box_.lo[3];
        const uint8_t s0 = box_.span[0], s1 = box_.span[1], s2 = box_.span[2], s3 = box_.span[3];
        switch (b_->BitsPerPixel) {
            case 32: MatchRow32(row, w, box_, out); break;
            case 24:
                for (int x = 0; x < w; ++x) {
                    const uint8_t* p = row + 3 * x;
                    out[x] = uint8_t((uint8_t(p[0] - l0) <= s0) & (uint8_t(p[1] - l1) <= s1) &
                                     (uint8_t(p[2] - l2) <= s2) & (uint8_t(255 - l3) <= s3));
                }
                break;
            case 16:
                for (int x = 0; x < w; ++x) out[x] = box_.Contains(KeyOf(b_, row, x));
                break;
            case 8:
                for (int x = 0; x < w; ++x) out[x] = indexMatch_[row[x]];
                break;
            default:
                for (int x = 0; x < w; ++x)
                    out[x] = indexMatch_[lt::ReadIndex(row, x, b_->BitsPerPixel)];
                break;
        }
        if (keepMask_) {
            const uint8_t* m = L_RowPtr(mask_, y);
            for (int xb = 0; xb < (w + 7) / 8; ++xb) {
                if (!m[xb]) continue;
                for (int x = xb * 8; x < std::min(w, xb * 8 + 8); ++x)
                    if ((m[xb] >> (7 - (x & 7))) & 1) out[x] = kMarked;
            }
        }
    }

    struct Span {
        int y, x0, x1;
        int dir, px0, px1;
    };

    const BITMAPHANDLE* b_;
    const BITMAPHANDLE* mask_;
    int w_ = 0, h_ = 0;
    Box box_;
    uint8_t indexMatch_[256] = {};
    bool keepMask_ = false;
    std::unique_ptr<uint8_t[]> state_;
    std::vector<uint8_t> ready_;
    std::vector<uint8_t> withBits_; // rows of the mask with set pixels
    std::vector<uint8_t> sel_;      // one row of the mask, a byte per pixel
    std::vector<Span> stack_;
};

RECT MaskBounds(const BITMAPHANDLE* mask) {
    RECT r{mask->Width, mask->Height, 0, 0};
    const int bytes = (mask->Width + 7) / 8;
    // Bits past the width in the last byte are not pixels.
    const uint8_t lastBits = mask->Width % 8 ? uint8_t(0xFF00u >> (mask->Width % 8)) : 0xFF;
    for (int y = 0; y < mask->Height; ++y) {
        const uint8_t* m = L_RowPtr(mask, y);
        auto at = [&](int k) { return k == bytes - 1 ? uint8_t(m[k] & lastBits) : m[k]; };
        int first = 0;
        while (first < bytes && !at(first)) ++first;
        if (first == bytes) continue;
        int last = bytes - 1;
        while (!at(last)) --last;
        r.top = std::min(r.top, y);
        r.bottom = y + 1;
        r.left = std::min(r.left, first * 8 + __builtin_clz(unsigned(at(first))) - 24);
        r.right = std::max(r.right, last * 8 + 8 - __builtin_ctz(unsigned(at(last))));
    }
    if (r.right <= r.left) return RECT{};
    return r;
}

} // namespace

L_INT MagicWandBitmap(const BITMAPHANDLE* bitmap, BITMAPHANDLE* mask, double tolerance, L_INT x,
                      L_INT y, RECT* result, L_INT flags) {
    if (result) *result = RECT{};
    if (!lt::IsAllocated(bitmap) || !lt::IsAllocated(mask)) return ERROR_NO_BITMAP;
    if (!lt::IsValidBpp(bitmap->BitsPerPixel) || mask->BitsPerPixel != 1) return ERROR_BITPERPIXEL;
    if (mask->Width != bitmap->Width || mask->Height != bitmap->Height) return ERROR_INV_RANGE;
    if (std::isnan(tolerance)) return ERROR_INV_PARAMETER;
    const bool grow = x == -1 && y == -1;
    if (!grow && (x < 0 || x >= bitmap->Width || y < 0 || y >= bitmap->Height))
        return ERROR_INV_PARAMETER;
    const int t = int(std::floor(std::clamp(tolerance, 0.0, 1.0) * 255.0 + 1e-9));
    const bool everywhere = flags != MAGICWAND_CONNECTED;

    TWand wand(bitmap, mask);
    L_INT rc = wand.Allocate();
    if (rc != SUCCESS) return rc;
    if (grow) {
        Key min, max;
        if (!wand.MaskRange(&min, &max)) return SUCCESS; // nothing to grow
        const Box box = Box::Around(min, max, t);
        wand.SetBox(box);
        wand.KeepMask(true);
        if (everywhere)
            wand.MatchAllRows();
        else if ((rc = wand.GrowConnected()) != SUCCESS)
            return rc;
        wand.WriteMask(mask, everywhere, false);
    } else {
        const Key seed = KeyOf(bitmap, L_RowPtr(bitmap, y), x);
        wand.SetBox(Box::Around(seed, seed, t));
        if (everywhere)
            wand.MatchAllRows();
        else if ((rc = wand.FloodFrom(x, y)) != SUCCESS)
            return rc;
        wand.WriteMask(mask, everywhere, true);
    }
    if (result) *result = MaskBounds(mask);
    return SUCCESS;
}
