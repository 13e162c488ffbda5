// The magic wand against a plain breadth-first flood, at every depth, seeded and growing.

#include "EffectsTestUtil.h"

#include <cmath>
#include <queue>
#include <vector>

namespace {

using efx::Bit;
using efx::Bmp;

// The colour as compared: premultiplied at 32 bits, alpha as a fourth channel.
std::array<int, 4> Key(const BITMAPHANDLE& b, int x, int y) {
    const lt::BGRA c = efx::Pixel(b, x, y);
    if (b.BitsPerPixel != 32) return {c.b, c.g, c.r, 255};
    return {(c.b * c.a + 127) / 255, (c.g * c.a + 127) / 255, (c.r * c.a + 127) / 255, c.a};
}

// The expected mask: seeds are marked; pixels whose key lies within [lo - t, hi + t] join,
// through 4-neighbours unless `everywhere`.
std::vector<uint8_t> Reference(const BITMAPHANDLE& b, std::vector<uint8_t> marked,
                               std::array<int, 4> lo, std::array<int, 4> hi, int t,
                               bool everywhere) {
    const int w = b.Width, h = b.Height;
    auto matches = [&](int x, int y) {
        const auto k = Key(b, x, y);
        for (int c = 0; c < 4; ++c)
            if (k[size_t(c)] < lo[size_t(c)] - t || k[size_t(c)] > hi[size_t(c)] + t) return false;
        return true;
    };
    std::queue<std::pair<int, int>> q;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (marked[size_t(y * w + x)] || (everywhere && matches(x, y))) {
                marked[size_t(y * w + x)] = 1;
                q.push({x, y});
            }
    if (everywhere) return marked;
    while (!q.empty()) {
        const auto [x, y] = q.front();
        q.pop();
        const int dx[4] = {1, -1, 0, 0}, dy[4] = {0, 0, 1, -1};
        for (int d = 0; d < 4; ++d) {
            const int nx = x + dx[d], ny = y + dy[d];
            if (nx < 0 || ny < 0 || nx >= w || ny >= h || marked[size_t(ny * w + nx)]) continue;
            if (!matches(nx, ny)) continue;
            marked[size_t(ny * w + nx)] = 1;
            q.push({nx, ny});
        }
    }
    return marked;
}

void ExpectMask(const BITMAPHANDLE& mask, const std::vector<uint8_t>& want, const RECT& rect) {
    RECT bounds{mask.Width, mask.Height, 0, 0};
    for (int y = 0; y < mask.Height; ++y)
        for (int x = 0; x < mask.Width; ++x) {
            const bool on = want[size_t(y * mask.Width + x)] != 0;
            ASSERT_EQ(Bit(mask, x, y), on) << "at " << x << "," << y;
            if (on)
                bounds = RECT{std::min(bounds.left, x), std::min(bounds.top, y),
                              std::max(bounds.right, x + 1), std::max(bounds.bottom, y + 1)};
        }
    if (bounds.right == 0) bounds = RECT{};
    EXPECT_TRUE(rect.left == bounds.left && rect.top == bounds.top && rect.right == bounds.right &&
                rect.bottom == bounds.bottom);
}

TEST(MagicWand, MarksWhatAPlainFloodMarksAtEveryDepthSeededOrGrowingConnectedOrEverywhere) {
    std::mt19937 rng(7);
    int trial = 0;
    for (int bpp : {1, 4, 8, 16, 24, 32})
        for (int view : {TOP_LEFT, BOTTOM_LEFT})
            for (int n = 0; n < 6; ++n, ++trial) {
                // Widths below and above the 8-pixel words the flood scans, and odd tails.
                const int w = 1 + int(rng() % 70), h = 1 + int(rng() % 25);
                Bmp b = efx::Blocks(w, h, bpp, unsigned(trial), view);
                const double tolerance = std::array{0.0, 0.02, 0.05, 0.3}[rng() % 4];
                const int t = int(std::floor(tolerance * 255 + 1e-9));
                const bool everywhere = n % 3 == 2;
                SCOPED_TRACE(::testing::Message() << bpp << " bpp " << w << "x" << h << " tol "
                                                  << tolerance << " everywhere " << everywhere);
                Bmp mask(w, h, 1, BOTTOM_LEFT + TOP_LEFT - view);
                std::memset(mask.b.Addr, 0xA5, mask.b.Size); // old contents are replaced
                const int sx = int(rng() % unsigned(w)), sy = int(rng() % unsigned(h));
                RECT rect;
                ASSERT_EQ(MagicWandBitmap(&b.b, &mask.b, tolerance, sx, sy, &rect, everywhere),
                          SUCCESS);
                std::vector<uint8_t> seed(size_t(w * h), 0);
                seed[size_t(sy * w + sx)] = 1;
                const auto k = Key(b.b, sx, sy);
                auto want = Reference(b.b, seed, k, k, t, everywhere);
                ExpectMask(mask.b, want, rect);

                // Growing: the range under what is marked, widened once more.
                std::array<int, 4> lo{255, 255, 255, 255}, hi{0, 0, 0, 0};
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        if (want[size_t(y * w + x)])
                            for (int c = 0; c < 4; ++c) {
                                lo[size_t(c)] = std::min(lo[size_t(c)], Key(b.b, x, y)[size_t(c)]);
                                hi[size_t(c)] = std::max(hi[size_t(c)], Key(b.b, x, y)[size_t(c)]);
                            }
                // Bits past the width are no pixels, whatever they hold.
                if (w % 8)
                    for (int y = 0; y < h; ++y) L_RowPtr(&mask.b, y)[w / 8] |= 0xFF >> (w % 8);
                ASSERT_EQ(MagicWandBitmap(&b.b, &mask.b, tolerance, -1, -1, &rect, everywhere),
                          SUCCESS);
                ExpectMask(mask.b, Reference(b.b, want, lo, hi, t, everywhere), rect);
            }
}

TEST(MagicWand, TransparentPixelsMatchWhateverTheyHideAndToleranceIsClamped) {
    Bmp b(6, 1, 32);
    const uint8_t px[6][4] = {{9, 9, 9, 0},   {200, 1, 50, 0},      {0, 0, 0, 0},
                              {0, 0, 0, 255}, {255, 255, 255, 255}, {0, 0, 0, 0}};
    std::memcpy(b.b.Addr, px, sizeof px);
    Bmp mask(6, 1, 1);
    RECT rect;
    ASSERT_EQ(MagicWandBitmap(&b.b, &mask.b, 0.0, 0, 0, &rect, MAGICWAND_CONNECTED), SUCCESS);
    EXPECT_EQ(mask.b.Addr[0], 0xE0); // the three transparent pixels, not opaque black
    EXPECT_EQ(rect.right, 3);
    // Half-transparent grays 40 apart look 20 apart: within 10 %.
    Bmp half(2, 1, 32);
    const uint8_t hp[2][4] = {{100, 100, 100, 128}, {140, 140, 140, 128}};
    std::memcpy(half.b.Addr, hp, sizeof hp);
    Bmp two(2, 1, 1);
    ASSERT_EQ(MagicWandBitmap(&half.b, &two.b, 0.1, 0, 0, &rect, MAGICWAND_CONNECTED), SUCCESS);
    EXPECT_EQ(two.b.Addr[0], 0xC0);
    ASSERT_EQ(MagicWandBitmap(&b.b, &mask.b, 7.5, 3, 0, &rect, MAGICWAND_CONNECTED), SUCCESS);
    EXPECT_EQ(mask.b.Addr[0], 0xFC) << "more than 100 % takes everything";
    ASSERT_EQ(MagicWandBitmap(&b.b, &mask.b, -1.0, 3, 0, &rect, MAGICWAND_CONNECTED), SUCCESS);
    EXPECT_EQ(mask.b.Addr[0], 0x10) << "less than 0 % takes the exact colour";
}

TEST(MagicWand, BadArgumentsFailAndLeaveTheMaskAlone) {
    Bmp b(10, 8, 24), mask(10, 8, 1), small(9, 8, 1), deep(10, 8, 8);
    std::memset(mask.b.Addr, 0x3C, mask.b.Size);
    const Bmp before(mask);
    BITMAPHANDLE empty;
    RECT rect{1, 2, 3, 4};
    const struct {
        const BITMAPHANDLE* bitmap;
        BITMAPHANDLE* mask;
        double tolerance;
        int x, y;
        L_INT rc;
    } cases[] = {
        {&b.b, &mask.b, 0.1, 10, 0, ERROR_INV_PARAMETER},
        {&b.b, &mask.b, 0.1, 0, -1, ERROR_INV_PARAMETER},
        {&b.b, &mask.b, 0.1, -1, 3, ERROR_INV_PARAMETER},
        {&b.b, &mask.b, NAN, 1, 1, ERROR_INV_PARAMETER},
        {&b.b, &small.b, 0.1, 1, 1, ERROR_INV_RANGE},
        {&b.b, &deep.b, 0.1, 1, 1, ERROR_BITPERPIXEL},
        {&empty, &mask.b, 0.1, 1, 1, ERROR_NO_BITMAP},
        {&b.b, nullptr, 0.1, 1, 1, ERROR_NO_BITMAP},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MagicWandBitmap(c.bitmap, c.mask, c.tolerance, c.x, c.y, &rect, 0), c.rc);
        EXPECT_TRUE(mask.Same(before));
        EXPECT_EQ(rect.right, 0);
    }
    // Growing an empty mask adds nothing, even where the bits past the width are set.
    Bmp none(10, 8, 1);
    for (int y = 0; y < 8; ++y) L_RowPtr(&none.b, y)[1] = 0x3F;
    ASSERT_EQ(MagicWandBitmap(&b.b, &none.b, 1.0, -1, -1, &rect, MAGICWAND_EVERYWHERE), SUCCESS);
    for (int y = 0; y < 8; ++y)
        EXPECT_TRUE(L_RowPtr(&none.b, y)[0] == 0 && (L_RowPtr(&none.b, y)[1] & 0xC0) == 0);
}

} // namespace
