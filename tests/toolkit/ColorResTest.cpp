// Colour depth conversion, palettes, dithering and gray scale.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "BitmapInternal.h"
#include "Region.h"
#include "TestBitmap.h"
#include "Toolkit.h"

namespace {

// The shared owner, used through & and -> like the handle itself.
struct Bmp : tb::Bmp {
    using tb::Bmp::Bmp;
    BITMAPHANDLE* operator->() { return &b; }
    BITMAPHANDLE* operator&() { return &b; }
};

void Put(BITMAPHANDLE* b, int x, int y, uint8_t r, uint8_t g, uint8_t bl, uint8_t a = 255) {
    lt::WritePixel(b, L_RowPtr(b, y), x, lt::BGRA{bl, g, r, a}, false);
}
lt::BGRA Get(const BITMAPHANDLE* b, int x, int y) { return lt::ReadPixel(b, L_RowPtr(b, y), x); }
unsigned Index(const BITMAPHANDLE* b, int x, int y) {
    return lt::ReadIndex(L_RowPtr(b, y), x, b->BitsPerPixel);
}
void PutIndex(BITMAPHANDLE* b, int x, int y, unsigned i) {
    lt::WriteIndex(L_RowPtr(b, y), x, b->BitsPerPixel, i);
}

bool SameColour(lt::BGRA a, lt::BGRA b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

double FractionSet(const BITMAPHANDLE* b) {
    long n = 0;
    for (int y = 0; y < b->Height; ++y)
        for (int x = 0; x < b->Width; ++x) n += Index(b, x, y);
    return double(n) / (double(b->Width) * b->Height);
}

const L_UINT kDitherMethods[] = {
    CRF_FLOYDSTEINDITHERING,    CRF_STUCKIDITHERING, CRF_BURKESDITHERING, CRF_SIERRADITHERING,
    CRF_STEVENSONARCEDITHERING, CRF_JARVISDITHERING, CRF_ORDEREDDITHERING};

std::vector<RGBQUAD> RandomPalette(std::mt19937& rng, int n) {
    std::vector<RGBQUAD> pal(256);
    for (int i = 0; i < n; ++i)
        pal[size_t(i)] = RGBQUAD{uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0};
    return pal;
}

} // namespace

// ---------------------------------------------------------------------------
// Palettes.

TEST(ColorPalette, ColourTablesAreRangeCheckedAndBackThePaintPalette) {
    Bmp b(4, 4, 4), t(4, 4, 24);
    const RGBQUAD in[3] = {{1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}};
    ASSERT_EQ(L_PutBitmapColors(&b, 13, 3, in), SUCCESS);
    RGBQUAD out[3];
    ASSERT_EQ(L_GetBitmapColors(&b, 13, 3, out), SUCCESS);
    EXPECT_EQ(std::memcmp(in, out, sizeof in), 0);
    // Ranges that run off either end of the table; an empty one at the end is fine.
    for (const bool put : {false, true}) {
        auto call = [&](int i, int n) {
            return put ? L_PutBitmapColors(&b, i, n, in) : L_GetBitmapColors(&b, i, n, out);
        };
        EXPECT_EQ(call(14, 3), ERROR_INV_RANGE);
        EXPECT_EQ(call(-1, 2), ERROR_INV_RANGE);
        EXPECT_EQ(call(0, -1), ERROR_INV_RANGE);
        EXPECT_EQ(call(16, 0), SUCCESS);
    }
    EXPECT_EQ(L_GetBitmapColors(&t, 0, 1, out), ERROR_BITPERPIXEL);
    EXPECT_EQ(L_PutBitmapColors(&t, 0, 1, in), ERROR_BITPERPIXEL);

    // Painting uses the bitmap's own colour table, or the fixed 8-bit palette above 8 bits.
    RGBQUAD fixed[256];
    L_GetFixedPalette(fixed, 8);
    for (BITMAPHANDLE* bmp : {&b, &t}) {
        HPALETTE h = L_CreatePaintPalette(nullptr, bmp);
        ASSERT_NE(h, nullptr);
        const bool own = bmp == &b;
        EXPECT_EQ(h->nColors, own ? 16u : 256u);
        EXPECT_EQ(std::memcmp(h->Entries, own ? b->pPalette : fixed, h->nColors * sizeof(RGBQUAD)),
                  0);
        L_DeletePaintPalette(h);
    }
    EXPECT_EQ(L_CreatePaintPalette(nullptr, nullptr), nullptr);
}

// ---------------------------------------------------------------------------
// Dithering.

TEST(ColorDither, OneBitResultsKeepTheBrightnessOfGrayAndGradients) {
    Bmp gray(96, 96, 24);
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 96; ++x) Put(&gray, x, y, 128, 128, 128);
    Bmp src(256, 64, 8); // the default 8-bit palette is not gray; give it a ramp
    for (int i = 0; i < 256; ++i) src->pPalette[i] = RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x) PutIndex(&src, x, y, unsigned(x));
    std::vector<std::vector<uint8_t>> results;
    for (L_UINT m : kDitherMethods) {
        Bmp half, out;
        ASSERT_EQ(L_ColorResBitmap(&gray, &half, 1, CRF_FIXEDPALETTE | m, nullptr, 0), SUCCESS);
        EXPECT_NEAR(FractionSet(&half), 0.5, 0.03) << "method " << std::hex << m;
        ASSERT_EQ(L_ColorResBitmap(&src, &out, 1, CRF_FIXEDPALETTE | m, nullptr, 0), SUCCESS);
        for (int band = 0; band < 8; ++band) {
            long set = 0;
            for (int y = 0; y < 64; ++y)
                for (int x = band * 32; x < band * 32 + 32; ++x) set += Index(&out, x, y);
            const double want = (band * 32 + 15.5) / 255.0;
            EXPECT_NEAR(double(set) / (32 * 64), want, 0.03)
                << "method " << std::hex << m << " band " << band;
        }
        results.emplace_back(out->Addr, out->Addr + out->Size);
    }
    // Each method has its own pattern.
    for (size_t i = 0; i < results.size(); ++i)
        for (size_t j = i + 1; j < results.size(); ++j)
            EXPECT_NE(results[i], results[j]) << i << " vs " << j;

    Bmp plain;
    ASSERT_EQ(L_ColorResBitmap(&src, &plain, 1, CRF_FIXEDPALETTE, nullptr, 0), SUCCESS);
    for (int x = 0; x < 256; ++x) EXPECT_EQ(Index(&plain, x, 10), x >= 128 ? 1u : 0u) << x;
}

TEST(ColorDither, EachChannelKeepsItsMeanOnTheFixedPalette) {
    // Error diffusion passes every channel's error on, so a flat colour keeps its mean; error
    // spread into the wrong channel shows as a cast. (Ordered dithering uses one step for all
    // channels of an arbitrary palette and does not promise this.)
    Bmp src(64, 64, 24);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) Put(&src, x, y, 200, 90, 30);
    for (L_UINT m : kDitherMethods) {
        if (m == CRF_ORDEREDDITHERING) continue;
        Bmp out;
        ASSERT_EQ(L_ColorResBitmap(&src, &out, 8, CRF_FIXEDPALETTE | m, nullptr, 0), SUCCESS);
        double r = 0, g = 0, b = 0;
        for (int y = 8; y < 64; ++y) // past the first rows, which the error has not yet reached
            for (int x = 0; x < 64; ++x) {
                const lt::BGRA c = Get(&out, x, y);
                r += c.r, g += c.g, b += c.b;
            }
        const double n = 56 * 64;
        EXPECT_NEAR(r / n, 200, 2) << std::hex << m;
        EXPECT_NEAR(g / n, 90, 2) << std::hex << m;
        EXPECT_NEAR(b / n, 30, 2) << std::hex << m;
    }
}

TEST(ColorDither, DitheringLeavesExactPaletteColoursAlone) {
    // Left half an off-palette colour that throws error around, right half a palette colour.
    std::mt19937 rng(7);
    std::vector<RGBQUAD> pal = RandomPalette(rng, 32);
    // Entry 5 and close neighbours, so that any error reaching the right half would tip it over.
    const RGBQUAD near[] = {{40, 90, 200, 0}, {40, 90, 204, 0}, {40, 90, 196, 0}, {40, 94, 200, 0},
                            {40, 86, 200, 0}, {44, 90, 200, 0}, {36, 90, 200, 0}};
    std::copy(std::begin(near), std::end(near), pal.begin() + 5);
    Bmp src(64, 32, 24);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x)
            if (x < 32)
                Put(&src, x, y, 77, 140, 13);
            else
                Put(&src, x, y, 200, 90, 40);
    for (L_UINT m : kDitherMethods) {
        Bmp out;
        ASSERT_EQ(L_ColorResBitmap(&src, &out, 8, CRF_USERPALETTE | m, pal.data(), 32), SUCCESS);
        for (int y = 0; y < 32; ++y)
            for (int x = 32; x < 64; ++x)
                ASSERT_EQ(Index(&out, x, y), 5u) << x << "," << y << " method " << m;
    }
}

// ---------------------------------------------------------------------------
// Palette targets.

TEST(ColorRes, NearestColourMatchesAnExhaustiveSearch) {
    std::mt19937 rng(11);
    for (int n : {2, 7, 256}) {
        std::vector<RGBQUAD> pal = RandomPalette(rng, n);
        if (n == 256) // crowd part of the palette into a small corner and repeat a colour
            for (int i = 0; i < 64; ++i)
                pal[size_t(i)] =
                    RGBQUAD{uint8_t(100 + i % 4), uint8_t(100 + i / 16), uint8_t(100 + i % 7), 0};
        Bmp src(128, 128, 24);
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 128; ++x)
                if (y < 64)
                    Put(&src, x, y, uint8_t(rng()), uint8_t(rng()), uint8_t(rng()));
                else
                    Put(&src, x, y, uint8_t(96 + rng() % 16), uint8_t(96 + rng() % 16),
                        uint8_t(96 + rng() % 16));
        Bmp out;
        ASSERT_EQ(L_ColorResBitmap(&src, &out, 8, CRF_USERPALETTE, pal.data(), L_UINT(n)), SUCCESS);
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 128; ++x) {
                lt::BGRA c = Get(&src, x, y);
                ASSERT_EQ(int(Index(&out, x, y)),
                          lt::NearestPaletteIndex(pal.data(), n, c.r, c.g, c.b))
                    << "palette of " << n << " at " << x << "," << y;
            }
    }
}

TEST(ColorRes, PaletteColoursSurviveATrueColourRoundTrip) {
    std::mt19937 rng(3);
    for (int bpp : {4, 8}) {
        const int n = 1 << bpp;
        std::vector<RGBQUAD> pal = RandomPalette(rng, n);
        Bmp src(77, 33, bpp, pal.data());
        for (int y = 0; y < 33; ++y)
            for (int x = 0; x < 77; ++x) PutIndex(&src, x, y, unsigned(rng()) % unsigned(n));
        for (int deep : {24, 32}) {
            Bmp mid, back;
            ASSERT_EQ(L_ColorResBitmap(&src, &mid, deep, CRF_BYTEORDERBGR, nullptr, 0), SUCCESS);
            ASSERT_EQ(L_ColorResBitmap(&mid, &back, bpp, CRF_USERPALETTE | CRF_FLOYDSTEINDITHERING,
                                       pal.data(), L_UINT(n)),
                      SUCCESS);
            for (int y = 0; y < 33; ++y)
                for (int x = 0; x < 77; ++x)
                    ASSERT_EQ(Index(&back, x, y), Index(&src, x, y)) << bpp << "/" << deep;
        }
    }
}

TEST(ColorRes, OptimizedPaletteKeepsEveryColourWhenTheyFit) {
    std::mt19937 rng(5);
    for (int bpp : {1, 4, 8}) {
        const int n = bpp == 8 ? 200 : 1 << bpp;
        // Colours in groups of four that differ only in the lowest bits, as in a smooth image.
        std::vector<RGBQUAD> colours = RandomPalette(rng, n);
        for (int i = 0; i < n; ++i) {
            colours[size_t(i)] = colours[size_t(i / 4 * 4)];
            colours[size_t(i)].rgbRed = uint8_t((colours[size_t(i)].rgbRed & 0xF8) | (i % 4));
        }
        Bmp src(101, 67, 24);
        for (int y = 0; y < 67; ++y)
            for (int x = 0; x < 101; ++x) {
                const RGBQUAD& q = colours[size_t((x * 7 + y * 13) % n)];
                Put(&src, x, y, q.rgbRed, q.rgbGreen, q.rgbBlue);
            }
        for (L_UINT flags :
             {CRF_OPTIMIZEDPALETTE | CRF_FLOYDSTEINDITHERING, L_UINT(CRF_NODITHERING)}) {
            Bmp out;
            ASSERT_EQ(L_ColorResBitmap(&src, &out, bpp, flags, nullptr, 0), SUCCESS);
            for (int y = 0; y < 67; ++y)
                for (int x = 0; x < 101; ++x)
                    ASSERT_TRUE(SameColour(Get(&out, x, y), Get(&src, x, y))) << bpp;
        }
    }
}

TEST(ColorRes, NetscapeAndIdentityPalettes) {
    Bmp src(6, 6, 24);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x)
            Put(&src, x, y, uint8_t(x * 51), uint8_t(y * 51), uint8_t((x + y) % 6 * 51));
    Bmp web;
    ASSERT_EQ(
        L_ColorResBitmap(&src, &web, 8, CRF_NETSCAPEPALETTE | CRF_FLOYDSTEINDITHERING, nullptr, 0),
        SUCCESS);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) EXPECT_TRUE(SameColour(Get(&web, x, y), Get(&src, x, y)));
    EXPECT_EQ(web->pPalette[215].rgbRed, 255);
    EXPECT_EQ(web->pPalette[43].rgbRed, 51); // 1 * 36 + 1 * 6 + 1
    EXPECT_EQ(web->pPalette[43].rgbBlue, 51);
    EXPECT_EQ(web->pPalette[216].rgbRed + web->pPalette[255].rgbBlue, 0);

    // A 4-bit source keeps its own palette and indices in an 8-bit result.
    std::mt19937 rng(9);
    std::vector<RGBQUAD> pal = RandomPalette(rng, 16);
    pal[3] = pal[9]; // even with a repeated colour
    Bmp four(10, 3, 4, pal.data());
    for (int x = 0; x < 10; ++x) PutIndex(&four, x, 1, unsigned(x));
    Bmp eight;
    ASSERT_EQ(L_ColorResBitmap(&four, &eight, 8, CRF_IDENTITYPALETTE | CRF_FLOYDSTEINDITHERING,
                               nullptr, 0),
              SUCCESS);
    EXPECT_EQ(std::memcmp(eight->pPalette, pal.data(), 16 * sizeof(RGBQUAD)), 0);
    for (int x = 0; x < 10; ++x) EXPECT_EQ(Index(&eight, x, 1), unsigned(x));
}

TEST(ColorRes, EveryPaletteKindAndMethodMapsOnlyToItsEntries) {
    std::mt19937 rng(21);
    const RGBQUAD five[5] = {
        {0, 0, 0, 0}, {255, 255, 255, 0}, {0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}};
    for (int from : {1, 4, 8, 16, 24, 32}) {
        Bmp src(13, 9, from);
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 13; ++x)
                Put(&src, x, y, uint8_t(rng()), uint8_t(rng()), uint8_t(rng()));
        for (int to : {1, 4, 8})
            for (L_UINT kind : {0u, L_UINT(CRF_FIXEDPALETTE), L_UINT(CRF_OPTIMIZEDPALETTE),
                                L_UINT(CRF_IDENTITYPALETTE), L_UINT(CRF_USERPALETTE),
                                L_UINT(CRF_NETSCAPEPALETTE)})
                for (L_UINT method = 0; method <= CRF_ORDEREDDITHERING; method += 0x10000) {
                    Bmp out;
                    ASSERT_EQ(L_ColorResBitmap(&src, &out, to, kind | method, five, 5), SUCCESS);
                    unsigned limit = 1u << to;
                    if (kind == CRF_USERPALETTE) limit = std::min(limit, 5u);
                    if (kind == CRF_NETSCAPEPALETTE && to == 8) limit = 216;
                    for (int y = 0; y < 9; ++y)
                        for (int x = 0; x < 13; ++x)
                            ASSERT_LT(Index(&out, x, y), limit)
                                << from << "->" << to << " " << std::hex << (kind | method);
                }
    }
}

// ---------------------------------------------------------------------------
// True-colour targets, alpha and the record.

TEST(ColorRes, BlackAndWhiteSurviveEveryDepthPair) {
    for (int from : {1, 4, 8, 16, 24, 32})
        for (int to : {1, 4, 8, 16, 24, 32}) {
            Bmp src(19, 7, from);
            for (int y = 0; y < 7; ++y)
                for (int x = 0; x < 19; ++x) {
                    const uint8_t v = (x + y) % 3 ? 255 : 0;
                    Put(&src, x, y, v, v, v);
                }
            Bmp out;
            ASSERT_EQ(L_ColorResBitmap(&src, &out, to, CRF_FIXEDPALETTE | CRF_FLOYDSTEINDITHERING,
                                       nullptr, 0),
                      SUCCESS);
            EXPECT_EQ(out->BitsPerPixel, to);
            for (int y = 0; y < 7; ++y)
                for (int x = 0; x < 19; ++x)
                    ASSERT_TRUE(SameColour(Get(&out, x, y), Get(&src, x, y)))
                        << from << " -> " << to << " at " << x;
        }
}

TEST(ColorRes, AlphaFollowsTheDepths) {
    Bmp src(256, 2, 32);
    for (int x = 0; x < 256; ++x) {
        Put(&src, x, 0, uint8_t(x), 7, 200, uint8_t(x));
        Put(&src, x, 1, 1, 2, 3, uint8_t(255 - x));
    }
    Bmp same;
    ASSERT_EQ(L_ColorResBitmap(&src, &same, 32, 0, nullptr, 0), SUCCESS);
    EXPECT_EQ(std::memcmp(same->Addr, src->Addr, src->Size), 0);

    Bmp rgb, opaque;
    ASSERT_EQ(L_ColorResBitmap(&src, &rgb, 24, 0, nullptr, 0), SUCCESS);
    ASSERT_EQ(L_ColorResBitmap(&rgb, &opaque, 32, 0, nullptr, 0), SUCCESS);
    for (int x = 0; x < 256; ++x) {
        EXPECT_EQ(Get(&opaque, x, 0).a, 255);
        EXPECT_TRUE(SameColour(Get(&opaque, x, 0), Get(&src, x, 0)));
    }

    Bmp sixteen, back;
    ASSERT_EQ(L_ColorResBitmap(&src, &sixteen, 16, 0, nullptr, 0), SUCCESS);
    ASSERT_EQ(L_ColorResBitmap(&sixteen, &back, 32, 0, nullptr, 0), SUCCESS);
    for (int x = 0; x < 256; ++x) {
        EXPECT_EQ(Get(&sixteen, x, 0).a, x >= 128 ? 255 : 0) << x;
        EXPECT_EQ(Get(&back, x, 0).a, x >= 128 ? 255 : 0) << x;
        EXPECT_EQ(Get(&back, x, 1).a, 255 - x >= 128 ? 255 : 0) << x;
        EXPECT_EQ(Get(&back, x, 0).r, (x & 0xF8) | (x >> 5)); // five bits widened again
    }
}

TEST(ColorRes, InPlaceAndSeparateResultsAgree) {
    std::mt19937 rng(1);
    Bmp src(123, 45, 24, nullptr, BOTTOM_LEFT);
    for (int y = 0; y < 45; ++y)
        for (int x = 0; x < 123; ++x)
            Put(&src, x, y, uint8_t(x * 2), uint8_t(y * 5 + rng() % 9), uint8_t(rng() % 256));
    src->XResolution = 300;
    src->YResolution = 150;
    Bmp before;
    ASSERT_EQ(L_CopyBitmap(&before, &src.b), SUCCESS);
    const LRegion region{{{2, 3, 40}, {3, 0, 123}}};
    src->pRgn = new LRegion(region);

    for (int bpp : {1, 4, 8, 16, 32}) {
        Bmp copy, separate;
        ASSERT_EQ(L_CopyBitmap(&copy, &before.b), SUCCESS);
        copy->pRgn = new LRegion(region);
        const L_UINT flags = CRF_OPTIMIZEDPALETTE | CRF_FLOYDSTEINDITHERING;
        ASSERT_EQ(L_ColorResBitmap(&src, &separate, bpp, flags, nullptr, 0), SUCCESS);
        HRGN oldRegion = copy->pRgn;
        ASSERT_EQ(L_ColorResBitmap(&copy, &copy, bpp, flags, nullptr, 0), SUCCESS);

        for (BITMAPHANDLE* r : {&separate.b, &copy.b}) {
            EXPECT_EQ(r->BitsPerPixel, bpp);
            EXPECT_EQ(r->Width, 123);
            EXPECT_EQ(r->XResolution, 300);
            EXPECT_EQ(r->YResolution, 150);
            ASSERT_NE(r->pRgn, nullptr);
            ASSERT_EQ(r->pRgn->spans.size(), 2u);
            EXPECT_EQ(r->pRgn->spans[1].x1, 123);
        }
        EXPECT_EQ(copy->pRgn, oldRegion);
        EXPECT_NE(separate->pRgn, src->pRgn);
        for (int y = 0; y < 45; ++y) {
            ASSERT_EQ(std::memcmp(L_RowPtr(&separate.b, y), L_RowPtr(&copy.b, y),
                                  size_t(separate->BytesPerLine)),
                      0)
                << bpp;
            ASSERT_EQ(
                std::memcmp(L_RowPtr(&src.b, y), L_RowPtr(&before.b, y), size_t(src->BytesPerLine)),
                0);
        }
        if (bpp <= 8) {
            EXPECT_EQ(std::memcmp(separate->pPalette, copy->pPalette, 256 * sizeof(RGBQUAD)), 0);
        }
    }
}

TEST(ColorRes, RefusesBadRequestsWithoutTouchingTheDestination) {
    Bmp src(4, 4, 24);
    BITMAPHANDLE dst;
    dst.Width = 77;
    EXPECT_EQ(L_ColorResBitmap(nullptr, &dst, 8, 0, nullptr, 0), ERROR_NO_BITMAP);
    EXPECT_EQ(L_ColorResBitmap(&src.b, nullptr, 8, 0, nullptr, 0), ERROR_NO_BITMAP);
    EXPECT_EQ(L_ColorResBitmap(&src.b, &dst, 7, 0, nullptr, 0), ERROR_BITPERPIXEL);
    EXPECT_EQ(L_ColorResBitmap(&src.b, &dst, 8, CRF_USERPALETTE, nullptr, 4), ERROR_INV_PARAMETER);
    BITMAPHANDLE lying = src.b;
    lying.Height = 400; // more rows than its pixel block holds
    EXPECT_EQ(L_ColorResBitmap(&lying, &dst, 8, 0, nullptr, 0), ERROR_INV_PARAMETER);
    EXPECT_EQ(dst.Width, 77);
}

namespace {
int g_calls = 0;
L_INT CancelAtOnce(L_INT, void*) {
    ++g_calls;
    return ERROR_USER_ABORT;
}
} // namespace

TEST(ColorRes, CancellingLeavesTheBitmapAsItWas) {
    Bmp b(64, 64, 24);
    Put(&b, 3, 3, 9, 8, 7);
    STATUSCALLBACK old = nullptr;
    void* oldUser = nullptr;
    L_SetStatusCallBack(CancelAtOnce, nullptr, &old, &oldUser);
    const L_INT rc = L_ColorResBitmap(&b.b, &b.b, 8, CRF_FLOYDSTEINDITHERING, nullptr, 0);
    L_SetStatusCallBack(old, oldUser);
    EXPECT_EQ(rc, ERROR_USER_ABORT);
    EXPECT_GT(g_calls, 0);
    EXPECT_EQ(b->BitsPerPixel, 24);
    EXPECT_EQ(Get(&b.b, 3, 3).r, 9);
}

// ---------------------------------------------------------------------------
// Gray.

namespace {
L_INT KeepGoing(L_INT, void*) { return SUCCESS; }
} // namespace

// Deep images turn gray inside their own block when nothing can cancel, in a fresh one
// otherwise or when another record shares the block (which keeps its pixels): all give
// every row, its padding and either row order the same result.
TEST(ColorGray, GrayScaleOfDeepImagesMatchesTheWeightsInEveryRowWithOrWithoutACallback) {
    std::mt19937 rng(4);
    for (int bpp : {24, 32})
        for (int view : {TOP_LEFT, BOTTOM_LEFT})
            for (int w : {1, 5, 67})
                for (bool callback : {false, true})
                    for (bool shared : {false, true}) {
                        Bmp b(w, 4, bpp, nullptr, view);
                        for (int y = 0; y < 4; ++y)
                            for (int x = 0; x < w; ++x)
                                Put(&b, x, y, uint8_t(rng()), uint8_t(rng()), uint8_t(rng()));
                        Bmp before;
                        ASSERT_EQ(L_CopyBitmap(&before, &b.b), SUCCESS);
                        b->pRgn = new LRegion(LRegion{{{0, 1, 2}}}); // kept as it is
                        HRGN region = b->pRgn;
                        Bmp other;
                        if (shared) {
                            ASSERT_EQ(L_ShareBitmap(&other.b, &b.b), SUCCESS);
                        }
                        L_SetStatusCallBack(callback ? KeepGoing : nullptr, nullptr);
                        ASSERT_EQ(L_GrayScaleBitmap(&b), SUCCESS);
                        L_SetStatusCallBack(nullptr, nullptr);
                        if (shared) {
                            EXPECT_TRUE(other.Same(before));
                        }
                        ASSERT_EQ(b->BitsPerPixel, 8);
                        EXPECT_EQ(b->pRgn, region);
                        EXPECT_EQ(L_IsGrayScaleBitmap(&b), GRAY_ORDEREDNORMAL);
                        ASSERT_GE(b->Size, size_t(b->BytesPerLine) * 4);
                        for (int y = 0; y < 4; ++y) {
                            for (int x = 0; x < w; ++x) {
                                const lt::BGRA c = Get(&before, x, y);
                                ASSERT_EQ(Index(&b, x, y),
                                          (c.r * 77u + c.g * 150u + c.b * 29u + 128) >> 8)
                                    << bpp << " bits, " << w << " wide, row " << y;
                            }
                            for (int x = w; x < b->BytesPerLine; ++x)
                                ASSERT_EQ(L_RowPtr(&b.b, y)[x], 0) << "padding of row " << y;
                        }
                    }
}

TEST(ColorGray, GrayScaleOfAGrayImageOnlyReordersItsPalette) {
    RGBQUAD reversed[256];
    for (int i = 0; i < 256; ++i)
        reversed[i] = RGBQUAD{uint8_t(255 - i), uint8_t(255 - i), uint8_t(255 - i), 0};
    Bmp b(16, 16, 8, reversed);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) PutIndex(&b, x, y, unsigned(y * 16 + x));
    EXPECT_EQ(L_IsGrayScaleBitmap(&b), GRAY_ORDEREDINVERSE);
    ASSERT_EQ(L_GrayScaleBitmap(&b), SUCCESS);
    EXPECT_EQ(L_IsGrayScaleBitmap(&b), GRAY_ORDEREDNORMAL);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) EXPECT_EQ(Get(&b, x, y).r, 255 - (y * 16 + x));
    EXPECT_EQ(L_GrayScaleBitmap(&b, 4), ERROR_BITPERPIXEL);
}

TEST(ColorGray, GrayDetection) {
    Bmp one(2, 2, 1);
    EXPECT_EQ(L_IsGrayScaleBitmap(&one), GRAY_ORDEREDNORMAL);
    Bmp four(2, 2, 4);
    EXPECT_EQ(L_IsGrayScaleBitmap(&four), GRAY_NO); // VGA colours
    for (int i = 0; i < 16; ++i)
        four->pPalette[i] = RGBQUAD{uint8_t(i * 17), uint8_t(i * 17), uint8_t(i * 17), 0};
    EXPECT_EQ(L_IsGrayScaleBitmap(&four), GRAY_ORDEREDNORMAL);
    std::swap(four->pPalette[2], four->pPalette[9]);
    EXPECT_EQ(L_IsGrayScaleBitmap(&four), GRAY_NOTORDERED);

    for (int bpp : {16, 24, 32}) {
        Bmp deep(9, 9, bpp);
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 9; ++x)
                Put(&deep, x, y, uint8_t(x * 28), uint8_t(x * 28), uint8_t(x * 28));
        EXPECT_EQ(L_IsGrayScaleBitmap(&deep), GRAY_NOTORDERED) << bpp;
        Put(&deep, 8, 8, 0, 0, 200);
        EXPECT_EQ(L_IsGrayScaleBitmap(&deep), GRAY_NO) << bpp;
    }
}
