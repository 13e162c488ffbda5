// Colour separation into 8-bit gray planes (RGB, CMYK, CMY, HSV, HLS) and merging back.
//
// The point of separating is to edit one channel and merge, so the two directions are
// written as exact inverses wherever the colour model allows it:
//  - RGB and CMY are byte copies (inverted for CMY).
//  - CMYK keeps black exact (k = 255 - max) and rounds the other inks so that merging
//    rounds them back to the same byte: c = round((max - r) * 255 / max) and
//    r = max - round(c * max / 255) recover r for every max.
//  - HSV keeps value exact and saturation so that min = value - round(value * s / 255)
//    is exact again. HLS keeps max and min within one level: when max + min is odd
//    (lightness has a bit less than their sum) one of them moves out by one.
//  - Hue has only 256 steps around the circle, while a fully saturated colour can take
//    1530 distinct hues, so the middle channel of strongly coloured pixels cannot come
//    back exactly: it moves by up to half a hue step, 3 * (max - min) / 256 levels
//    rounded: none up to a chroma of 42, one up to 127, three at full chroma. The hue is
//    measured against the max and min the merge will rebuild, so that its rounding is
//    the only loss.
// There is no per-pixel floating point: divisions go through a table of reciprocals.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "ColorInternal.h"

// The row kernels also get an AVX2 copy, chosen at load time where the processor has it
// (through ifunc; define QUILLO_NO_CLONES to build the plain versions only).
#if defined(__x86_64__) && !defined(QUILLO_NO_CLONES)
#define QUILLO_ROW_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define QUILLO_ROW_KERNEL
#endif

namespace {

using lt::BGRA;

// Exact floor(num / den) for num < 2^20 and 0 < den < 2^12 through one 64-bit multiply:
// with m = floor(2^40 / den) + 1 the error of num * m / 2^40 is below 2^-20, less than
// the distance 1 / den from any non-integer quotient to the next integer. Div(x, 0) is 0.
class Reciprocals {
public:
    static constexpr unsigned kMaxDen = 4095;
    Reciprocals() {
        m_[0] = 0;
        for (unsigned d = 1; d <= kMaxDen; ++d) m_[d] = ((uint64_t(1) << 40) / d) + 1;
    }
    unsigned Div(unsigned num, unsigned den) const {
        return unsigned((uint64_t(num) * m_[den]) >> 40);
    }

private:
    uint64_t m_[kMaxDen + 1];
};

const Reciprocals& Recip() {
    static const Reciprocals r;
    return r;
}

// round(x / 255) for 0 <= x <= 65025.
inline unsigned Round255(unsigned x) {
    x += 127;
    return (x + 1 + (x >> 8)) >> 8;
}

// ---------------------------------------------------------------------------
// Hue: 256 steps around the circle, i.e. hh = 6 * hue in 1/256ths of a sextant. Within
// sextant s one channel is max, one min, and the third moves by amount a (0..C over the
// sextant): rising from min in even sextants, falling from max in odd ones.

// For each hue: which channel is max / moving / min (0 = blue, 1 = green, 2 = red), whether
// the moving one falls, and the position f (0..255) in the sextant.
struct HueRole {
    uint8_t maxCh, midCh, minCh, falling, f;
};

struct HueTable {
    HueRole role[256];
    HueTable() {
        // Sextants from red: r>g>b rising g, g>r>b falling r, g>b>r rising b, b>g>r falling g,
        // b>r>g rising r, r>b>g falling b.
        static const uint8_t kOrder[6][3] = {{2, 1, 0}, {1, 2, 0}, {1, 0, 2},
                                             {0, 1, 2}, {0, 2, 1}, {2, 0, 1}};
        for (int h = 0; h < 256; ++h) {
            const int hh = h * 6, s = hh >> 8;
            role[h] = HueRole{kOrder[s][0], kOrder[s][1], kOrder[s][2], uint8_t(s & 1),
                              uint8_t(hh & 255)};
        }
    }
};

const HueTable& Hues() {
    static const HueTable t;
    return t;
}

// Writes the colour of hue h with the given max and min.
inline void HueToRGB(const HueTable& t, unsigned h, unsigned mx, unsigned mn, uint8_t* bgr) {
    const HueRole& r = t.role[h];
    const unsigned amount = ((mx - mn) * r.f + 128) >> 8;
    bgr[r.maxCh] = uint8_t(mx);
    bgr[r.minCh] = uint8_t(mn);
    bgr[r.midCh] = uint8_t(r.falling ? mx - amount : mn + amount);
}

// The sextant of a colour (which channel is max and which min), from the three pairwise
// comparisons (r >= g, g >= b, r >= b) without branches; two combinations cannot occur.
inline unsigned SextantOf(unsigned r, unsigned g, unsigned b) {
    static constexpr uint8_t kSextant[8] = {3, 3, 2, 1, 4, 5, 0, 0};
    return kSextant[unsigned(r >= g) << 2 | unsigned(g >= b) << 1 | unsigned(r >= b)];
}

// The hue (0..255) of a colour in sextant s with middle channel mid, measured against the
// max and min (mx, mn) that the merge will rebuild, which may differ from the colour's own
// by one level. 0 when mx == mn.
inline unsigned HueOf(const Reciprocals& rc, unsigned s, int mid, int mx, int mn) {
    const int c = mx - mn;
    const int a = std::clamp((s & 1) ? mx - mid : mid - mn, 0, c);
    // round(hh / 6) with hh = 256 * (s * c + a) / c.
    const unsigned num = 512u * (s * unsigned(c) + unsigned(a)) + 6u * unsigned(c);
    return rc.Div(num, 12u * unsigned(c)) & 255u;
}

// ---------------------------------------------------------------------------
// Row kernels. Separation reads BGRA rows; merging writes 24-bit rows.

QUILLO_ROW_KERNEL void SeparateRow(L_UINT type, const BGRA* px, int w, uint8_t* const* out) {
    uint8_t* p0 = out[0];
    uint8_t* p1 = out[1];
    uint8_t* p2 = out[2];
    switch (type) {
        case COLORSEP_RGB:
            for (int x = 0; x < w; ++x) p0[x] = px[x].r, p1[x] = px[x].g, p2[x] = px[x].b;
            break;
        case COLORSEP_CMY:
            for (int x = 0; x < w; ++x)
                p0[x] = uint8_t(255 - px[x].r), p1[x] = uint8_t(255 - px[x].g),
                p2[x] = uint8_t(255 - px[x].b);
            break;
        // The divisions below go through the reciprocal of 0 (which is 0) for black and gray
        // pixels, giving the 0 they need without a branch.
        case COLORSEP_CMYK: {
            const Reciprocals& rc = Recip();
            uint8_t* p3 = out[3];
            for (int x = 0; x < w; ++x) {
                const unsigned r = px[x].r, g = px[x].g, b = px[x].b;
                const unsigned mx = std::max({r, g, b});
                p3[x] = uint8_t(255 - mx);
                // round((mx - v) * 255 / mx)
                const unsigned den = 2 * mx;
                p0[x] = uint8_t(rc.Div((mx - r) * 510 + mx, den));
                p1[x] = uint8_t(rc.Div((mx - g) * 510 + mx, den));
                p2[x] = uint8_t(rc.Div((mx - b) * 510 + mx, den));
            }
            break;
        }
        case COLORSEP_HSV: {
            const Reciprocals& rc = Recip();
            for (int x = 0; x < w; ++x) {
                const unsigned r = px[x].r, g = px[x].g, b = px[x].b;
                const unsigned mx = std::max({r, g, b}), mn = std::min({r, g, b}), c = mx - mn;
                p2[x] = uint8_t(mx);
                p1[x] = uint8_t(rc.Div(510 * c + mx, 2 * mx)); // round(255 * c / mx)
                p0[x] = uint8_t(
                    HueOf(rc, SextantOf(r, g, b), int(r + g + b - mx - mn), int(mx), int(mn)));
            }
            break;
        }
        case COLORSEP_HLS: {
            const Reciprocals& rc = Recip();
            for (int x = 0; x < w; ++x) {
                const unsigned r = px[x].r, g = px[x].g, b = px[x].b;
                const unsigned mx = std::max({r, g, b}), mn = std::min({r, g, b}), sum = mx + mn;
                const unsigned mid = r + g + b - mx - mn;
                // The lightness and the chroma the merge is to rebuild. An odd max + min cannot
                // come back exactly (lightness has a bit less than the sum), so the range is
                // widened by one level, up where there is room, else down: the middle channel
                // then still lies inside it and the hue places it as in HSV. For 255 and 0 the
                // largest chroma lightness can describe is 254, so the end farther from the
                // middle channel moves in instead.
                const unsigned odd = sum & 1;
                const unsigned up = odd & unsigned(mx < 255);
                const unsigned down = odd & unsigned(mx == 255) & unsigned(mn > 0);
                const unsigned squeeze = odd & unsigned(mx == 255) & unsigned(mn == 0);
                const unsigned l = (sum >> 1) + up + (squeeze & unsigned(mid >= 128));
                const unsigned c = mx - mn + up + down - squeeze;
                p1[x] = uint8_t(l);
                // c never exceeds the largest chroma at l, and that is even and below 255, so
                // the saturation fits a byte and the merge's round(s * span / 255) gives c back.
                const unsigned span = l < 128 ? 2 * l : 510 - 2 * l;
                p2[x] = uint8_t(rc.Div(510 * c + span, 2 * span)); // round(255 * c / span)
                p0[x] = uint8_t(
                    HueOf(rc, SextantOf(r, g, b), int(mid), int(l + (c + 1) / 2), int(l - c / 2)));
            }
            break;
        }
    }
}

QUILLO_ROW_KERNEL void MergeRow(L_UINT type, const uint8_t* const* in, int w, uint8_t* out) {
    const uint8_t* p0 = in[0];
    const uint8_t* p1 = in[1];
    const uint8_t* p2 = in[2];
    switch (type) {
        case COLORSEP_RGB:
            for (int x = 0; x < w; ++x)
                out[x * 3] = p2[x], out[x * 3 + 1] = p1[x], out[x * 3 + 2] = p0[x];
            break;
        case COLORSEP_CMY:
            for (int x = 0; x < w; ++x)
                out[x * 3] = uint8_t(255 - p2[x]), out[x * 3 + 1] = uint8_t(255 - p1[x]),
                        out[x * 3 + 2] = uint8_t(255 - p0[x]);
            break;
        case COLORSEP_CMYK: {
            const uint8_t* p3 = in[3];
            for (int x = 0; x < w; ++x) {
                const unsigned mx = 255u - p3[x];
                out[x * 3] = uint8_t(mx - Round255(p2[x] * mx));
                out[x * 3 + 1] = uint8_t(mx - Round255(p1[x] * mx));
                out[x * 3 + 2] = uint8_t(mx - Round255(p0[x] * mx));
            }
            break;
        }
        case COLORSEP_HSV: {
            const HueTable& t = Hues();
            for (int x = 0; x < w; ++x) {
                const unsigned v = p2[x];
                HueToRGB(t, p0[x], v, v - Round255(v * p1[x]), out + x * 3);
            }
            break;
        }
        case COLORSEP_HLS: {
            const HueTable& t = Hues();
            for (int x = 0; x < w; ++x) {
                const unsigned l = p1[x];
                const unsigned span = l < 128 ? 2 * l : 510 - 2 * l;
                const unsigned c = Round255(p2[x] * span);
                HueToRGB(t, p0[x], l + (c + 1) / 2, l - c / 2, out + x * 3);
            }
            break;
        }
    }
}

int PlaneCount(L_UINT type) { return type == COLORSEP_CMYK ? 4 : 3; }

const RGBQUAD* GrayRamp() {
    static const struct Ramp {
        RGBQUAD p[256];
        Ramp() {
            for (int i = 0; i < 256; ++i) p[i] = RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
        }
    } ramp;
    return ramp.p;
}

bool Progress(int y, int height) {
    if ((y & 63) != 0) return true;
    return L_ReportStatus(int(int64_t(y) * 100 / height)) == SUCCESS;
}

// Reads rows of a plane as gray levels: 8-bit planes with the gray ramp are used as they
// are, anything else goes through its palette and the toolkit's luminance weights.
class PlaneReader {
public:
    explicit PlaneReader(const BITMAPHANDLE* b) : b_(b), reader_(b) {
        direct_ = b->BitsPerPixel == 8 && b->pPalette &&
                  std::memcmp(b->pPalette, GrayRamp(), sizeof(RGBQUAD) * 256) == 0;
    }
    // The levels of row y: a pointer into the bitmap or into the scratch rows.
    const uint8_t* Row(int y) {
        if (direct_) return L_RowPtr(b_, y);
        reader_.Read(y, colours_.data());
        for (int x = 0; x < b_->Width; ++x)
            levels_[size_t(x)] = uint8_t((colours_[size_t(x)].r * 77 + colours_[size_t(x)].g * 150 +
                                          colours_[size_t(x)].b * 29 + 128) >>
                                         8);
        return levels_.data();
    }
    // Allocates the scratch rows (may throw std::bad_alloc).
    void Prepare() {
        if (direct_) return;
        colours_.resize(size_t(b_->Width));
        levels_.resize(size_t(b_->Width));
    }

private:
    const BITMAPHANDLE* b_;
    lt::color::RowReader reader_;
    bool direct_;
    std::vector<BGRA> colours_;
    std::vector<uint8_t> levels_;
};

} // namespace

L_INT L_ColorSeparateBitmap(const BITMAPHANDLE* b, BITMAPHANDLE* planes, L_UINT uType) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    if (!planes || uType > COLORSEP_CMY) return ERROR_INV_PARAMETER;
    if (!lt::IsValidBpp(b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    const int n = PlaneCount(uType);
    BITMAPHANDLE out[4];
    auto freeAll = [&] {
        for (int i = 0; i < n; ++i) L_FreeBitmap(&out[i]);
    };
    for (int i = 0; i < n; ++i) {
        const L_INT rc = L_CreateBitmap(&out[i], TYPE_CONV, b->Width, b->Height, 8, ORDER_BGR,
                                        GrayRamp(), TOP_LEFT);
        if (rc != SUCCESS) {
            freeAll();
            return rc;
        }
        out[i].XResolution = b->XResolution;
        out[i].YResolution = b->YResolution;
    }
    try {
        lt::color::RowReader reader(b);
        std::vector<BGRA> row(size_t(b->Width));
        for (int y = 0; y < b->Height; ++y) {
            if (!Progress(y, b->Height)) {
                freeAll();
                return ERROR_USER_ABORT;
            }
            reader.Read(y, row.data());
            uint8_t* rows[4] = {};
            for (int i = 0; i < n; ++i) rows[i] = L_RowPtr(&out[i], y);
            SeparateRow(uType, row.data(), b->Width, rows);
        }
    } catch (const std::bad_alloc&) {
        freeAll();
        return ERROR_NO_MEMORY;
    }
    L_ReportStatus(100);
    for (int i = 0; i < n; ++i) planes[i] = out[i];
    return SUCCESS;
}

L_INT L_ColorMergeBitmap(BITMAPHANDLE* dst, const BITMAPHANDLE* planes, L_UINT uType) {
    if (!dst || !planes || uType > COLORSEP_CMY) return ERROR_INV_PARAMETER;
    const int n = PlaneCount(uType);
    for (int i = 0; i < n; ++i) {
        if (!lt::IsAllocated(&planes[i])) return ERROR_NO_BITMAP;
        if (!lt::IsValidBpp(planes[i].BitsPerPixel)) return ERROR_BITPERPIXEL;
        if (planes[i].Width != planes[0].Width || planes[i].Height != planes[0].Height)
            return ERROR_INV_RANGE;
    }
    BITMAPHANDLE out;
    L_INT rc = L_CreateBitmap(&out, TYPE_CONV, planes[0].Width, planes[0].Height, 24, ORDER_BGR,
                              nullptr, TOP_LEFT);
    if (rc != SUCCESS) return rc;
    out.XResolution = planes[0].XResolution;
    out.YResolution = planes[0].YResolution;
    try {
        std::vector<PlaneReader> readers;
        readers.reserve(size_t(n));
        for (int i = 0; i < n; ++i) {
            readers.emplace_back(&planes[i]);
            readers.back().Prepare();
        }
        for (int y = 0; y < out.Height; ++y) {
            if (!Progress(y, out.Height)) {
                L_FreeBitmap(&out);
                return ERROR_USER_ABORT;
            }
            const uint8_t* rows[4] = {};
            for (int i = 0; i < n; ++i) rows[i] = readers[size_t(i)].Row(y);
            MergeRow(uType, rows, out.Width, L_RowPtr(&out, y));
        }
    } catch (const std::bad_alloc&) {
        L_FreeBitmap(&out);
        return ERROR_NO_MEMORY;
    }
    L_ReportStatus(100);
    *dst = out;
    return SUCCESS;
}
