#include "TiffColorSpaces.h"

#include <algorithm>

namespace lt::codec::tiffrows {

void Cmyk(const uint8_t* s, int width, int step, bool alpha, uint8_t* d) {
    for (int x = 0; x < width; ++x, s += step) {
        const unsigned b = s[0], g = s[1], r = s[2];
        const unsigned top = std::max({r, g, b});
        auto ink = [top](unsigned v) { return uint8_t((255 * (top - v) + top / 2) / top); };
        if (top == 0) {
            d[0] = d[1] = d[2] = 0;
        } else {
            d[0] = ink(r);
            d[1] = ink(g);
            d[2] = ink(b);
        }
        d[3] = uint8_t(255 - top);
        if (alpha) d[4] = s[3];
        d += alpha ? 5 : 4;
    }
}

namespace {

struct Ycc {
    int y, cb, cr;
};

Ycc ToYcc(const uint8_t* s) {
    const int b = s[0], g = s[1], r = s[2];
    constexpr int kHalf = 1 << 15, kOffset = 128 << 16;
    auto clamp = [](int v) { return std::clamp(v >> 16, 0, 255); };
    return {(19595 * r + 38470 * g + 7471 * b + kHalf) >> 16,
            clamp(-11059 * r - 21709 * g + 32768 * b + kOffset + kHalf),
            clamp(32768 * r - 27439 * g - 5329 * b + kOffset + kHalf)};
}

} // namespace

void YCbCr(const uint8_t* s, int width, int step, uint8_t* d) {
    for (int x = 0; x < width; ++x, s += step, d += 3) {
        const Ycc c = ToYcc(s);
        d[0] = uint8_t(c.y);
        d[1] = uint8_t(c.cb);
        d[2] = uint8_t(c.cr);
    }
}

} // namespace lt::codec::tiffrows
