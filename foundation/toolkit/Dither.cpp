// Mapping colour rows to palette indices: nearest colour, error diffusion, ordered dither.
#include <algorithm>
#include <cstdlib>

#include "ColorInternal.h"

namespace lt::color {

namespace {

constexpr int kPad = 3;      // widest kernel reach to either side
constexpr int kRingRows = 4; // tallest kernel: the current row and three below

struct Tap {
    int dx, dy, w;
};

// Error-diffusion kernels: where a pixel's error goes (dx along the scan direction, dy rows
// down) and with what weight out of kDiv.
struct FloydSteinberg {
    static constexpr int kDiv = 16;
    static constexpr Tap kTaps[] = {{1, 0, 7}, {-1, 1, 3}, {0, 1, 5}, {1, 1, 1}};
};
struct Stucki {
    static constexpr int kDiv = 42;
    static constexpr Tap kTaps[] = {{1, 0, 8},  {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4},
                                    {0, 1, 8},  {1, 1, 4}, {2, 1, 2},  {-2, 2, 1},
                                    {-1, 2, 2}, {0, 2, 4}, {1, 2, 2},  {2, 2, 1}};
};
struct Burkes {
    static constexpr int kDiv = 32;
    static constexpr Tap kTaps[] = {{1, 0, 8}, {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4},
                                    {0, 1, 8}, {1, 1, 4}, {2, 1, 2}};
};
struct Sierra {
    static constexpr int kDiv = 32;
    static constexpr Tap kTaps[] = {{1, 0, 5}, {2, 0, 3}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 5},
                                    {1, 1, 4}, {2, 1, 2}, {-1, 2, 2}, {0, 2, 3},  {1, 2, 2}};
};
struct Jarvis {
    static constexpr int kDiv = 48;
    static constexpr Tap kTaps[] = {{1, 0, 7},  {2, 0, 5}, {-2, 1, 3}, {-1, 1, 5},
                                    {0, 1, 7},  {1, 1, 5}, {2, 1, 3},  {-2, 2, 1},
                                    {-1, 2, 3}, {0, 2, 5}, {1, 2, 3},  {2, 2, 1}};
};
// Made for a hexagonal grid; on a square one it still gives a fine, even texture.
struct StevensonArce {
    static constexpr int kDiv = 200;
    static constexpr Tap kTaps[] = {{2, 0, 32}, {-3, 1, 12}, {-1, 1, 26}, {1, 1, 30},
                                    {3, 1, 16}, {-2, 2, 12}, {0, 2, 26},  {2, 2, 12},
                                    {-3, 3, 5}, {-1, 3, 12}, {1, 3, 12},  {3, 3, 5}};
};

template <class K>
constexpr int KernelSum() {
    int s = 0;
    for (const Tap& t : K::kTaps) s += t.w;
    return s;
}
static_assert(KernelSum<FloydSteinberg>() == FloydSteinberg::kDiv &&
              KernelSum<Stucki>() == Stucki::kDiv && KernelSum<Burkes>() == Burkes::kDiv &&
              KernelSum<Sierra>() == Sierra::kDiv && KernelSum<Jarvis>() == Jarvis::kDiv &&
              KernelSum<StevensonArce>() == StevensonArce::kDiv);

// The accumulated error of a pixel in channel units, rounded to nearest. A pixel never
// receives more than 255 * kDiv in magnitude (each tap reaches it at most once), so a bias
// of 256 * kDiv keeps the division on non-negative numbers.
template <int Div>
inline int Spread(int32_t acc) {
    return int((uint32_t(acc + 256 * Div + Div / 2)) / uint32_t(Div)) - 256;
}

inline int Clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

inline uint32_t Key(const BGRA& c) { return c.r | (uint32_t(c.g) << 8) | (uint32_t(c.b) << 16); }

constexpr uint8_t kBayer8[64] = {
    0,  32, 8,  40, 2,  34, 10, 42, 48, 16, 56, 24, 50, 18, 58, 26, 12, 44, 4,  36, 14, 46,
    6,  38, 60, 28, 52, 20, 62, 30, 54, 22, 3,  35, 11, 43, 1,  33, 9,  41, 51, 19, 59, 27,
    49, 17, 57, 25, 15, 47, 7,  39, 13, 45, 5,  37, 63, 31, 55, 23, 61, 29, 53, 21,
};

// How far apart the palette's colours are: the mean distance (largest channel difference)
// from each distinct entry to its closest other one. Ordered dithering spreads each pixel
// over that much so that neighbouring entries mix in proportion.
int PaletteStep(const RGBQUAD* pal, int count) {
    long total = 0;
    int n = 0;
    for (int i = 0; i < count; ++i) {
        int best = 1 << 30;
        for (int j = 0; j < count; ++j) {
            int d = std::max({std::abs(pal[i].rgbRed - pal[j].rgbRed),
                              std::abs(pal[i].rgbGreen - pal[j].rgbGreen),
                              std::abs(pal[i].rgbBlue - pal[j].rgbBlue)});
            if (d > 0) best = std::min(best, d);
        }
        if (best == 1 << 30) continue;
        total += best;
        ++n;
    }
    return n ? int((total + n / 2) / n) : 0;
}

} // namespace

Quantizer::Quantizer(const RGBQUAD* pal, int count, int width, unsigned ditherMode)
    : map_(pal, count), width_(width), mode_(ditherMode & CRF_DITHERMASK) {
    if (mode_ >= CRF_FLOYDSTEINDITHERING && mode_ <= CRF_JARVISDITHERING)
        err_.assign(size_t(width + 2 * kPad) * 3 * kRingRows, 0);
    if (mode_ == CRF_ORDEREDDITHERING) {
        const int step = PaletteStep(pal, map_.Count());
        // Thresholds centred on zero: (m + 0.5) / 64 - 0.5 of a step for matrix value m.
        for (int i = 0; i < 64; ++i) {
            const int num = (2 * kBayer8[i] + 1 - 64) * step;
            orderedOffset_[i] = num >= 0 ? (num + 64) / 128 : -((-num + 64) / 128);
        }
    }
}

void Quantizer::Row(const BGRA* in, uint8_t* out, int y) {
    switch (mode_) {
        case CRF_FLOYDSTEINDITHERING: DiffuseRow<FloydSteinberg>(in, out, y); break;
        case CRF_STUCKIDITHERING: DiffuseRow<Stucki>(in, out, y); break;
        case CRF_BURKESDITHERING: DiffuseRow<Burkes>(in, out, y); break;
        case CRF_SIERRADITHERING: DiffuseRow<Sierra>(in, out, y); break;
        case CRF_STEVENSONARCEDITHERING: DiffuseRow<StevensonArce>(in, out, y); break;
        case CRF_JARVISDITHERING: DiffuseRow<Jarvis>(in, out, y); break;
        case CRF_ORDEREDDITHERING: OrderedRow(in, out, y); break;
        default: PlainRow(in, out); break; // no dithering, and unknown methods
    }
}

template <class K>
void Quantizer::DiffuseRow(const BGRA* in, uint8_t* out, int y) {
    const int w = width_;
    const size_t stride = size_t(w + 2 * kPad) * 3;
    int32_t* rows[kRingRows];
    for (int i = 0; i < kRingRows; ++i)
        rows[i] = err_.data() + size_t((y + i) % kRingRows) * stride + kPad * 3;
    // Serpentine order: every other row runs right to left, with the kernel mirrored, so
    // the error does not drift to one side.
    const bool reverse = (y & 1) != 0;
    const int step = reverse ? -1 : 1;
    const RGBQUAD* pal = map_.Palette();
    int x = reverse ? w - 1 : 0;
    uint32_t lastKey = 0xFFFFFFFFu;
    int lastExact = -1;
    for (int n = 0; n < w; ++n, x += step) {
        const BGRA p = in[x];
        const uint32_t key = Key(p);
        if (key != lastKey) {
            lastKey = key;
            lastExact = map_.Exact(key);
        }
        if (lastExact >= 0) {
            out[x] = uint8_t(lastExact);
            continue;
        }
        const int32_t* e = rows[0] + x * 3;
        const int r = Clamp255(p.r + Spread<K::kDiv>(e[0]));
        const int g = Clamp255(p.g + Spread<K::kDiv>(e[1]));
        const int b = Clamp255(p.b + Spread<K::kDiv>(e[2]));
        const int idx = map_.Nearest(r, g, b);
        out[x] = uint8_t(idx);
        const int er = r - pal[idx].rgbRed, eg = g - pal[idx].rgbGreen, eb = b - pal[idx].rgbBlue;
        if ((er | eg | eb) == 0) continue;
        for (const Tap& t : K::kTaps) {
            int32_t* d = rows[t.dy] + (x + t.dx * step) * 3;
            d[0] += er * t.w;
            d[1] += eg * t.w;
            d[2] += eb * t.w;
        }
    }
    // This row's slot becomes the row kRingRows below.
    std::fill_n(rows[0] - kPad * 3, stride, 0);
}

void Quantizer::OrderedRow(const BGRA* in, uint8_t* out, int y) {
    const int* offsets = orderedOffset_ + (y & 7) * 8;
    for (int x = 0; x < width_; ++x) {
        const BGRA p = in[x];
        const int exact = map_.Exact(Key(p));
        if (exact >= 0) {
            out[x] = uint8_t(exact);
            continue;
        }
        const int o = offsets[x & 7];
        out[x] = uint8_t(map_.Nearest(Clamp255(p.r + o), Clamp255(p.g + o), Clamp255(p.b + o)));
    }
}

void Quantizer::PlainRow(const BGRA* in, uint8_t* out) {
    uint32_t lastKey = 0xFFFFFFFFu;
    uint8_t last = 0;
    for (int x = 0; x < width_; ++x) {
        const BGRA p = in[x];
        const uint32_t key = Key(p);
        if (key != lastKey) {
            lastKey = key;
            last = uint8_t(map_.Nearest(p.r, p.g, p.b));
        }
        out[x] = last;
    }
}

} // namespace lt::color
