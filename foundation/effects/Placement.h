// Helpers the effects library's compositing calls share: where a source rectangle lands on a
// destination after clipping to both bitmaps, and the exact division by 255 of the blends.
#pragma once

#include <algorithm>
#include <cstdint>

#include "Toolkit.h"

namespace efx {

// x / 255 rounded down, exact for 0 <= x < 65535 (all our sums stay below 65153).
inline unsigned Div255(unsigned x) { return (x + 1 + (x >> 8)) >> 8; }

// d moved towards s by w / 255, rounded to nearest.
inline uint8_t Lerp255(unsigned d, unsigned s, unsigned w) {
    return uint8_t(Div255(d * (255 - w) + s * w + 127));
}

// The destination rectangle and the source offset after clipping to both bitmaps.
struct Placement {
    RECT dst;    // in destination coordinates
    int dxToSrc; // source x = destination x + dxToSrc
    int dyToSrc;
};

// False when nothing of the rectangle lies on both bitmaps.
inline bool Place(const BITMAPHANDLE* dst, L_INT x, L_INT y, L_INT width, L_INT height,
                  const BITMAPHANDLE* src, L_INT srcX, L_INT srcY, Placement* out) {
    // 64-bit so that extreme offsets and sizes cannot overflow while clipping.
    auto clip = [](int64_t& d, int64_t& s, int64_t& len, int64_t dLimit, int64_t sLimit) {
        if (d < 0) {
            s -= d;
            len += d;
            d = 0;
        }
        if (s < 0) {
            d -= s;
            len += s;
            s = 0;
        }
        len = std::min({len, dLimit - d, sLimit - s});
        return len > 0;
    };
    int64_t dx = x, sx = srcX, w = width, dy = y, sy = srcY, h = height;
    if (!clip(dx, sx, w, dst->Width, src->Width) || !clip(dy, sy, h, dst->Height, src->Height))
        return false;
    out->dst = RECT{int(dx), int(dy), int(dx + w), int(dy + h)};
    out->dxToSrc = int(sx - dx);
    out->dyToSrc = int(sy - dy);
    return true;
}

} // namespace efx
