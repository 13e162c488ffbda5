// The span painter of the device context: stored pixel values of colours, and
// d = (d AND keep) XOR flip over a run of pixels at every depth.
#include "LeadDCInternal.h"

namespace lt {

uint32_t ColorMask(int bpp) {
    switch (bpp) {
        case 32:
        case 24: return 0x00FFFFFFu;
        case 16: return 0x7FFFu;
        case 8: return 0xFFu;
        case 4: return 0x0Fu;
        case 1: return 0x01u;
        default: return 0;
    }
}

uint32_t ColorToValue(const BITMAPHANDLE* b, COLORREF c) {
    const int bpp = b->BitsPerPixel;
    if (bpp <= 8) {
        if (IsPaletteIndex(c)) return (c & 0xFFu) & ColorMask(bpp);
        return uint32_t(
            NearestPaletteIndex(b->pPalette, 1 << bpp, GetRValue(c), GetGValue(c), GetBValue(c)));
    }
    uint8_t r = GetRValue(c), g = GetGValue(c), bl = GetBValue(c);
    if (IsPaletteIndex(c))
        r = g = bl = uint8_t(c & 0xFFu); // a gray level, as L_PutPixelColor has it
    if (bpp == 16) return Pack16(BGRA{bl, g, r, 0});
    return uint32_t(bl) | (uint32_t(g) << 8) | (uint32_t(r) << 16);
}

void ApplySpan(int bpp, uint8_t* row, int x0, int x1, uint32_t keep, uint32_t flip) {
    if (x0 >= x1) return;
    const size_t n = size_t(x1 - x0);
    switch (bpp) {
        case 32: {
            uint8_t* p = row + size_t(x0) * 4;
            keep |= 0xFF000000u;
            flip &= 0x00FFFFFFu;
            for (size_t i = 0; i < n; ++i, p += 4) {
                uint32_t v;
                std::memcpy(&v, p, 4);
                v = (v & keep) ^ flip;
                std::memcpy(p, &v, 4);
            }
            break;
        }
        case 24: {
            uint8_t* p = row + size_t(x0) * 3;
            const uint8_t f0 = uint8_t(flip), f1 = uint8_t(flip >> 8), f2 = uint8_t(flip >> 16);
            if ((keep & 0xFFFFFFu) == 0) {
                for (size_t i = 0; i < n; ++i, p += 3) {
                    p[0] = f0;
                    p[1] = f1;
                    p[2] = f2;
                }
            } else {
                const uint8_t k0 = uint8_t(keep), k1 = uint8_t(keep >> 8), k2 = uint8_t(keep >> 16);
                for (size_t i = 0; i < n; ++i, p += 3) {
                    p[0] = uint8_t((p[0] & k0) ^ f0);
                    p[1] = uint8_t((p[1] & k1) ^ f1);
                    p[2] = uint8_t((p[2] & k2) ^ f2);
                }
            }
            break;
        }
        case 16: {
            uint8_t* p = row + size_t(x0) * 2;
            const uint16_t k = uint16_t(keep | 0x8000u), f = uint16_t(flip & 0x7FFFu);
            for (size_t i = 0; i < n; ++i, p += 2) {
                uint16_t v;
                std::memcpy(&v, p, 2);
                v = uint16_t((v & k) ^ f);
                std::memcpy(p, &v, 2);
            }
            break;
        }
        case 8: {
            uint8_t* p = row + x0;
            const uint8_t k = uint8_t(keep), f = uint8_t(flip);
            if (k == 0)
                std::memset(p, f, n);
            else
                for (size_t i = 0; i < n; ++i) p[i] = uint8_t((p[i] & k) ^ f);
            break;
        }
        case 4:
        case 1: {
            // Whole bytes at once with the masks repeated over the byte; the partial first and
            // last bytes are merged under a bit mask.
            const uint32_t mask = ColorMask(bpp);
            const unsigned rep = bpp == 1 ? 0xFFu : 0x11u;
            const uint8_t k8 = uint8_t((keep & mask) * rep), f8 = uint8_t((flip & mask) * rep);
            const size_t bit0 = size_t(x0) * size_t(bpp), bit1 = size_t(x1) * size_t(bpp);
            size_t b0 = bit0 >> 3;
            const size_t b1 = bit1 >> 3;
            auto masked = [&](size_t i, unsigned m) {
                const unsigned d = row[i], v = (d & k8) ^ f8;
                row[i] = uint8_t((d & ~m) | (v & m));
            };
            const unsigned head = 0xFFu >> (bit0 & 7), tail = ~(0xFFu >> (bit1 & 7)) & 0xFFu;
            if (b0 == b1) {
                masked(b0, head & tail);
                break;
            }
            if (bit0 & 7) masked(b0++, head);
            if (k8 == 0)
                std::memset(row + b0, f8, b1 - b0);
            else
                for (size_t i = b0; i < b1; ++i) row[i] = uint8_t((row[i] & k8) ^ f8);
            if (bit1 & 7) masked(b1, tail);
            break;
        }
        default: break;
    }
}

} // namespace lt
