// Shared helpers of the model tests: building layers and images, reading pixels, and
// comparing pictures with golden PNGs.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>

#include "LayeredImage.h"
#include "PixelAccess.h"

namespace mt {

struct Px {
    int b, g, r, a;
    bool operator==(const Px&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const Px& p) {
    return os << "(b" << p.b << " g" << p.g << " r" << p.r << " a" << p.a << ")";
}

// Stored bytes of a 32-bit (or 24-bit) pixel; alpha 255 for 24 bits.
inline Px At(const BITMAPHANDLE& b, int x, int y) {
    const uint8_t* p = L_RowPtr(&b, y) + size_t(x) * size_t(b.BitsPerPixel / 8);
    return Px{p[0], p[1], p[2], b.BitsPerPixel == 32 ? p[3] : 255};
}
inline void Put(BITMAPHANDLE& b, int x, int y, Px c) {
    uint8_t* p = L_RowPtr(&b, y) + size_t(x) * 4;
    p[0] = uint8_t(c.b), p[1] = uint8_t(c.g), p[2] = uint8_t(c.r), p[3] = uint8_t(c.a);
}

// A layer of stored depth 32 filled with one colour and alpha.
inline std::unique_ptr<TLayer> Solid(int w, int h, Px c, int logical = 32, std::string name = "L") {
    auto l = std::make_unique<TLayer>();
    BITMAPHANDLE b;
    EXPECT_EQ(L_CreateBitmap(&b, TYPE_CONV, w, h, 32, ORDER_BGR, nullptr, TOP_LEFT), SUCCESS);
    l->Adopt(b);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) Put(*l, x, y, c);
    l->LogicalBpp = logical;
    l->Name = std::move(name);
    return l;
}

// A 32-bit layer whose pixels all differ (colour from position, alpha 255).
inline std::unique_ptr<TLayer> Pattern(int w, int h, int logical = 24, std::string name = "P") {
    auto l = Solid(w, h, Px{0, 0, 0, 255}, logical, std::move(name));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            Put(*l, x, y, Px{(x * 7 + y) & 255, (y * 5 + 3) & 255, (x * y + 11) & 255, 255});
    return l;
}

inline std::unique_ptr<TLayer> At(std::unique_ptr<TLayer> l, int x, int y) {
    l->X = x;
    l->Y = y;
    return l;
}

// Sets a rectangular region (layer coordinates).
inline void Shape(TLayer& l, RECT r) {
    ASSERT_EQ(L_SetBitmapRgnRect(&l, nullptr, &r, L_RGN_SET), SUCCESS);
}

inline bool Near(Px a, Px b, int tol = 1) {
    return std::abs(a.b - b.b) <= tol && std::abs(a.g - b.g) <= tol && std::abs(a.r - b.r) <= tol &&
           std::abs(a.a - b.a) <= tol;
}

// A readable difference between two images, empty when they are identical.
inline std::string Difference(const TLayeredImage& a, const TLayeredImage& b) {
    std::ostringstream out;
    if (a.Count() != b.Count())
        return "layer count " + std::to_string(a.Count()) + " vs " + std::to_string(b.Count());
    if (a.GetCurrentIndex() != b.GetCurrentIndex()) out << "current layer differs; ";
    for (int i = 0; i < a.Count(); ++i) {
        const TLayer &x = *a.Layers.At(i), &y = *b.Layers.At(i);
        const std::string at = "layer " + std::to_string(i) + " ";
        if (x.Name != y.Name) out << at << "name '" << x.Name << "' vs '" << y.Name << "'; ";
        if (x.Visible != y.Visible) out << at << "visibility; ";
        if (x.X != y.X || x.Y != y.Y) out << at << "position; ";
        if (!(x.Transform == y.Transform)) out << at << "transform; ";
        if (x.LogicalBpp != y.LogicalBpp) out << at << "logical depth; ";
        if (x.Width != y.Width || x.Height != y.Height || x.BitsPerPixel != y.BitsPerPixel ||
            x.BytesPerLine != y.BytesPerLine || x.ViewPerspective != y.ViewPerspective ||
            x.Order != y.Order || x.XResolution != y.XResolution ||
            x.YResolution != y.YResolution || x.nColors != y.nColors)
            out << at << "bitmap record; ";
        else if (x.IsAllocated() != y.IsAllocated())
            out << at << "pixels present; ";
        else if (x.IsAllocated()) {
            const size_t row = (size_t(x.Width) * size_t(x.BitsPerPixel) + 7) / 8;
            for (int r = 0; r < x.Height; ++r)
                if (std::memcmp(L_RowPtr(&x, r), L_RowPtr(&y, r), row) != 0) {
                    out << at << "pixels of row " << r << "; ";
                    break;
                }
            if (x.nColors && std::memcmp(x.pPalette, y.pPalette, x.nColors * sizeof(RGBQUAD)))
                out << at << "palette; ";
        }
        if ((x.pRgn == nullptr) != (y.pRgn == nullptr)) {
            out << at << (x.pRgn ? "lost its shape; " : "gained a shape; ");
        } else if (x.pRgn) {
            const auto sx = lt::RegionSpans(x.pRgn), sy = lt::RegionSpans(y.pRgn);
            bool same = sx.size() == sy.size();
            for (size_t s = 0; same && s < sx.size(); ++s)
                same = sx[s].y == sy[s].y && sx[s].x0 == sy[s].x0 && sx[s].x1 == sy[s].x1;
            if (!same) out << at << "shape; ";
        }
    }
    return out.str();
}

// Toolkit size limits for one scope.
struct ScopedLimits {
    L_LIMITS old = L_GetLimits();
    explicit ScopedLimits(L_LIMITS l) { L_SetLimits(l); }
    ~ScopedLimits() { L_SetLimits(old); }
};

inline std::string TmpDir() {
    const char* env = std::getenv("QUILLO_TEST_TMP");
    std::string dir =
        env && *env ? env : std::filesystem::temp_directory_path().string() + "/quillo-model-tests";
    std::filesystem::create_directories(dir);
    return dir;
}

// Compares the colours of `actual` with tests/data/golden/<name>.png: a pixel differs when
// a channel is off by more than `tolerance`; at most `maxDiffering` pixels may differ.
// QUILLO_UPDATE_GOLDEN=1 rewrites the golden instead. On failure the actual and expected
// pictures are written under QUILLO_TEST_OUT.
void ExpectMatchesGolden(const BITMAPHANDLE& actual, const std::string& name, int tolerance,
                         int maxDiffering);

} // namespace mt
