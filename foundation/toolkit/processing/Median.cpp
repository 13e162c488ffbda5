// The median filter, per channel.
//
// 3 x 3 windows go through a sorting network: each column of three is sorted, then the
// median is the median of the largest low, the median middle and the smallest high of
// three neighbouring columns. Every other size keeps a histogram per image column and one
// for the window (coarse 16-level buckets over fine levels, the fine part brought up to
// date only for the bucket the median falls in), so the cost per pixel stays the same
// whatever the window's size.
#include <climits>

#include "ProcessingInternal.h"

using namespace lt::proc;

namespace {

// The rows never overlap; saying so lets the compiler vectorise without checking at run time
// (too many pointer pairs for its checks otherwise, and the loop stays scalar).
QUILLO_ROW_KERNEL void SortColumns(const uint8_t* __restrict a, const uint8_t* __restrict b,
                                   const uint8_t* __restrict c, uint8_t* __restrict lo,
                                   uint8_t* __restrict mid, uint8_t* __restrict hi, size_t len) {
    for (size_t i = 0; i < len; ++i) {
        const uint8_t x = a[i], y = b[i], z = c[i];
        const uint8_t l = std::min(x, y), h = std::max(x, y);
        lo[i] = std::min(l, z);
        hi[i] = std::max(h, z);
        mid[i] = std::min(h, std::max(l, z));
    }
}

inline uint8_t Med3(uint8_t p, uint8_t q, uint8_t r) {
    return std::max(std::min(p, q), std::min(std::max(p, q), r));
}

QUILLO_ROW_KERNEL void MedianOfColumns(const uint8_t* lo, const uint8_t* mid, const uint8_t* hi,
                                       size_t c, uint8_t* out, size_t len) {
    for (size_t i = 0; i < len; ++i) {
        const uint8_t l = std::max(std::max(lo[i - c], lo[i]), lo[i + c]);
        const uint8_t m = Med3(mid[i - c], mid[i], mid[i + c]);
        const uint8_t h = std::min(std::min(hi[i - c], hi[i]), hi[i + c]);
        out[i] = Med3(l, m, h);
    }
}

struct TMedian3State {
    std::vector<uint8_t> lo, mid, hi;
};

L_INT Median3(pBITMAPHANDLE b, const TFormat& fmt) {
    const size_t c = size_t(fmt.Channels()), len = size_t(b->Width) * c, padded = len + 2 * c;
    return RunWindowFilter<TMedian3State>(
        b, fmt, -1, 1, 1,
        [&] {
            return TMedian3State{std::vector<uint8_t>(padded), std::vector<uint8_t>(padded),
                                 std::vector<uint8_t>(padded)};
        },
        [&](TMedian3State& st, const TRowWindow& win, int y, uint8_t* out) {
            SortColumns(win.Row(y - 1) - c, win.Row(y) - c, win.Row(y + 1) - c, st.lo.data(),
                        st.mid.data(), st.hi.data(), padded);
            MedianOfColumns(st.lo.data() + c, st.mid.data() + c, st.hi.data() + c, c, out, len);
        });
}

// ---------------------------------------------------------------------------

struct THistState {
    std::vector<uint16_t> colFine;   // per column and channel: 256 counts
    std::vector<uint16_t> colCoarse; // per column and channel: 16 counts
    int lastY = INT_MIN;
};

class THistMedian {
public:
    THistMedian(const TFormat& fmt, int width, int n)
        : c_(fmt.Channels()),
          cm_(std::min(c_, 3)), // the alpha byte of 32-bit pixels is kept as it is
          w_(width),
          n_(n),
          lo_(-(n - 1) / 2),
          hi_(n / 2),
          rank_((n * n - 1) / 2) {}

    int Lo() const { return lo_; }
    int Hi() const { return hi_; }

    THistState MakeState() const {
        THistState s;
        s.colFine.assign(size_t(w_) * size_t(cm_) * 256, 0);
        s.colCoarse.assign(size_t(w_) * size_t(cm_) * 16, 0);
        return s;
    }

    void Row(THistState& st, const TRowWindow& win, int y, int xa, int xb, uint8_t* out) const {
        if (st.lastY == y - 1) {
            Update(st, win.Row(y + lo_ - 1), -1);
            Update(st, win.Row(y + hi_), +1);
        } else {
            std::fill(st.colFine.begin(), st.colFine.end(), uint16_t(0));
            std::fill(st.colCoarse.begin(), st.colCoarse.end(), uint16_t(0));
            for (int k = lo_; k <= hi_; ++k) Update(st, win.Row(y + k), +1);
        }
        st.lastY = y;
        for (int ch = 0; ch < cm_; ++ch) Channel(st, ch, xa, xb, out);
    }

private:
    int Col(int x) const { return std::clamp(x, 0, w_ - 1); }
    const uint16_t* Coarse(const THistState& st, int x, int ch) const {
        return st.colCoarse.data() + (size_t(Col(x)) * size_t(cm_) + size_t(ch)) * 16;
    }
    const uint16_t* Fine(const THistState& st, int x, int ch, int bucket) const {
        return st.colFine.data() + (size_t(Col(x)) * size_t(cm_) + size_t(ch)) * 256 +
               size_t(bucket) * 16;
    }

    void Update(THistState& st, const uint8_t* row, int delta) const {
        for (int x = 0; x < w_; ++x) {
            for (int ch = 0; ch < cm_; ++ch) {
                const unsigned v = row[x * c_ + ch];
                const size_t base = size_t(x) * size_t(cm_) + size_t(ch);
                st.colFine[base * 256 + v] = uint16_t(st.colFine[base * 256 + v] + delta);
                st.colCoarse[base * 16 + (v >> 4)] =
                    uint16_t(st.colCoarse[base * 16 + (v >> 4)] + delta);
            }
        }
    }

    static void Add16(uint16_t* dst, const uint16_t* a) {
        for (int i = 0; i < 16; ++i) dst[i] = uint16_t(dst[i] + a[i]);
    }
    static void AddSub16(uint16_t* dst, const uint16_t* a, const uint16_t* s) {
        for (int i = 0; i < 16; ++i) dst[i] = uint16_t(dst[i] + a[i] - s[i]);
    }

    void Channel(const THistState& st, int ch, int xa, int xb, uint8_t* out) const {
        uint16_t coarse[16] = {}, fine[256];
        int fresh[16]; // the column each bucket's fine counts were last brought up to
        for (int k = lo_; k <= hi_; ++k) Add16(coarse, Coarse(st, xa + k, ch));
        std::fill(std::begin(fresh), std::end(fresh), INT_MIN / 2);
        for (int x = xa; x < xb; ++x) {
            if (x > xa) AddSub16(coarse, Coarse(st, x + hi_, ch), Coarse(st, x + lo_ - 1, ch));
            int j = 0, below = 0;
            while (below + coarse[j] <= rank_) below += coarse[j++];
            uint16_t* f = fine + j * 16;
            if (x - fresh[j] > n_) {
                std::fill(f, f + 16, uint16_t(0));
                for (int k = lo_; k <= hi_; ++k) Add16(f, Fine(st, x + k, ch, j));
            } else {
                for (int t = fresh[j] + 1; t <= x; ++t)
                    AddSub16(f, Fine(st, t + hi_, ch, j), Fine(st, t + lo_ - 1, ch, j));
            }
            fresh[j] = x;
            int i = 0;
            while (below + f[i] <= rank_) below += f[i++];
            out[x * c_ + ch] = uint8_t(j * 16 + i);
        }
    }

    int c_, cm_, w_, n_, lo_, hi_, rank_;
};

} // namespace

L_INT L_MedianFilterBitmap(pBITMAPHANDLE b, L_INT nDim) {
    if (L_INT rc = CheckBitmap(b); rc != SUCCESS) return rc;
    if (nDim < 1 || nDim > 255) return ERROR_INV_PARAMETER;
    if (nDim == 1) return SUCCESS;
    const TFormat fmt(b);
    if (nDim == 3) return Median3(b, fmt);
    const THistMedian med(fmt, b->Width, nDim);
    return RunWindowFilter<THistState>(
        b, fmt, med.Lo() - 1, med.Hi(), 0, [&] { return med.MakeState(); },
        [&](THistState& st, const TRowWindow& win, int y, uint8_t* out) {
            // Only the columns between the first and last pixel the row writes.
            int xa = b->Width, xb = 0;
            ForRowSpans(b, y,
                        [&](int x0, int x1) { xa = std::min(xa, x0), xb = std::max(xb, x1); });
            med.Row(st, win, y, xa, xb, out);
        });
}
