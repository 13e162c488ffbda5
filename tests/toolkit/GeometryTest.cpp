// Resizing, rotation, shearing, mirroring and row order of bitmaps.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <random>

#include "Processing.h"
#include "TestBitmap.h"
#include "Toolkit.h"

namespace {

using tb::Bmp;
using tb::PutRaw;
using tb::Raw;

constexpr int kDepths[] = {1, 4, 8, 16, 24, 32};
constexpr int kPerspectives[] = {TOP_LEFT, BOTTOM_LEFT};

// Random stored values (every value possible) with a random palette and unequal resolutions.
void MakeNoise(Bmp& m, int w, int h, int bpp, int vp = TOP_LEFT) {
    std::mt19937 rng(unsigned(w * 131 + h * 7 + bpp));
    RGBQUAD pal[256];
    for (RGBQUAD& q : pal) q = RGBQUAD{uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0};
    ASSERT_EQ(L_CreateBitmap(&m.b, TYPE_CONV, w, h, bpp, ORDER_BGR, bpp <= 8 ? pal : nullptr, vp),
              SUCCESS);
    const uint32_t mask = bpp == 32 ? 0xFFFFFFFFu : (1u << bpp) - 1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) PutRaw(m.b, x, y, rng() & mask);
    m.b.XResolution = 150;
    m.b.YResolution = 300;
}

void MakeFlat(Bmp& m, int w, int h, int bpp, uint32_t stored, const RGBQUAD* pal = nullptr) {
    ASSERT_EQ(L_CreateBitmap(&m.b, TYPE_CONV, w, h, bpp, ORDER_BGR, pal, TOP_LEFT), SUCCESS);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) PutRaw(m.b, x, y, stored);
}

using Mapping = std::function<bool(int x, int y, int* sx, int* sy)>; // false: uncovered

// Every pixel of `out` is the source pixel the mapping names, or `fill` where uncovered;
// with regions, region membership follows the same mapping.
void ExpectMapped(const BITMAPHANDLE& out, const BITMAPHANDLE& src, const Mapping& map,
                  uint32_t fill = 0) {
    for (int y = 0; y < out.Height; ++y) {
        for (int x = 0; x < out.Width; ++x) {
            int sx = 0, sy = 0;
            const bool covered = map(x, y, &sx, &sy);
            ASSERT_EQ(Raw(out, x, y), covered ? Raw(src, sx, sy) : fill)
                << "pixel " << x << "," << y << " at " << out.BitsPerPixel << " bits";
            if (src.pRgn) {
                ASSERT_EQ(L_IsPtInBitmapRgn(&out, y, x),
                          covered ? L_IsPtInBitmapRgn(&src, sy, sx) : 0)
                    << "region at " << x << "," << y;
            }
        }
    }
}

// An L-shaped region with a separate dot, so that any mirror or turn of it is
// distinguishable and some rows hold two spans.
void SetLRegion(BITMAPHANDLE& b) {
    RECT bar{1, 0, 4, 2}, stem{1, 2, 2, 5}, dot{3, 3, 5, 4};
    ASSERT_EQ(L_SetBitmapRgnRect(&b, nullptr, &bar, L_RGN_SET), SUCCESS);
    ASSERT_EQ(L_SetBitmapRgnRect(&b, nullptr, &stem, L_RGN_OR), SUCCESS);
    ASSERT_EQ(L_SetBitmapRgnRect(&b, nullptr, &dot, L_RGN_OR), SUCCESS);
}

} // namespace

TEST(GeometryRotate, QuarterAndFullTurnsMovePixelsExactlyAtEveryDepth) {
    for (int bpp : kDepths)
        for (int vp : kPerspectives)
            for (int angle : {9000, 18000, 27000, -9000, 0, 36000, -36000, 72000}) {
                Bmp src, out;
                MakeNoise(src, 7, 5, bpp, vp);
                SetLRegion(src.b);
                ASSERT_EQ(L_CopyBitmap(&out.b, &src.b), SUCCESS);
                // Resampling must not blur quarter turns.
                ASSERT_EQ(L_RotateBitmap(&out.b, angle, ROTATE_RESIZE | ROTATE_RESAMPLE, 0),
                          SUCCESS);
                const int W = 7, H = 5, turns = ((angle / 9000) % 4 + 4) % 4;
                EXPECT_EQ(out.b.Width, turns % 2 ? H : W);
                EXPECT_EQ(out.b.Height, turns % 2 ? W : H);
                EXPECT_EQ(out.b.XResolution, turns % 2 ? 300 : 150);
                EXPECT_EQ(out.b.ViewPerspective, vp);
                if (bpp <= 8) {
                    EXPECT_EQ(std::memcmp(out.b.pPalette, src.b.pPalette, sizeof(RGBQUAD) << bpp),
                              0);
                }
                ExpectMapped(out.b, src.b, [&](int x, int y, int* sx, int* sy) {
                    if (turns == 1)
                        *sx = y, *sy = H - 1 - x; // clockwise: the top row becomes the right column
                    else if (turns == 2)
                        *sx = W - 1 - x, *sy = H - 1 - y;
                    else if (turns == 3)
                        *sx = W - 1 - y, *sy = x;
                    else
                        *sx = x, *sy = y;
                    return true;
                });
            }
}

TEST(GeometryRotate, QuarterTurnWithoutResizeKeepsSizeAndCentre) {
    for (int bpp : {4, 24}) {
        Bmp src, out;
        MakeNoise(src, 9, 4, bpp);
        ASSERT_EQ(L_CopyBitmap(&out.b, &src.b), SUCCESS);
        const COLORREF fill = bpp == 4 ? PALETTEINDEX(3) : RGB(1, 2, 3);
        ASSERT_EQ(L_RotateBitmap(&out.b, 9000, 0, fill), SUCCESS);
        ASSERT_EQ(out.b.Width, 9);
        ASSERT_EQ(out.b.Height, 4);
        // The turned 4 x 9 image sits centred: offset 2.5 columns and -2.5 rows, rounded either way.
        int matches = 0;
        for (int ox : {2, 3})
            for (int oy : {-3, -2}) {
                bool ok = true;
                for (int y = 0; y < 4 && ok; ++y)
                    for (int x = 0; x < 9 && ok; ++x) {
                        int rx = x - ox, ry = y - oy; // in the turned image, 4 wide and 9 high
                        uint32_t want = (rx >= 0 && rx < 4 && ry >= 0 && ry < 9)
                                            ? Raw(src.b, ry, 3 - rx)
                                            : (bpp == 4 ? 3u : 0x010203u);
                        ok = Raw(out.b, x, y) == want;
                    }
                matches += ok;
            }
        EXPECT_EQ(matches, 1) << bpp;
    }
}

TEST(GeometryRotate, ResizeGrowsToTheRotatedBoxAndResamplingSmoothsEdges) {
    struct Case {
        int w, h, angle, ew, eh;
    };
    for (L_UINT resample : {0u, unsigned(ROTATE_RESAMPLE)})
        for (Case c : {Case{100, 50, 3000, 112, 94}, Case{100, 50, -3000, 112, 94},
                       Case{100, 50, 15000, 112, 94}, Case{10, 10, 4500, 15, 15}}) {
            Bmp b;
            MakeFlat(b, c.w, c.h, 32, 0xFF10C80Au);
            ASSERT_EQ(L_RotateBitmap(&b.b, c.angle, ROTATE_RESIZE | resample, RGB(200, 100, 50)),
                      SUCCESS);
            EXPECT_EQ(b.b.Width, c.ew) << c.angle;
            EXPECT_EQ(b.b.Height, c.eh) << c.angle;
            // Uncovered corners are transparent fill colour; the middle is the image.
            EXPECT_EQ(Raw(b.b, 0, 0), 0x00C86432u);
            EXPECT_EQ(Raw(b.b, b.b.Width / 2, b.b.Height / 2), 0xFF10C80Au);
            int partial = 0;
            for (int y = 0; y < b.b.Height; ++y)
                for (int x = 0; x < b.b.Width; ++x) partial += (Raw(b.b, x, y) >> 24) % 255 != 0;
            // Resampled slanted edges fade out instead of stepping; nearest neighbour never blends.
            EXPECT_TRUE(resample ? c.w < 100 || partial > 40 : partial == 0)
                << c.angle << ": " << partial;
        }
    Bmp same;
    MakeFlat(same, 100, 50, 24, 0);
    ASSERT_EQ(L_RotateBitmap(&same.b, 3000, 0, 0), SUCCESS);
    EXPECT_EQ(same.b.Width, 100);
    EXPECT_EQ(same.b.Height, 50);

    // Palette bitmaps come back at their depth and palette; the fill index is kept.
    RGBQUAD gray[256];
    for (int i = 0; i < 256; ++i) gray[i] = RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    Bmp p;
    MakeFlat(p, 40, 30, 8, 77, gray);
    ASSERT_EQ(L_RotateBitmap(&p.b, 3000, ROTATE_RESIZE | ROTATE_RESAMPLE, PALETTEINDEX(200)),
              SUCCESS);
    EXPECT_EQ(p.b.BitsPerPixel, 8);
    EXPECT_EQ(std::memcmp(p.b.pPalette, gray, sizeof gray), 0);
    EXPECT_EQ(Raw(p.b, p.b.Width / 2, p.b.Height / 2), 77u);
    EXPECT_EQ(Raw(p.b, 0, 0), 200u);
}

TEST(GeometryRotate, PositiveAnglesTurnClockwise) {
    for (L_UINT flags : {0u, unsigned(ROTATE_RESAMPLE)}) {
        Bmp b;
        MakeFlat(b, 41, 41, 24, 0);
        for (int y = 19; y <= 21; ++y)
            for (int x = 29; x <= 31; ++x) PutRaw(b.b, x, y, 0xFFFFFF); // right of the centre
        ASSERT_EQ(L_RotateBitmap(&b.b, 4500, flags, 0), SUCCESS);
        EXPECT_EQ(Raw(b.b, 27, 27), 0xFFFFFFu); // now below right
        EXPECT_EQ(Raw(b.b, 27, 13), 0u);
        EXPECT_EQ(Raw(b.b, 30, 20), 0u);
    }
}

TEST(GeometryRotate, AnyAngleCoversTheWholeImageOnce) {
    // Nearest neighbour only moves pixels: with index 0 reserved for the fill, every output
    // pixel is the fill or a source value, and the covered area matches the source area
    // up to the pixels along its outline.
    std::mt19937 rng(7);
    for (int i = 0; i < 300; ++i) {
        const int w = 1 + int(rng() % 23), h = 1 + int(rng() % 17),
                  angle = int(rng() % 72001) - 36000;
        Bmp b;
        MakeFlat(b, w, h, 8, 1);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) PutRaw(b.b, x, y, 1 + (x * 7 + y * 13) % 255);
        const bool resize = rng() & 1;
        const L_UINT sizeFlag = resize ? L_UINT(ROTATE_RESIZE) : 0u;
        ASSERT_EQ(L_RotateBitmap(&b.b, angle, sizeFlag, PALETTEINDEX(0)), SUCCESS);
        int covered = 0;
        for (int y = 0; y < b.b.Height; ++y)
            for (int x = 0; x < b.b.Width; ++x) covered += Raw(b.b, x, y) != 0;
        if (resize) {
            EXPECT_NEAR(covered, w * h, 2 * (w + h)) << w << "x" << h << " at " << angle;
        } else {
            EXPECT_LE(covered, w * h + 2 * (w + h));
        }
        // The filtered path must stay inside the source as well (checked by the sanitizer build).
        Bmp c;
        MakeNoise(c, w, h, int(std::array{1, 4, 8, 16, 24, 32}[rng() % 6]));
        ASSERT_EQ(L_RotateBitmap(&c.b, angle, ROTATE_RESAMPLE | sizeFlag, RGB(1, 2, 3)), SUCCESS);
        ASSERT_EQ(L_SizeBitmap(&c.b, 1 + int(rng() % 30), 1 + int(rng() % 30),
                               rng() % 2 ? SIZE_BICUBIC : SIZE_RESAMPLE),
                  SUCCESS);
    }
}

// Tall pictures are turned by several threads, each with its own rows: the result must be
// the one a single thread gives, at a depth written through a palette and at 32 bits.
TEST(GeometryRotate, ThreadsGiveTheSamePixelsAsOne) {
    for (int bpp : {8, 32}) {
        for (L_UINT flags : {L_UINT(ROTATE_RESAMPLE | ROTATE_RESIZE), L_UINT(ROTATE_RESIZE)}) {
            Bmp one, two;
            MakeNoise(one, 90, 700, bpp);
            MakeNoise(two, 90, 700, bpp);
            L_SetProcessingThreads(1);
            ASSERT_EQ(L_RotateBitmap(&one.b, 1234, flags, RGB(9, 8, 7)), SUCCESS);
            L_SetProcessingThreads(2);
            ASSERT_EQ(L_RotateBitmap(&two.b, 1234, flags, RGB(9, 8, 7)), SUCCESS);
            L_SetProcessingThreads(0);
            ASSERT_EQ(one.b.Size, two.b.Size);
            EXPECT_EQ(std::memcmp(one.b.Addr, two.b.Addr, one.b.Size), 0) << bpp << " bits";
        }
    }
}

TEST(GeometryMirror, FlipAndReverseMirrorPixels) {
    for (int bpp : kDepths)
        for (int vp : kPerspectives)
            for (int w : {13, 8}) {
                const int h = 5;
                Bmp src, b, r;
                MakeNoise(src, w, h, bpp, vp);
                SetLRegion(src.b);
                ASSERT_EQ(L_CopyBitmap(&b.b, &src.b), SUCCESS);
                ASSERT_EQ(L_CopyBitmap(&r.b, &src.b), SUCCESS);
                ASSERT_EQ(L_FlipBitmap(&b.b), SUCCESS);
                ExpectMapped(b.b, src.b, [&](int x, int y, int* sx, int* sy) {
                    return *sx = x, *sy = h - 1 - y, true;
                });
                ASSERT_EQ(L_ReverseBitmap(&r.b), SUCCESS);
                ExpectMapped(r.b, src.b, [&](int x, int y, int* sx, int* sy) {
                    return *sx = w - 1 - x, *sy = y, true;
                });
            }
}

TEST(GeometrySize, NearestNeighbourDuplicatesOrPicksPixelsAtEveryDepth) {
    for (int bpp : kDepths)
        for (int vp : kPerspectives) {
            Bmp src, up, down;
            MakeNoise(src, 9, 6, bpp, vp);
            SetLRegion(src.b);
            ASSERT_EQ(L_CopyBitmap(&up.b, &src.b), SUCCESS);
            ASSERT_EQ(L_SizeBitmap(&up.b, 18, 12, SIZE_NORMAL), SUCCESS);
            EXPECT_EQ(up.b.YResolution, 300);
            ExpectMapped(up.b, src.b, [](int x, int y, int* sx, int* sy) {
                return *sx = x / 2, *sy = y / 2, true;
            });
            // Halving samples the source pixel under each destination pixel's centre.
            ASSERT_EQ(L_CopyBitmap(&down.b, &src.b), SUCCESS);
            ASSERT_EQ(L_SizeBitmap(&down.b, 4, 3, SIZE_NORMAL), SUCCESS);
            ExpectMapped(down.b, src.b, [](int x, int y, int* sx, int* sy) {
                return *sx = 2 * x + 1, *sy = 2 * y + 1, true;
            });
        }
}

TEST(GeometrySize, AreaShrinkOfCheckerboardGivesGray) {
    RGBQUAD gray[256];
    for (int i = 0; i < 256; ++i) gray[i] = RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    for (int bpp : {8, 24, 32})
        for (auto [w, h, lo, hi] : {std::array{16, 12, 127, 128}, std::array{10, 7, 100, 155}}) {
            Bmp b;
            MakeFlat(b, 64, 48, bpp, 0, bpp == 8 ? gray : nullptr);
            for (int y = 0; y < 48; ++y)
                for (int x = 0; x < 64; ++x)
                    if ((x + y) & 1) PutRaw(b.b, x, y, bpp == 8 ? 255u : 0xFFFFFFFFu);
            ASSERT_EQ(L_ResampleBitmap(&b.b, w, h), SUCCESS);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const uint32_t v = Raw(b.b, x, y);
                    for (int c = 0; c < bpp / 8; ++c) {
                        const int ch = int((v >> (8 * c)) & 255);
                        ASSERT_GE(ch, lo) << bpp << " bits, " << w << " wide";
                        ASSERT_LE(ch, hi) << bpp << " bits, " << w << " wide";
                    }
                }
        }
}

TEST(GeometrySize, ResamplingKeepsAFlatColourExactly) {
    RGBQUAD pal[256] = {};
    pal[1] = RGBQUAD{40, 90, 200, 0};
    struct Depth {
        int bpp;
        uint32_t stored;
    };
    for (Depth d : {Depth{32, 0x4DC85A28u}, Depth{24, 0xC85A28u},
                    Depth{16, 0x8000u | (25u << 10) | (11u << 5) | 5u}, Depth{8, 1u}, Depth{4, 1u},
                    Depth{1, 1u}})
        for (L_UINT flags : {unsigned(SIZE_RESAMPLE), unsigned(SIZE_BICUBIC)})
            for (auto [w, h] : {std::pair{11, 7}, std::pair{80, 61}, std::pair{60, 10}}) {
                Bmp b;
                MakeFlat(b, 37, 23, d.bpp, d.stored, pal);
                ASSERT_EQ(L_SizeBitmap(&b.b, w, h, flags), SUCCESS);
                ASSERT_EQ(b.b.Width, w);
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        ASSERT_EQ(Raw(b.b, x, y), d.stored) << d.bpp << " bits " << w << "x" << h;
            }
}

TEST(GeometrySize, BilinearEnlargeInterpolatesBetweenPixels) {
    Bmp b;
    MakeFlat(b, 2, 1, 24, 0);
    PutRaw(b.b, 1, 0, 0xFFFFFF);
    ASSERT_EQ(L_ResampleBitmap(&b.b, 8, 3), SUCCESS);
    for (int y = 0; y < 3; ++y) {
        EXPECT_EQ(Raw(b.b, 0, y), 0u);
        EXPECT_EQ(Raw(b.b, 7, y), 0xFFFFFFu);
        for (int x = 1; x < 8; ++x) EXPECT_GE(Raw(b.b, x, y) & 255, Raw(b.b, x - 1, y) & 255);
        EXPECT_EQ((Raw(b.b, 3, y) & 255) + (Raw(b.b, 4, y) & 255),
                  255u); // symmetric around the middle
        EXPECT_GT(Raw(b.b, 3, y) & 255, 0u);
    }
}

TEST(GeometrySize, FavorBlackKeepsThinLinesOfOneBitImages) {
    const RGBQUAD bw[2] = {RGBQUAD{0, 0, 0, 0}, RGBQUAD{255, 255, 255, 0}};
    for (L_UINT flags : {unsigned(SIZE_NORMAL), unsigned(SIZE_FAVORBLACK)}) {
        Bmp b;
        MakeFlat(b, 64, 64, 1, 1, bw);
        for (int y = 0; y < 64; ++y)
            PutRaw(b.b, 9, y, 0); // a black line nearest neighbour steps over
        ASSERT_EQ(L_SizeBitmap(&b.b, 16, 16, flags), SUCCESS);
        int black = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) black += Raw(b.b, x, y) == 0;
        EXPECT_EQ(black, flags == SIZE_FAVORBLACK ? 16 : 0);
        if (flags == SIZE_FAVORBLACK) {
            EXPECT_EQ(Raw(b.b, 2, 5), 0u);
        }
    }
}

TEST(GeometryShear, ShearGrowsTheBitmapAndShiftsLines) {
    for (int bpp : kDepths) {
        Bmp src;
        MakeNoise(src, 7, 4, bpp, BOTTOM_LEFT);
        SetLRegion(src.b);
        const COLORREF fill = bpp <= 8 ? PALETTEINDEX(1) : RGB(1, 2, 3);
        const uint32_t stored =
            bpp <= 8 ? 1u : (bpp == 16 ? 0x8000u : (bpp == 24 ? 0x010203u : 0x00010203u));
        struct Case {
            int angle;
            bool horizontal;
            int w, h;
        };
        for (Case c : {Case{4500, true, 11, 4}, Case{-4500, true, 11, 4}, Case{4500, false, 7, 11},
                       Case{2000, true, 9, 4}}) {
            Bmp b;
            ASSERT_EQ(L_CopyBitmap(&b.b, &src.b), SUCCESS);
            ASSERT_EQ(L_ShearBitmap(&b.b, c.angle, c.horizontal, fill), SUCCESS);
            ASSERT_EQ(b.b.Width, c.w);
            ASSERT_EQ(b.b.Height, c.h);
            if (c.angle == 2000) continue; // only the growth is checked for a fractional slope
            ExpectMapped(
                b.b, src.b,
                [&](int x, int y, int* sx, int* sy) {
                    if (c.horizontal)
                        *sx = x - (c.angle > 0 ? y : 3 - y), *sy = y;
                    else
                        *sx = x, *sy = y - x;
                    return *sx >= 0 && *sx < 7 && *sy >= 0 && *sy < 4;
                },
                stored);
        }
    }
    Bmp b;
    MakeNoise(b, 7, 4, 24);
    EXPECT_EQ(L_ShearBitmap(&b.b, 4501, true, 0), ERROR_INV_PARAMETER);
    EXPECT_EQ(L_ShearBitmap(&b.b, -4501, false, 0), ERROR_INV_PARAMETER);
    EXPECT_EQ(b.b.Width, 7);
}

TEST(GeometryViewPerspective, ChangingRowOrderKeepsTheVisibleImage) {
    for (int bpp : kDepths) {
        Bmp src, copy;
        MakeNoise(src, 11, 5, bpp, BOTTOM_LEFT);
        SetLRegion(src.b);
        std::memset(static_cast<void*>(&copy.b), 0x5A,
                    sizeof copy.b); // old content of dst is ignored
        ASSERT_EQ(L_ChangeBitmapViewPerspective(&copy.b, &src.b, 0), SUCCESS);
        EXPECT_EQ(copy.b.ViewPerspective, TOP_LEFT);
        EXPECT_EQ(std::memcmp(copy.b.Addr, src.b.Addr + 4 * size_t(src.b.BytesPerLine),
                              size_t(src.b.BytesPerLine)),
                  0);
        auto same = [&](const BITMAPHANDLE& a) {
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 11; ++x) {
                    ASSERT_EQ(Raw(a, x, y), Raw(src.b, x, y));
                    ASSERT_EQ(L_GetPixelColor(&a, y, x), L_GetPixelColor(&src.b, y, x));
                    ASSERT_EQ(L_IsPtInBitmapRgn(&a, y, x), L_IsPtInBitmapRgn(&src.b, y, x));
                }
        };
        same(copy.b);
        ASSERT_EQ(L_ChangeBitmapViewPerspective(nullptr, &copy.b, BOTTOM_LEFT), SUCCESS);
        EXPECT_EQ(copy.b.ViewPerspective, BOTTOM_LEFT);
        EXPECT_EQ(std::memcmp(copy.b.Addr, src.b.Addr, src.b.Size), 0);
        same(copy.b);
        ASSERT_EQ(L_ChangeBitmapViewPerspective(&copy.b, &copy.b, TOP_LEFT), SUCCESS);
        same(copy.b);
        EXPECT_EQ(L_ChangeBitmapViewPerspective(nullptr, &copy.b, 2), ERROR_INV_PARAMETER);
    }
}

namespace {
int g_statusCalls = 0;
L_INT CancelSecondReport(L_INT, void*) { return ++g_statusCalls >= 2 ? 0 : SUCCESS; }
} // namespace

TEST(GeometryErrors, FailuresLeaveTheBitmapUnchanged) {
    Bmp b;
    MakeNoise(b, 40, 30, 24);
    SetLRegion(b.b);
    const BITMAPHANDLE before = b.b;
    const std::vector<uint8_t> pixels(b.b.Addr, b.b.Addr + b.b.Size);
    auto unchanged = [&] {
        EXPECT_EQ(b.b.Addr, before.Addr);
        EXPECT_EQ(b.b.pRgn, before.pRgn);
        EXPECT_EQ(b.b.Width, 40);
        EXPECT_EQ(std::vector<uint8_t>(b.b.Addr, b.b.Addr + b.b.Size), pixels);
    };
    const L_INT side = L_GetLimits().MaxSide;
    for (auto [w, h] : {std::pair{0, 10}, std::pair{10, -1}, std::pair{side + 1, 10}})
        for (L_UINT flags : {unsigned(SIZE_NORMAL), unsigned(SIZE_RESAMPLE)})
            EXPECT_EQ(L_SizeBitmap(&b.b, w, h, flags), ERROR_INV_RANGE);
    unchanged();

    L_LIMITS small = L_GetLimits(), saved = small;
    small.MaxSide = 45;
    L_SetLimits(small);
    EXPECT_EQ(L_RotateBitmap(&b.b, 4500, ROTATE_RESIZE, 0), ERROR_INV_RANGE); // would need 50 x 50
    EXPECT_EQ(L_ShearBitmap(&b.b, 4500, true, 0), ERROR_INV_RANGE);           // would need 70 wide
    L_SetLimits(saved);
    unchanged();

    // A cancel from the status callback aborts without touching the bitmap.
    g_statusCalls = 0;
    L_SetStatusCallBack(CancelSecondReport, nullptr);
    EXPECT_EQ(L_ResampleBitmap(&b.b, 400, 300), ERROR_USER_ABORT);
    g_statusCalls = 0;
    EXPECT_EQ(L_RotateBitmap(&b.b, 3000, ROTATE_RESIZE | ROTATE_RESAMPLE, 0), ERROR_USER_ABORT);
    L_SetStatusCallBack(nullptr, nullptr);
    unchanged();

    BITMAPHANDLE empty;
    EXPECT_EQ(L_SizeBitmap(&empty, 5, 5, 0), ERROR_NO_BITMAP);
    EXPECT_EQ(L_RotateBitmap(&empty, 9000, 0, 0), ERROR_NO_BITMAP);
    EXPECT_EQ(L_ShearBitmap(nullptr, 100, true, 0), ERROR_NO_BITMAP);
    EXPECT_EQ(L_FlipBitmap(&empty), ERROR_NO_BITMAP);
    EXPECT_EQ(L_ReverseBitmap(nullptr), ERROR_NO_BITMAP);
    EXPECT_EQ(L_ChangeBitmapViewPerspective(nullptr, &empty, TOP_LEFT), ERROR_NO_BITMAP);
}
