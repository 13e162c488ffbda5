// Pictures the benchmarks work on, made in memory so every run measures the same thing:
// a photo-sized five-layer stack and a photo-like 12-megapixel JPEG.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "LayeredImage.h"

namespace bench {

constexpr int kPhotoW = 4000, kPhotoH = 3000;

// Smooth gradients per layer; with alpha, a ramp from clear at the top left to opaque.
inline std::unique_ptr<TLayer> MakeLayer(int w, int h, int index, bool alpha) {
    auto l = std::make_unique<TLayer>();
    BITMAPHANDLE b;
    if (L_CreateBitmap(&b, TYPE_CONV, w, h, 32, ORDER_BGR, nullptr, TOP_LEFT) != SUCCESS)
        std::abort();
    l->Adopt(b);
    l->LogicalBpp = alpha ? 32 : 24;
    for (int y = 0; y < h; ++y) {
        uint8_t* p = L_RowPtr(l.get(), y);
        for (int x = 0; x < w; ++x, p += 4) {
            p[0] = uint8_t(x * 255 / w + index * 23);
            p[1] = uint8_t(y * 255 / h + index * 41);
            p[2] = uint8_t(((x + y) >> 4) + index * 67);
            p[3] = alpha ? uint8_t((x + y) * 255 / (w + h)) : 255;
        }
    }
    return l;
}

// A 4000 x 3000 background and four half-size layers, two with partial alpha; the top
// one current.
inline void FillFiveLayers(TLayeredImage& image) {
    image.Layers.Append(MakeLayer(kPhotoW, kPhotoH, 0, false));
    for (int i = 1; i < 5; ++i) {
        auto l = MakeLayer(kPhotoW / 2, kPhotoH / 2, i, i % 2 == 1);
        l->X = i * 400;
        l->Y = i * 300;
        image.Layers.Append(std::move(l));
    }
    image.Layers.Seek(4);
}

// A photo-like 4000 x 3000 picture (smooth colour fields with fine grain) at 24 bits, or at
// 32 bits opaque as the editor stores photos.
inline BITMAPHANDLE MakePhoto(int bpp) {
    BITMAPHANDLE b;
    if (L_CreateBitmap(&b, TYPE_CONV, kPhotoW, kPhotoH, bpp, ORDER_BGR, nullptr, TOP_LEFT) !=
        SUCCESS)
        std::abort();
    const int step = bpp / 8;
    uint32_t seed = 12345;
    for (int y = 0; y < kPhotoH; ++y) {
        uint8_t* p = L_RowPtr(&b, y);
        for (int x = 0; x < kPhotoW; ++x, p += step) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int(seed >> 28) - 8;
            p[0] = uint8_t(std::clamp(60 + y * 150 / kPhotoH + grain, 0, 255));
            p[1] = uint8_t(std::clamp(90 + ((x * y) >> 16) % 80 + grain, 0, 255));
            p[2] = uint8_t(std::clamp(200 - x * 120 / kPhotoW + grain, 0, 255));
            if (step == 4) p[3] = 255;
        }
    }
    return b;
}

// Writes the photo as a JPEG to path.
inline void WritePhotoJpeg(const std::string& path) {
    BITMAPHANDLE b = MakePhoto(24);
    if (L_SaveBitmap(path.c_str(), &b, FILE_JFIF, 24, 25) != SUCCESS) std::abort();
    L_FreeBitmap(&b);
}

} // namespace bench
