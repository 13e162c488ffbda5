// Effects that change the look rather than correct it: added noise, mosaic tiles and the
// oil-paint smear.
#include <climits>

#include "ProcessingInternal.h"

using namespace lt::proc;

namespace {

// A counter-based generator: the noise of a byte depends only on the seed, its row and
// its place in the row, so the result is the same whatever the bands, threads or region.
inline uint32_t Hash32(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

struct TNoise {
    uint32_t key;  // of the row
    uint32_t span; // 2 * range + 1
    int range;
    unsigned keep; // bit k: channel byte k takes noise

    // The noisy value of byte `i` of the row (i = x * channels + channel), v its old value.
    unsigned At(uint32_t i, unsigned v) const {
        const uint32_t u = Hash32(key + i) >> 16;
        const int n = int(v) + int((u * span) >> 16) - range;
        return unsigned(n < 0 ? 0 : n > 255 ? 255 : n);
    }
};

// Adds the noise to pixels [x0, x1) of a row of C-byte working pixels, in place. At four
// bytes the pixels are words, all three colour bytes computed at once and the alpha byte
// kept, so that the loop vectorises.
template <int C>
inline __attribute__((always_inline)) void NoiseSpan(uint8_t* row, int x0, int x1,
                                                     const TNoise& n) {
    if constexpr (C == 4) {
        for (int x = x0; x < x1; ++x) {
            const uint32_t w = LoadWord(row + 4 * x);
            uint32_t o = w & 0xFF000000u;
            for (unsigned k = 0; k < 3; ++k) {
                const unsigned v = (w >> (8 * k)) & 255u;
                const unsigned t = n.At(uint32_t(4 * x) + k, v);
                o |= ((n.keep >> k) & 1u ? t : v) << (8 * k);
            }
            StoreWord(row + 4 * x, o);
        }
    } else {
        for (int x = x0; x < x1; ++x)
            for (int k = 0; k < C; ++k) {
                uint8_t& v = row[C * x + k];
                if ((n.keep >> k) & 1u) v = uint8_t(n.At(uint32_t(C * x + k), v));
            }
    }
}
QUILLO_ROW_KERNEL void NoiseSpan4(uint8_t* row, int x0, int x1, const TNoise& n) {
    NoiseSpan<4>(row, x0, x1, n);
}
QUILLO_ROW_KERNEL void NoiseSpan3(uint8_t* row, int x0, int x1, const TNoise& n) {
    NoiseSpan<3>(row, x0, x1, n);
}
QUILLO_ROW_KERNEL void NoiseSpan1(uint8_t* row, int x0, int x1, const TNoise& n) {
    NoiseSpan<1>(row, x0, x1, n);
}

} // namespace

L_INT L_AddBitmapNoise(pBITMAPHANDLE b, L_INT nRange, L_INT nChannel, L_UINT uSeed) {
    if (L_INT rc = CheckBitmap(b); rc != SUCCESS) return rc;
    if (nRange < 0 || nRange > 1000 || nChannel < NOISE_ALL_CHANNELS || nChannel > NOISE_BLUE)
        return ERROR_INV_PARAMETER;
    const int range = int((nRange * 255 + 500) / 1000);
    if (range == 0) return SUCCESS;
    const TFormat fmt(b);
    const int c = fmt.Channels();
    unsigned keep = 7; // blue, green, red; never alpha
    if (c == 1)
        keep = 1; // a gray picture takes the noise in its level whatever the channel
    else if (nChannel != NOISE_ALL_CHANNELS)
        keep = 1u << (NOISE_BLUE - nChannel); // bytes are blue, green, red
    const uint32_t seedKey = Hash32(uSeed ^ 0x9E3779B9u);
    int first, last;
    WrittenRows(b, &first, &last);
    return RunBands(first, last, 16, [&](int, int y0, int y1, TBandRun& run) -> L_INT {
        return Guarded([&]() -> L_INT {
            // Stored pixels that are working bytes take the noise where they lie; the others
            // go through a working row.
            const bool direct = fmt.Kind() != TKind::Palette;
            std::vector<uint8_t> work;
            std::unique_ptr<TWriter> writer;
            if (!direct) {
                work.resize(size_t(b->Width) * size_t(c));
                writer = std::make_unique<TWriter>(fmt, b);
            }
            for (int y = y0; y < y1; ++y) {
                const TNoise n{Hash32(seedKey + uint32_t(y) * 0x632BE5ABu), uint32_t(2 * range + 1),
                               range, keep};
                if (direct) {
                    uint8_t* row = L_RowPtr(b, y);
                    ForRowSpans(b, y, [&](int x0, int x1) {
                        switch (c) {
                            case 4: NoiseSpan4(row, x0, x1, n); break;
                            case 3: NoiseSpan3(row, x0, x1, n); break;
                            default: NoiseSpan1(row, x0, x1, n); break;
                        }
                    });
                } else if (RowHasSpans(b, y)) {
                    fmt.Load(y, work.data());
                    NoiseSpan3(work.data(), 0, b->Width, n);
                    writer->Store(y, work.data());
                }
                if (!run.Rows(1)) break;
            }
            return SUCCESS;
        });
    });
}

// ---------------------------------------------------------------------------

L_INT L_MosaicBitmap(pBITMAPHANDLE b, L_INT nDim) {
    if (L_INT rc = CheckBitmap(b); rc != SUCCESS) return rc;
    if (nDim < 1 || nDim > 4096) return ERROR_INV_PARAMETER;
    if (nDim == 1) return SUCCESS;
    const TFormat fmt(b);
    const int c = fmt.Channels(), w = b->Width, h = b->Height, n = nDim;
    const int tilesX = (w + n - 1) / n;
    int first, last;
    WrittenRows(b, &first, &last);
    if (first >= last) return SUCCESS;
    // Bands of whole tile rows: a tile takes the mean of all its pixels, also those
    // outside the region, and writes only those inside.
    return RunBands(first / n, (last - 1) / n + 1, 1, [&](int, int t0, int t1, TBandRun& run) {
        return Guarded([&]() -> L_INT {
            const size_t len = size_t(w) * size_t(c);
            std::vector<uint8_t> work(len);
            std::vector<uint64_t> sum(size_t(tilesX) * size_t(c));
            TWriter writer(fmt, b);
            for (int t = t0; t < t1; ++t) {
                const int ya = t * n, yb = std::min(h, ya + n);
                std::fill(sum.begin(), sum.end(), 0);
                for (int y = ya; y < yb; ++y) {
                    fmt.Load(y, work.data());
                    for (int x = 0; x < w; ++x)
                        for (int ch = 0; ch < c; ++ch)
                            sum[size_t(x / n) * size_t(c) + size_t(ch)] +=
                                work[size_t(x) * size_t(c) + size_t(ch)];
                }
                for (int tx = 0; tx < tilesX; ++tx) {
                    const uint64_t count =
                        uint64_t(std::min(w, tx * n + n) - tx * n) * uint64_t(yb - ya);
                    for (int ch = 0; ch < c; ++ch) {
                        const uint64_t s = sum[size_t(tx) * size_t(c) + size_t(ch)];
                        const uint8_t v = uint8_t((s + count / 2) / count);
                        for (int x = tx * n; x < std::min(w, tx * n + n); ++x)
                            work[size_t(x) * size_t(c) + size_t(ch)] = v;
                    }
                }
                for (int y = ya; y < yb; ++y)
                    if (RowHasSpans(b, y)) writer.Store(y, work.data());
                if (!run.Rows(1)) break;
            }
            return SUCCESS;
        });
    });
}

// ---------------------------------------------------------------------------
// Oil paint. Each pixel looks at the brightness of the pixels in its window, sorted into
// 32 bands, and takes the mean colour of the fullest band (the darkest of equals). Column
// histograms slide down the image and the window's histogram along the row, so the cost
// per pixel does not depend on the window's size.

namespace {

constexpr int kBands = 32;

struct TOilState {
    std::vector<uint32_t> col; // per column: kBands x (count, channel sums)
    std::vector<uint32_t> win;
    int lastY = INT_MIN;
};

class TOil {
public:
    TOil(const TFormat& fmt, int width, int n)
        : c_(fmt.Channels()),
          cm_(std::min(c_, 3)),
          stride_(1 + cm_),
          w_(width),
          lo_(-(n - 1) / 2),
          hi_(n / 2) {}
    int Lo() const { return lo_; }
    int Hi() const { return hi_; }

    TOilState MakeState() const {
        TOilState s;
        s.col.assign(size_t(w_) * kBands * size_t(stride_), 0);
        s.win.assign(size_t(kBands) * size_t(stride_), 0);
        return s;
    }

    void Row(TOilState& st, const TRowWindow& win, int y, uint8_t* out) const {
        if (st.lastY == y - 1) {
            Update(st, win.Row(y + lo_ - 1), -1);
            Update(st, win.Row(y + hi_), +1);
        } else {
            std::fill(st.col.begin(), st.col.end(), 0u);
            for (int k = lo_; k <= hi_; ++k) Update(st, win.Row(y + k), +1);
        }
        st.lastY = y;
        uint32_t* h = st.win.data();
        const size_t cells = size_t(kBands) * size_t(stride_);
        std::fill(st.win.begin(), st.win.end(), 0u);
        for (int k = lo_; k <= hi_; ++k) {
            const uint32_t* cc = Column(st, k);
            for (size_t i = 0; i < cells; ++i) h[i] += cc[i];
        }
        for (int x = 0; x < w_; ++x) {
            if (x > 0) {
                const uint32_t *add = Column(st, x + hi_), *sub = Column(st, x + lo_ - 1);
                for (size_t i = 0; i < cells; ++i) h[i] += add[i] - sub[i];
            }
            int best = 0;
            for (int band = 1; band < kBands; ++band)
                if (h[band * stride_] > h[best * stride_]) best = band;
            const uint32_t* cell = h + best * stride_;
            const uint32_t count = cell[0];
            for (int ch = 0; ch < cm_; ++ch)
                out[x * c_ + ch] = uint8_t((cell[1 + ch] + count / 2) / count);
        }
    }

private:
    const uint32_t* Column(const TOilState& st, int x) const {
        return st.col.data() + size_t(std::clamp(x, 0, w_ - 1)) * kBands * size_t(stride_);
    }
    void Update(TOilState& st, const uint8_t* row, int delta) const {
        for (int x = 0; x < w_; ++x) {
            const uint8_t* p = row + x * c_;
            const unsigned level = cm_ == 1 ? p[0] : Luma(p[2], p[1], p[0]);
            uint32_t* cell =
                st.col.data() + (size_t(x) * kBands + level / (256 / kBands)) * size_t(stride_);
            cell[0] += uint32_t(delta);
            for (int ch = 0; ch < cm_; ++ch) cell[1 + ch] += uint32_t(delta * int(p[ch]));
        }
    }

    int c_, cm_, stride_, w_, lo_, hi_;
};

} // namespace

L_INT L_OilifyBitmap(pBITMAPHANDLE b, L_INT nDim) {
    if (L_INT rc = CheckBitmap(b); rc != SUCCESS) return rc;
    if (nDim < 1 || nDim > 255) return ERROR_INV_PARAMETER;
    const TFormat fmt(b);
    const TOil oil(fmt, b->Width, nDim);
    // Even a window of one pixel runs: the toolkit reports progress (and may be cancelled)
    // for every call of this long operation.
    return RunWindowFilter<TOilState>(
        b, fmt, oil.Lo() - 1, oil.Hi(), 0, [&] { return oil.MakeState(); },
        [&](TOilState& st, const TRowWindow& win, int y, uint8_t* out) {
            oil.Row(st, win, y, out);
        });
}
