// Effects that change the look rather than correct it: added noise, mosaic tiles and the
// oil-paint smear.
#include <climits>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

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
    // Palette and 16-bit pixels go through the format, which reads the bitmap itself.
    if (fmt.Kind() == TKind::Palette)
        if (L_INT rc = L_UnshareBitmap(b); rc != SUCCESS) return rc;
    lt::TOwnRows own(b);
    if (!own.Ok()) return ERROR_NO_MEMORY;
    int first, last;
    WrittenRows(b, &first, &last);
    const L_INT status = RunBands(
        own.From(first), own.To(last), 16, [&](int, int y0, int y1, TBandRun& run) -> L_INT {
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
                    own.Copy(y); // the noise goes onto the row where it lies
                    if (y < first || y >= last) {
                        if (!run.Rows(1)) break;
                        continue;
                    }
                    const TNoise n{Hash32(seedKey + uint32_t(y) * 0x632BE5ABu),
                                   uint32_t(2 * range + 1), range, keep};
                    if (direct) {
                        uint8_t* row = own.Target(y);
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
    if (status == SUCCESS) own.Commit();
    return status;
}

// ---------------------------------------------------------------------------

L_INT L_MosaicBitmap(pBITMAPHANDLE b, L_INT nDim) {
    if (L_INT rc = CheckBitmap(b); rc != SUCCESS) return rc;
    if (nDim < 1 || nDim > 4096) return ERROR_INV_PARAMETER;
    if (nDim == 1) return SUCCESS;
    // Tiles are written in place.
    if (L_INT rc = L_UnshareBitmap(b); rc != SUCCESS) return rc;
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
// histograms slide down the image and the window's band counts along the row, so the cost
// per pixel barely depends on the window's size; the channel sums are added up only for
// the one band that wins.
//
// A window holds at most 255 x 255 pixels and a column at most 255 of them, so every count
// and every column sum fits in 16 bits. The window's counts are kept offset by 0x8000, as
// signed numbers that compare in the same order, so the fullest band is found with signed
// vector maxima.

namespace {

constexpr int kBands = 32;

constexpr int kSmallRows = 3; // the largest window side counted directly

struct TOilState {
    std::vector<uint16_t> cnt; // per column: kBands counts
    std::vector<uint16_t> sum; // per column: kBands x channels sums
    int lastY = INT_MIN;
    // Small windows: the last rows seen, split into planes of bands and of each colour,
    // one padding column on either side; slot r % kSmallRows holds row r.
    std::vector<uint8_t> planes;
    int planeRow[kSmallRows] = {-1, -1, -1};
    std::vector<uint8_t> result; // kColours planes of one output row
};

#ifdef __SSE2__
// The 2 x 2 and 3 x 3 windows (the slider starts at 3) are counted directly, sixteen pixels
// at a time: each pixel compares the bands of its few neighbours among themselves, instead
// of keeping 32 band counts per column and window.
//
// band[k] and colour[k * kColours + ch] point at window row k's planes, at the padding
// column before pixel 0, with at least 16 readable bytes after the last pixel's padding;
// out[ch] receives pixels [0, w) of colour plane ch and may be written up to 15 bytes past.
template <int kSide, int kColours>
void OilSmallRow(const uint8_t* const* band, const uint8_t* const* colour, int w,
                 uint8_t* const* out) {
    constexpr int kN = kSide * kSide, kLo = -(kSide - 1) / 2;
    const uint8_t* vb[kN];
    const uint8_t* vc[kN][kColours];
    for (int p = 0; p < kN; ++p) {
        const int dx = 1 + kLo + p % kSide;
        vb[p] = band[p / kSide] + dx;
        for (int ch = 0; ch < kColours; ++ch) vc[p][ch] = colour[p / kSide * kColours + ch] + dx;
    }
    const __m128i zero = _mm_setzero_si128(), ones = _mm_set1_epi8(-1);
    const __m128 half = _mm_set1_ps(0.5f), one = _mm_set1_ps(1.0f);
    const auto load = [](const uint8_t* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    };
    for (int x = 0; x < w; x += 16) {
        __m128i v[kN], neg[kN]; // the bands, and minus how many of the window share each
        for (int p = 0; p < kN; ++p) v[p] = load(vb[p] + x), neg[p] = ones;
        for (int p = 0; p < kN; ++p)
            for (int q = p + 1; q < kN; ++q) {
                const __m128i same = _mm_cmpeq_epi8(v[p], v[q]);
                neg[p] = _mm_add_epi8(neg[p], same);
                neg[q] = _mm_add_epi8(neg[q], same);
            }
        // As unsigned bytes the fullest count is the smallest; of the bands that reach it,
        // the darkest wins.
        __m128i most = neg[0];
        for (int p = 1; p < kN; ++p) most = _mm_min_epu8(most, neg[p]);
        __m128i best = ones;
        for (int p = 0; p < kN; ++p)
            best = _mm_min_epu8(
                best, _mm_or_si128(v[p], _mm_andnot_si128(_mm_cmpeq_epi8(neg[p], most), ones)));
        __m128i in[kN];
        for (int p = 0; p < kN; ++p) in[p] = _mm_cmpeq_epi8(v[p], best);
        // count / 2 and 1 / count for the rounded mean, four pixels per float vector. With
        // sums below 2^12, (sum + count / 2 + 0.5) / count stays far enough from a whole
        // number that truncating its float product gives the exact integer quotient.
        const __m128i count = _mm_sub_epi8(zero, most);
        const __m128i count16[2] = {_mm_unpacklo_epi8(count, zero), _mm_unpackhi_epi8(count, zero)};
        __m128 rcp[4];
        for (int g = 0; g < 4; ++g)
            rcp[g] = _mm_div_ps(
                one, _mm_cvtepi32_ps(g % 2 == 0 ? _mm_unpacklo_epi16(count16[g / 2], zero)
                                                : _mm_unpackhi_epi16(count16[g / 2], zero)));
        for (int ch = 0; ch < kColours; ++ch) {
            __m128i sum[2] = {_mm_srli_epi16(count16[0], 1), _mm_srli_epi16(count16[1], 1)};
            for (int p = 0; p < kN; ++p) {
                const __m128i t = _mm_and_si128(in[p], load(vc[p][ch] + x));
                sum[0] = _mm_add_epi16(sum[0], _mm_unpacklo_epi8(t, zero));
                sum[1] = _mm_add_epi16(sum[1], _mm_unpackhi_epi8(t, zero));
            }
            __m128i q[4];
            for (int g = 0; g < 4; ++g) {
                const __m128i s32 = g % 2 == 0 ? _mm_unpacklo_epi16(sum[g / 2], zero)
                                               : _mm_unpackhi_epi16(sum[g / 2], zero);
                q[g] = _mm_cvttps_epi32(_mm_mul_ps(_mm_add_ps(_mm_cvtepi32_ps(s32), half), rcp[g]));
            }
            _mm_storeu_si128(
                reinterpret_cast<__m128i*>(out[ch] + x),
                _mm_packus_epi16(_mm_packs_epi32(q[0], q[1]), _mm_packs_epi32(q[2], q[3])));
        }
    }
}
constexpr bool kCountsSmallWindows = true;
#else
template <int kSide, int kColours>
void OilSmallRow(const uint8_t* const*, const uint8_t* const*, int, uint8_t* const*) {}
constexpr bool kCountsSmallWindows = false;
#endif

// The first band holding the most pixels of the window.
inline int FullestBand(const int16_t* h) {
#ifdef __SSE2__
    const __m128i a = _mm_load_si128(reinterpret_cast<const __m128i*>(h));
    const __m128i b = _mm_load_si128(reinterpret_cast<const __m128i*>(h + 8));
    const __m128i c = _mm_load_si128(reinterpret_cast<const __m128i*>(h + 16));
    const __m128i d = _mm_load_si128(reinterpret_cast<const __m128i*>(h + 24));
    __m128i m = _mm_max_epi16(_mm_max_epi16(a, b), _mm_max_epi16(c, d));
    m = _mm_max_epi16(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(1, 0, 3, 2)));
    m = _mm_max_epi16(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(2, 3, 0, 1)));
    m = _mm_max_epi16(m, _mm_shufflelo_epi16(_mm_shufflehi_epi16(m, _MM_SHUFFLE(2, 3, 0, 1)),
                                             _MM_SHUFFLE(2, 3, 0, 1)));
    const __m128i lo = _mm_packs_epi16(_mm_cmpeq_epi16(a, m), _mm_cmpeq_epi16(b, m));
    const __m128i hi = _mm_packs_epi16(_mm_cmpeq_epi16(c, m), _mm_cmpeq_epi16(d, m));
    const uint32_t mask = uint32_t(_mm_movemask_epi8(lo)) | uint32_t(_mm_movemask_epi8(hi)) << 16;
    return __builtin_ctz(mask);
#else
    int best = 0;
    for (int band = 1; band < kBands; ++band)
        if (h[band] > h[best]) best = band;
    return best;
#endif
}

// kColours is 1 for gray and palette pictures, 3 for colour ones (alpha is left alone).
template <int kColours>
class TOil {
public:
    TOil(const TFormat& fmt, int width, int height, int n)
        : c_(fmt.Channels()),
          w_(width),
          h_(height),
          n_(n),
          lo_(-(n - 1) / 2),
          hi_(n / 2),
          reciprocal_(size_t(n) * size_t(n) + 1) {
        // A division per channel and pixel would cost more than the rest of the work. With
        // m = 2^40 / d + 1, (x * m) >> 40 is x / d exactly for every x below 2^24 and d up
        // to 255 x 255, the largest sum and count a window can hold.
        for (size_t d = 1; d < reciprocal_.size(); ++d)
            reciprocal_[d] = (uint64_t(1) << 40) / d + 1;
    }
    int Lo() const { return lo_; }
    int Hi() const { return hi_; }

    TOilState MakeState() const {
        TOilState s;
        if (Small()) {
            s.planes.assign(PlaneBytes() * (1 + kColours) * kSmallRows, 0);
            s.result.assign(PlaneBytes() * kColours, 0);
        } else {
            s.cnt.assign(size_t(w_) * kBands, 0);
            s.sum.assign(size_t(w_) * kBands * size_t(kColours), 0);
        }
        return s;
    }

    void Row(TOilState& st, const TRowWindow& win, int y, uint8_t* out) const {
        if (Small())
            SmallRow(st, win, y, out);
        else
            HistogramRow(st, win, y, out);
    }

private:
    bool Small() const { return kCountsSmallWindows && n_ >= 2 && n_ <= kSmallRows; }
    // One padding pixel either side and room for the last block of sixteen.
    size_t PlaneBytes() const { return size_t(w_) + 2 + 16; }

    void SmallRow(TOilState& st, const TRowWindow& win, int y, uint8_t* out) const {
        const uint8_t* band[kSmallRows];
        const uint8_t* colour[kSmallRows * kColours];
        for (int k = 0; k <= hi_ - lo_; ++k) {
            const int r = std::clamp(y + lo_ + k, 0, h_ - 1);
            uint8_t* slot =
                st.planes.data() + size_t(r % kSmallRows) * PlaneBytes() * (1 + kColours);
            if (st.planeRow[r % kSmallRows] != r) {
                SplitRow(win.Row(r), slot);
                st.planeRow[r % kSmallRows] = r;
            }
            band[k] = slot;
            for (int ch = 0; ch < kColours; ++ch)
                colour[k * kColours + ch] = slot + size_t(1 + ch) * PlaneBytes();
        }
        uint8_t* planes[kColours];
        for (int ch = 0; ch < kColours; ++ch)
            planes[ch] = st.result.data() + size_t(ch) * PlaneBytes();
        if (n_ == 2)
            OilSmallRow<2, kColours>(band, colour, w_, planes);
        else
            OilSmallRow<3, kColours>(band, colour, w_, planes);
        // Byte stores may alias the members: loop on copies.
        const int w = w_, c = c_;
        for (int x = 0; x < w; ++x)
            for (int ch = 0; ch < kColours; ++ch) out[x * c + ch] = planes[ch][x];
    }

    // A padded row of working pixels (one replicated pixel before and after) as planes.
    void SplitRow(const uint8_t* row, uint8_t* slot) const {
        const int c = c_;
        const size_t n = size_t(w_) + 2, stride = PlaneBytes();
        const uint8_t* p = row - c;
        for (size_t i = 0; i < n; ++i, p += c) {
            slot[i] = uint8_t((kColours == 1 ? p[0] : Luma(p[2], p[1], p[0])) / (256 / kBands));
            for (int ch = 0; ch < kColours; ++ch) slot[size_t(1 + ch) * stride + i] = p[ch];
        }
    }

    void HistogramRow(TOilState& st, const TRowWindow& win, int y, uint8_t* out) const {
        // Moving down a row updates each column just before the window first reaches it,
        // while its histogram is still in the cache for the sums that follow.
        const bool slide = st.lastY == y - 1;
        const uint8_t *in = nullptr, *gone = nullptr;
        int updated = 0; // columns [0, updated) are at this row
        if (slide) {
            in = win.Row(y + hi_);
            gone = win.Row(y + lo_ - 1);
        } else {
            std::fill(st.cnt.begin(), st.cnt.end(), uint16_t(0));
            std::fill(st.sum.begin(), st.sum.end(), uint16_t(0));
            for (int k = lo_; k <= hi_; ++k) Add(st, win.Row(y + k), 1, 0, w_);
            updated = w_;
        }
        st.lastY = y;
        auto reach = [&](int column) {
            const int upTo = std::min(w_, column + 1);
            if (upTo <= updated) return;
            Add(st, in, 1, updated, upTo);
            Add(st, gone, uint16_t(0xFFFF), updated, upTo);
            updated = upTo;
        };
        reach(hi_);
        alignas(16) uint16_t h[kBands];
        std::fill(h, h + kBands, uint16_t(0x8000));
        for (int k = lo_; k <= hi_; ++k) {
            const uint16_t* cc = Counts(st, k);
            for (int i = 0; i < kBands; ++i) h[i] = uint16_t(h[i] + cc[i]);
        }
        for (int x = 0; x < w_; ++x) {
            if (x > 0) {
                reach(x + hi_);
                const uint16_t *add = Counts(st, x + hi_), *sub = Counts(st, x + lo_ - 1);
                for (int i = 0; i < kBands; ++i) h[i] = uint16_t(h[i] + add[i] - sub[i]);
            }
            // Signed and unsigned forms of one type may alias.
            const int best = FullestBand(reinterpret_cast<const int16_t*>(h));
            uint32_t count = 0, s[3] = {0, 0, 0};
            const int k0 = std::max(0, x + lo_), k1 = std::min(w_ - 1, x + hi_);
            for (int k = k0; k <= k1; ++k) {
                const size_t col = size_t(k) * kBands + size_t(best);
                count += st.cnt[col];
                const uint16_t* cs = st.sum.data() + col * size_t(kColours);
                for (int ch = 0; ch < kColours; ++ch) s[ch] += cs[ch];
            }
            // Near the edges the first and last columns stand in for those beyond them.
            for (int edge = 0; edge < 2; ++edge) {
                const int times = edge == 0 ? k0 - (x + lo_) : x + hi_ - k1;
                if (times == 0) continue;
                const size_t col = size_t(edge == 0 ? k0 : k1) * kBands + size_t(best);
                count += uint32_t(times) * st.cnt[col];
                const uint16_t* cs = st.sum.data() + col * size_t(kColours);
                for (int ch = 0; ch < kColours; ++ch) s[ch] += uint32_t(times) * cs[ch];
            }
            const uint64_t m = reciprocal_[count];
            for (int ch = 0; ch < kColours; ++ch)
                out[x * c_ + ch] = uint8_t((uint64_t(s[ch] + count / 2) * m) >> 40);
        }
    }

    const uint16_t* Counts(const TOilState& st, int x) const {
        return st.cnt.data() + size_t(std::clamp(x, 0, w_ - 1)) * kBands;
    }
    // Adds the pixels [x0, x1) of a row to the column histograms (delta 1) or takes them
    // out (delta 0xFFFF: the sums wrap back to what they were before the row was added).
    void Add(TOilState& st, const uint8_t* row, uint16_t delta, int x0, int x1) const {
        for (int x = x0; x < x1; ++x) {
            const uint8_t* p = row + x * c_;
            const unsigned level = kColours == 1 ? p[0] : Luma(p[2], p[1], p[0]);
            const size_t col = size_t(x) * kBands + level / (256 / kBands);
            st.cnt[col] = uint16_t(st.cnt[col] + delta);
            uint16_t* cs = st.sum.data() + col * size_t(kColours);
            for (int ch = 0; ch < kColours; ++ch) cs[ch] = uint16_t(cs[ch] + delta * p[ch]);
        }
    }

    int c_, w_, h_, n_, lo_, hi_;
    std::vector<uint64_t> reciprocal_;
};

} // namespace

namespace {

template <int kColours>
L_INT Oilify(pBITMAPHANDLE b, const TFormat& fmt, int n) {
    const TOil<kColours> oil(fmt, b->Width, b->Height, n);
    // Even a window of one pixel runs: the toolkit reports progress (and may be cancelled)
    // for every call of this long operation.
    return RunWindowFilter<TOilState>(
        b, fmt, oil.Lo() - 1, oil.Hi(), 1, [&] { return oil.MakeState(); },
        [&](TOilState& st, const TRowWindow& win, int y, uint8_t* out) {
            oil.Row(st, win, y, out);
        });
}

} // namespace

L_INT L_OilifyBitmap(pBITMAPHANDLE b, L_INT nDim) {
    if (L_INT rc = CheckBitmap(b); rc != SUCCESS) return rc;
    if (nDim < 1 || nDim > 255) return ERROR_INV_PARAMETER;
    const TFormat fmt(b);
    return fmt.Channels() == 1 ? Oilify<1>(b, fmt, nDim) : Oilify<3>(b, fmt, nDim);
}
