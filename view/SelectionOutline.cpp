// The selection's boundary, recomputed a band of rows at a time so that a brush stroke
// costs only the area it touched.
#include "SelectionOutline.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

// The bits of byte i of a row buffer together with its neighbours' edge bits, shifted so
// that bit k of the result is the pixel left (or right) of pixel k.
inline uint8_t LeftOf(const uint8_t* row, size_t i) {
    return uint8_t((row[i] >> 1) | (row[i - 1] << 7));
}
inline uint8_t RightOf(const uint8_t* row, size_t i) {
    return uint8_t((row[i] << 1) | (row[i + 1] >> 7));
}

} // namespace

L_INT MakeOutline(const BITMAPHANDLE& mask, BITMAPHANDLE& outline, const RECT* area) {
    if (!mask.Flags.Allocated || !mask.Addr || !outline.Flags.Allocated || !outline.Addr)
        return ERROR_NO_BITMAP;
    if (mask.BitsPerPixel != 1 || outline.BitsPerPixel != 1) return ERROR_BITPERPIXEL;
    if (mask.Width != outline.Width || mask.Height != outline.Height) return ERROR_INV_RANGE;

    const int w = mask.Width, h = mask.Height;
    RECT r{0, 0, w, h};
    if (area) {
        r.left = std::max(area->left, 0);
        r.top = std::max(area->top, 0);
        r.right = std::min(area->right, w);
        r.bottom = std::min(area->bottom, h);
    }
    if (r.left >= r.right || r.top >= r.bottom) return SUCCESS;

    // Output bytes [b0, b1) of each row; the buffers also hold one byte on each side so
    // that the edge bits of neighbouring bytes can be shifted in. Bytes outside the row
    // (and rows outside the mask) read as unselected, which makes the canvas edge boundary.
    const size_t rowBytes = (size_t(w) + 7) / 8;
    const size_t b0 = size_t(r.left) / 8, b1 = (size_t(r.right) - 1) / 8 + 1;
    const size_t span = b1 - b0 + 2;
    const uint8_t lastMask = uint8_t(0xFF << ((8 - w % 8) % 8));
    std::vector<uint8_t> rows;
    try {
        rows.assign(3 * span, 0);
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    uint8_t *up = rows.data(), *cur = up + span, *down = cur + span;

    // Buffer byte j holds row byte b0 - 1 + j.
    auto load = [&](uint8_t* dst, int y) {
        std::memset(dst, 0, span);
        if (y < 0 || y >= h) return;
        const uint8_t* src = L_RowPtr(&mask, y);
        const size_t first = b0 > 0 ? b0 - 1 : 0;
        const size_t last = std::min(b1 + 1, rowBytes); // exclusive
        std::memcpy(dst + (first + 1 - b0), src + first, last - first);
        if (last == rowBytes) dst[rowBytes - b0] &= lastMask;
    };
    load(up, r.top - 1);
    load(cur, r.top);
    load(down, r.top + 1);
    for (int y = r.top; y < r.bottom; ++y) {
        uint8_t* o = L_RowPtr(&outline, y) + b0;
        for (size_t j = 1; j + 1 < span; ++j) {
            const uint8_t c = cur[j];
            const uint8_t inner =
                uint8_t(up[j] & LeftOf(up, j) & RightOf(up, j) & LeftOf(cur, j) & RightOf(cur, j) &
                        down[j] & LeftOf(down, j) & RightOf(down, j));
            o[j - 1] = uint8_t(c & ~inner);
        }
        std::swap(up, cur);
        std::swap(cur, down);
        load(down, y + 2);
    }
    return SUCCESS;
}
