// Small random pictures of every depth and the checks the processing tests share.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "OwnedBitmap.h"
#include "PixelAccess.h"
#include "Processing.h"

namespace proctest {

// The depths a caller can hand a processing function; 8 bits twice, with a colour palette
// and with the gray ramp.
struct Depth {
    int bpp;
    bool gray;
    std::string Name() const { return std::to_string(bpp) + (gray ? " gray" : ""); }
};
inline const std::vector<Depth>& AllDepths() {
    static const std::vector<Depth> d = {{1, false},  {4, false},  {8, false}, {8, true},
                                         {16, false}, {24, false}, {32, false}};
    return d;
}

inline uint32_t Next(uint32_t& s) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
}

// Random pixels (and, at 32 bits, random alpha); palettes random too, or the gray ramp.
inline TOwnedBitmap RandomBitmap(int w, int h, Depth d, uint32_t seed) {
    TOwnedBitmap b;
    uint32_t s = seed * 2654435761u + 1;
    RGBQUAD pal[256];
    for (int i = 0; i < 256; ++i) {
        if (d.gray) {
            pal[i] = RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
        } else {
            const uint32_t v = Next(s);
            pal[i] = RGBQUAD{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), 0};
        }
    }
    EXPECT_EQ(L_CreateBitmap(b.get(), TYPE_CONV, w, h, d.bpp, ORDER_BGR, d.bpp <= 8 ? pal : nullptr,
                             TOP_LEFT),
              SUCCESS);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = L_RowPtr(b.get(), y);
        for (int i = 0; i < b->BytesPerLine; ++i) row[i] = uint8_t(Next(s) >> 5);
    }
    return b;
}

// A region of two overlapping rectangles, so rows have different spans and some none.
inline void SetTwoRectRegion(BITMAPHANDLE* b) {
    const RECT a{1, 1, b->Width / 2 + 1, b->Height / 2};
    const RECT c{b->Width / 3, b->Height / 3, b->Width - 1, b->Height - 2};
    ASSERT_EQ(L_SetBitmapRgnRect(b, nullptr, &a, L_RGN_SET), SUCCESS);
    ASSERT_EQ(L_SetBitmapRgnRect(b, nullptr, &c, L_RGN_OR), SUCCESS);
}

inline lt::BGRA At(const BITMAPHANDLE* b, int x, int y) {
    return lt::ReadPixel(b, L_RowPtr(b, y), x);
}
inline unsigned IndexAt(const BITMAPHANDLE* b, int x, int y) {
    return lt::ReadIndex(L_RowPtr(b, y), x, b->BitsPerPixel);
}
inline bool Inside(const BITMAPHANDLE* b, int x, int y) {
    return !b->pRgn || L_IsPtInBitmapRgn(b, y, x);
}

inline std::string Where(const char* what, const Depth& d, bool region, int x, int y) {
    return std::string(what) + " at " + d.Name() + " bits" + (region ? " in a region" : "") +
           ", pixel (" + std::to_string(x) + ", " + std::to_string(y) + ")";
}

inline ::testing::AssertionResult Near(lt::BGRA got, lt::BGRA want, int tol) {
    auto d = [](int a, int b) { return a > b ? a - b : b - a; };
    if (d(got.r, want.r) <= tol && d(got.g, want.g) <= tol && d(got.b, want.b) <= tol &&
        got.a == want.a)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "got (" << int(got.r) << "," << int(got.g) << "," << int(got.b) << "," << int(got.a)
           << ") want (" << int(want.r) << "," << int(want.g) << "," << int(want.b) << ","
           << int(want.a) << ")";
}

// Runs op on a record sharing b's block, then on b in place: the shared record gets what b
// gets, every byte of the block (row padding too), and b keeps its pixels meanwhile.
inline void ExpectSharedGetsTheSame(const char* what, const Depth& d,
                                    const std::function<L_INT(BITMAPHANDLE*)>& op, BITMAPHANDLE* b,
                                    const BITMAPHANDLE* before) {
    const std::string where =
        std::string(what) + " at " + d.Name() + (b->pRgn ? " in a region" : "");
    TOwnedBitmap shared;
    ASSERT_EQ(L_ShareBitmap(shared.get(), b), SUCCESS);
    ASSERT_EQ(op(shared.get()), SUCCESS) << where << ", shared";
    ASSERT_EQ(std::memcmp(b->Addr, before->Addr, b->Size), 0)
        << where << ": the other holder's pixels changed";
    ASSERT_EQ(op(b), SUCCESS) << where;
    ASSERT_EQ(std::memcmp(shared->Addr, b->Addr, b->Size), 0) << where << ", shared";
    if (d.bpp <= 8) {
        ASSERT_EQ(std::memcmp(shared->pPalette, b->pPalette, 1024), 0) << where;
    }
}

// Checks an operation that maps each colour by `ref` at every depth, with and without a
// region: true colour pixels inside change to ref (alpha kept) and outside stay; gray-ramp
// images keep their palette; other palettes change their entries (no region) or keep them
// and take the nearest entry inside the region.
inline void ExpectMapsColours(const char* what, const std::function<L_INT(BITMAPHANDLE*)>& op,
                              const std::function<lt::BGRA(lt::BGRA)>& ref, int tol = 0) {
    for (const Depth& d : AllDepths()) {
        for (bool region : {false, true}) {
            TOwnedBitmap b = RandomBitmap(13, 9, d, uint32_t(d.bpp * 7 + region));
            TOwnedBitmap before;
            ASSERT_EQ(L_CopyBitmap(before.get(), b.get()), SUCCESS);
            if (region) SetTwoRectRegion(b.get());
            ExpectSharedGetsTheSame(what, d, op, b.get(), before.get());
            const bool palette = d.bpp <= 8 && !d.gray;
            for (int y = 0; y < b->Height; ++y) {
                for (int x = 0; x < b->Width; ++x) {
                    const lt::BGRA old = At(before.get(), x, y);
                    const lt::BGRA got = At(b.get(), x, y);
                    if (!Inside(b.get(), x, y)) {
                        ASSERT_EQ(got, old) << Where(what, d, region, x, y) << " (outside)";
                        continue;
                    }
                    lt::BGRA want = ref(old);
                    want.a = old.a;
                    if (palette) {
                        ASSERT_EQ(IndexAt(b.get(), x, y), region ? unsigned(lt::NearestPaletteIndex(
                                                                       before->pPalette, 1 << d.bpp,
                                                                       want.r, want.g, want.b))
                                                                 : IndexAt(before.get(), x, y))
                            << Where(what, d, region, x, y);
                        if (region) continue;
                    }
                    // 16-bit pixels keep 5 bits: a level off by one may land a step away.
                    if (d.bpp == 16) want = lt::Unpack16(lt::Pack16(want));
                    ASSERT_TRUE(Near(got, want, d.bpp == 16 && tol ? 8 : tol))
                        << Where(what, d, region, x, y);
                }
            }
            if (d.gray || (palette && region)) {
                for (int i = 0; i < (1 << d.bpp); ++i) {
                    ASSERT_EQ(std::memcmp(&b->pPalette[i], &before->pPalette[i], 4), 0)
                        << what << ": the palette stays";
                }
            }
        }
    }
}

// The colour a filter works on at (x, y): palette entries resolved, 16-bit pixels widened;
// coordinates outside the bitmap take the nearest edge pixel.
inline lt::BGRA Clamped(const BITMAPHANDLE* b, int x, int y) {
    return At(b, std::clamp(x, 0, b->Width - 1), std::clamp(y, 0, b->Height - 1));
}
inline int Channel(lt::BGRA c, int ch) { return ch == 0 ? c.b : ch == 1 ? c.g : c.r; }

// src(x, y, ch) reads the original picture with replicated edges (channel 0 blue, 1 green,
// 2 red; a gray-ramp image has the level in all three).
using TSource = std::function<int(int, int, int)>;
using TFilterRef = std::function<int(const TSource& src, int x, int y, int ch)>;

// Checks a filter against a per-pixel reference at every depth, with and without a
// region: inside, each channel equals ref (palette images take the entry nearest to the
// reference colour); outside and in the alpha byte nothing changes.
inline void ExpectFilter(const char* what, const std::function<L_INT(BITMAPHANDLE*)>& op,
                         const TFilterRef& ref, int w = 13, int h = 9) {
    for (const Depth& d : AllDepths()) {
        for (bool region : {false, true}) {
            TOwnedBitmap b = RandomBitmap(w, h, d, uint32_t(d.bpp * 5 + region + 17));
            TOwnedBitmap before;
            ASSERT_EQ(L_CopyBitmap(before.get(), b.get()), SUCCESS);
            if (region) SetTwoRectRegion(b.get());
            ExpectSharedGetsTheSame(what, d, op, b.get(), before.get());
            const TSource src = [&](int x, int y, int ch) {
                return Channel(Clamped(before.get(), x, y), ch);
            };
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    const lt::BGRA old = At(before.get(), x, y), got = At(b.get(), x, y);
                    if (!Inside(b.get(), x, y)) {
                        ASSERT_EQ(got, old) << Where(what, d, region, x, y) << " (outside)";
                        continue;
                    }
                    lt::BGRA want{uint8_t(std::clamp(ref(src, x, y, 0), 0, 255)),
                                  uint8_t(std::clamp(ref(src, x, y, 1), 0, 255)),
                                  uint8_t(std::clamp(ref(src, x, y, 2), 0, 255)), old.a};
                    if (d.bpp <= 8 && !d.gray) {
                        const RGBQUAD* pal = before->pPalette;
                        ASSERT_EQ(IndexAt(b.get(), x, y),
                                  unsigned(lt::NearestPaletteIndex(pal, 1 << d.bpp, want.r, want.g,
                                                                   want.b)))
                            << Where(what, d, region, x, y);
                        continue;
                    }
                    if (d.bpp == 16) want = lt::Unpack16(lt::Pack16(want));
                    ASSERT_TRUE(Near(got, want, 0)) << Where(what, d, region, x, y);
                }
            }
        }
    }
}

} // namespace proctest
