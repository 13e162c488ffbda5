// Point operations: each pixel's new colour depends on its old colour alone.
//
// The per-channel ones (intensity, contrast, gamma, invert, posterize) are a table of 256
// levels; the others (saturation, hue, intensity detection) look at the three channels of
// a pixel together.
#include <cmath>

#include "ProcessingInternal.h"

using namespace lt::proc;

namespace {

using Lut = uint8_t[256];

QUILLO_ROW_KERNEL void LutBytes(const uint8_t* lut, const uint8_t* in, uint8_t* out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = lut[in[i]];
}

L_INT ApplyLut(pBITMAPHANDLE b, const Lut& lut) {
    return ApplyPixels(b, [&](const uint8_t* in, uint8_t* out, int n, int c) {
        LutBytes(lut, in, out, size_t(n) * size_t(c));
    });
}

QUILLO_ROW_KERNEL void InvertBytes(const uint8_t* in, uint8_t* out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = uint8_t(~in[i]);
}

QUILLO_ROW_KERNEL void InvertWords(uint8_t* px, int n) {
    for (int i = 0; i < n; ++i) StoreWord(px + 4 * i, LoadWord(px + 4 * i) ^ 0x00FFFFFFu);
}

// v * (n - 1) / 255 rounded, then back to the level q * 255 / (n - 1) rounded, halves
// up. The first division is exact through x * 0x8081 >> 23 for x < 2^16; the second is a
// float multiply with a nudge of 1/1024 that lifts the exact halves past the float's error
// (other quotients are at least 1/510 away from a half), so the loop vectorises.
inline unsigned PosterizeLevel(unsigned v, unsigned steps, float scale) {
    const unsigned q = ((v * steps + 127u) * 0x8081u) >> 23;
    return unsigned(int(float(q) * scale + (0.5f + 1.0f / 1024)));
}

QUILLO_ROW_KERNEL void PosterizeBytes(unsigned steps, float scale, const uint8_t* in, uint8_t* out,
                                      size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = uint8_t(PosterizeLevel(in[i], steps, scale));
}

// The same on 32-bit pixels in place, the three colour bytes of each word at once and the
// alpha byte kept: this vectorises where a byte loop that skips every fourth byte does not.
QUILLO_ROW_KERNEL void PosterizeWords(unsigned steps, float scale, uint8_t* px, int n) {
    for (int i = 0; i < n; ++i) {
        const uint32_t w = LoadWord(px + 4 * i);
        uint32_t o = w & 0xFF000000u;
        for (int k = 0; k < 24; k += 8) o |= PosterizeLevel((w >> k) & 255u, steps, scale) << k;
        StoreWord(px + 4 * i, o);
    }
}

} // namespace

L_INT L_ChangeBitmapIntensity(pBITMAPHANDLE b, L_INT nChange) {
    if (L_INT rc = CheckBitmap(b); rc != SUCCESS) return rc;
    if (nChange < -1000 || nChange > 1000) return ERROR_INV_PARAMETER;
    const int shift = int(std::lround(nChange * 255.0 / 1000.0));
    Lut lut;
    for (int v = 0; v < 256; ++v) lut[v] = Clamp255(v + shift);
    return ApplyLut(b, lut);
}

L_INT L_ChangeBitmapContrast(pBITMAPHANDLE b, L_INT nChange) {
    if (L_INT rc = CheckBitmap(b); rc != SUCCESS) return rc;
    if (nChange < -1000 || nChange > 1000) return ERROR_INV_PARAMETER;
    Lut lut;
    for (int v = 0; v < 256; ++v) {
        if (nChange == 1000) {
            lut[v] = v >= 128 ? 255 : 0;
            continue;
        }
        const double f = nChange <= 0 ? (1000.0 + nChange) / 1000.0 : 1000.0 / (1000.0 - nChange);
        lut[v] = Clamp255(int(std::lround(128.0 + (v - 128) * f)));
    }
    return ApplyLut(b, lut);
}

L_INT L_GammaCorrectBitmap(pBITMAPHANDLE b, L_INT nGamma) {
    if (L_INT rc = CheckBitmap(b); rc != SUCCESS) return rc;
    if (nGamma < 1 || nGamma > 1000) return ERROR_INV_PARAMETER;
    Lut lut;
    for (int v = 0; v < 256; ++v)
        lut[v] = Clamp255(int(std::lround(255.0 * std::pow(v / 255.0, 100.0 / nGamma))));
    return ApplyLut(b, lut);
}

L_INT L_InvertBitmap(pBITMAPHANDLE b) {
    return ApplyPixels(
        b,
        [](const uint8_t* in, uint8_t* out, int n, int c) {
            InvertBytes(in, out, size_t(n) * size_t(c));
        },
        true, [](uint8_t* px, int n) { InvertWords(px, n); });
}

L_INT L_PosterizeBitmap(pBITMAPHANDLE b, L_INT nLevels) {
    if (L_INT rc = CheckBitmap(b); rc != SUCCESS) return rc;
    if (nLevels < 2 || nLevels > 256) return ERROR_INV_PARAMETER;
    if (nLevels == 256) return SUCCESS;
    const unsigned steps = unsigned(nLevels - 1);
    const float scale = 255.0f / float(steps);
    return ApplyPixels(
        b,
        [&](const uint8_t* in, uint8_t* out, int n, int c) {
            PosterizeBytes(steps, scale, in, out, size_t(n) * size_t(c));
        },
        true, [&](uint8_t* px, int n) { PosterizeWords(steps, scale, px, n); });
}

L_INT L_IntensityDetectBitmap(pBITMAPHANDLE b, L_INT nLow, L_INT nHigh) {
    if (L_INT rc = CheckBitmap(b); rc != SUCCESS) return rc;
    if (nLow < 0 || nHigh > 255 || nLow > nHigh) return ERROR_INV_PARAMETER;
    Lut inside;
    for (int v = 0; v < 256; ++v) inside[v] = v >= nLow && v <= nHigh ? 255 : 0;
    return ApplyPixels(b, [&](const uint8_t* in, uint8_t* out, int n, int c) {
        if (c == 1) {
            LutBytes(inside, in, out, size_t(n));
            return;
        }
        for (int x = 0; x < n; ++x) {
            const uint8_t* p = in + x * c;
            const uint8_t v = inside[Luma(p[2], p[1], p[0])];
            out[x * c] = out[x * c + 1] = out[x * c + 2] = v;
        }
    });
}

L_INT L_ChangeBitmapSaturation(pBITMAPHANDLE b, L_INT nChange) {
    if (L_INT rc = CheckBitmap(b); rc != SUCCESS) return rc;
    if (nChange < -1000 || nChange > 1000) return ERROR_INV_PARAMETER;
    const int f = 1000 + nChange;
    return ApplyPixels(b, [&](const uint8_t* in, uint8_t* out, int n, int c) {
        if (c == 1) { // gray stays gray
            if (in != out) std::memcpy(out, in, size_t(n));
            return;
        }
        for (int x = 0; x < n; ++x) {
            const uint8_t* p = in + x * c;
            const int y = int(Luma(p[2], p[1], p[0]));
            for (int k = 0; k < 3; ++k) {
                const int t = (p[k] - y) * f; // rounded half away from zero
                out[x * c + k] = Clamp255(y + (t >= 0 ? (t + 500) / 1000 : -((500 - t) / 1000)));
            }
        }
    });
}

namespace {

// The six sextants of the colour circle from red: which channel (0 blue, 1 green, 2 red)
// is the largest, which the smallest, and whether the third rises from the smallest.
struct Sextant {
    int maxCh, midCh, minCh;
    bool rising;
};
constexpr Sextant kSextants[6] = {{2, 1, 0, true},  {1, 2, 0, false}, {1, 0, 2, true},
                                  {0, 1, 2, false}, {0, 2, 1, true},  {2, 0, 1, false}};

// Turns one colour by `turn` sextants (angle / 60); max and min keep their values.
void TurnHue(const uint8_t* in, uint8_t* out, double turn) {
    const int v[3] = {in[0], in[1], in[2]};
    const int mx = std::max({v[0], v[1], v[2]}), mn = std::min({v[0], v[1], v[2]});
    const int chroma = mx - mn;
    if (chroma == 0) {
        out[0] = in[0], out[1] = in[1], out[2] = in[2];
        return;
    }
    const int r = v[2], g = v[1], bl = v[0];
    int s, a; // sextant and the distance travelled in it
    if (r == mx) {
        if (g >= bl)
            s = 0, a = g - mn;
        else
            s = 5, a = mx - bl;
    } else if (g == mx) {
        if (r >= bl)
            s = 1, a = mx - r;
        else
            s = 2, a = bl - mn;
    } else {
        if (g >= r)
            s = 3, a = mx - g;
        else
            s = 4, a = r - mn;
    }
    double p = s * chroma + a + turn * chroma;
    const double full = 6.0 * chroma;
    p = std::fmod(p, full);
    if (p < 0) p += full;
    int s2 = int(p / chroma);
    if (s2 > 5) s2 = 5;
    const double a2 = p - s2 * chroma;
    const Sextant& to = kSextants[s2];
    out[to.maxCh] = uint8_t(mx);
    out[to.minCh] = uint8_t(mn);
    out[to.midCh] = uint8_t(std::lround(to.rising ? mn + a2 : mx - a2));
}

} // namespace

L_INT L_ChangeBitmapHue(pBITMAPHANDLE b, L_INT nAngle) {
    if (L_INT rc = CheckBitmap(b); rc != SUCCESS) return rc;
    if (nAngle < -360 || nAngle > 360) return ERROR_INV_PARAMETER;
    const double turn = nAngle / 60.0;
    return ApplyPixels(b, [&](const uint8_t* in, uint8_t* out, int n, int c) {
        if (c == 1) {
            if (in != out) std::memcpy(out, in, size_t(n));
            return;
        }
        for (int x = 0; x < n; ++x) TurnHue(in + x * c, out + x * c, turn);
    });
}
