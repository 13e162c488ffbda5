// Text in the software device context: font look-up with its fallbacks, extents that agree
// with the ink drawn, clipping, alpha, and palette targets.
#include <gtest/gtest.h>

#include <cstring>

#include "LeadDC.h"
#include "TestBitmap.h"
#include "Toolkit.h"

namespace {

using tb::Bmp;
using tb::Raw;

HFONT Font(const char* face, int em, int weight = FW_NORMAL, bool underline = false) {
    LOGFONT lf;
    lf.lfHeight = -em;
    lf.lfWeight = weight;
    lf.lfUnderline = underline;
    lf.lfFaceName = face;
    return CreateFontIndirect(lf);
}

struct Ink {
    RECT box{1 << 30, 1 << 30, -1, -1};
    int count = 0;
};

// Pixels that differ from white (32-bit: colour bytes only).
Ink InkOf(const BITMAPHANDLE& b) {
    Ink ink;
    for (int y = 0; y < b.Height; ++y)
        for (int x = 0; x < b.Width; ++x)
            if ((Raw(b, x, y) & 0xFFFFFF) != 0xFFFFFF) {
                ++ink.count;
                ink.box.left = std::min<int>(ink.box.left, x);
                ink.box.top = std::min<int>(ink.box.top, y);
                ink.box.right = std::max<int>(ink.box.right, x + 1);
                ink.box.bottom = std::max<int>(ink.box.bottom, y + 1);
            }
    return ink;
}

Bmp White(int w, int h, int bpp = 32) {
    Bmp b(w, h, bpp);
    L_FillBitmap(&b.b, RGB(255, 255, 255));
    return b;
}

} // namespace

TEST(TextOut, WindowsFaceNamesFindTheirLiberationTwinsAndUnknownNamesStillGiveAFont) {
    HFONT times = Font("Times New Roman", 20), arial = Font("Arial", 20),
          sans = Font("MS Sans Serif", 20), none = Font("No Such Face 123", 20);
    ASSERT_TRUE(times && arial && sans && none);
    EXPECT_EQ(GetFontFamily(times), "Liberation Serif");
    EXPECT_EQ(GetFontFamily(arial), "Liberation Sans");
    EXPECT_EQ(GetFontFamily(sans), "Liberation Sans");
    EXPECT_FALSE(GetFontFamily(none).empty());
    EXPECT_EQ(GetFontMetrics(times).tmEmHeight, 20);
    for (HFONT f : {times, arial, sans, none}) DeleteFont(f);
}

TEST(TextOut, ExtentsHoldTheInkAndAddUpOverCharacters) {
    Bmp b = White(300, 60);
    HDC dc = L_CreateLeadDC(&b.b);
    HFONT f = Font("DejaVu Sans", 24);
    dc->SelectFont(f);
    dc->SetBkMode(TRANSPARENT);
    SIZE word, a, rest;
    ASSERT_TRUE(dc->GetTextExtentPoint("Hallo", &word));
    dc->GetTextExtentPoint("H", &a);
    dc->GetTextExtentPoint("allo", &rest);
    EXPECT_EQ(word.cx, a.cx + rest.cx);
    TEXTMETRIC tm;
    dc->GetTextMetrics(&tm);
    EXPECT_EQ(word.cy, tm.tmHeight);
    ASSERT_TRUE(dc->TextOut(10, 5, "Hallo"));
    const Ink ink = InkOf(b.b);
    ASSERT_GT(ink.count, 50);
    // The ink sits in the cell and fills most of its width (side bearings are small).
    EXPECT_GE(ink.box.left, 10);
    EXPECT_LE(ink.box.right, 10 + word.cx);
    EXPECT_GT(ink.box.right - ink.box.left, word.cx * 8 / 10);
    EXPECT_GE(ink.box.top, 5);
    EXPECT_LE(ink.box.bottom, 5 + tm.tmAscent + 1); // no descenders in "Hallo"
    EXPECT_GT(ink.box.bottom, 5 + tm.tmAscent - 3);
    L_DeleteLeadDC(dc);
    DeleteFont(f);
}

TEST(TextOut, ClipKeepsAlphaAndUnderlineAndOpaqueCellAreDrawn) {
    Bmp b = White(200, 50);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 200; ++x) L_RowPtr(&b.b, y)[x * 4 + 3] = 77;
    HDC dc = L_CreateLeadDC(&b.b);
    HFONT f = Font("DejaVu Sans", 30, FW_NORMAL, true);
    dc->SelectFont(f);
    dc->SetBkMode(TRANSPARENT);
    dc->SetTextColor(RGB(0, 0, 255));
    dc->IntersectClipRect(RECT{0, 0, 40, 50});
    dc->ExcludeClipRect(RECT{15, 0, 25, 50}); // a clip that is no rectangle
    dc->TextOut(2, 2, "WWWW");
    const Ink ink = InkOf(b.b);
    EXPECT_GT(ink.count, 0);
    EXPECT_LE(ink.box.right, 40);
    for (int y = 0; y < 50; ++y)
        for (int x = 15; x < 25; ++x) ASSERT_EQ(Raw(b.b, x, y) & 0xFFFFFF, 0xFFFFFFu) << x;
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 200; ++x) ASSERT_EQ(L_RowPtr(&b.b, y)[x * 4 + 3], 77);
    // The underline runs below the baseline across the whole clipped width.
    TEXTMETRIC tm;
    dc->GetTextMetrics(&tm);
    bool underline = false;
    for (int y = 2 + tm.tmAscent; y < 2 + tm.tmHeight; ++y)
        underline |=
            (Raw(b.b, 10, y) & 0xFFFFFF) == 0x0000FF && (Raw(b.b, 38, y) & 0xFFFFFF) == 0x0000FF;
    EXPECT_TRUE(underline);
    // OPAQUE paints the background colour over the cell, glyph gaps included.
    dc->SelectClipRgn(nullptr);
    dc->SetBkMode(OPAQUE);
    dc->SetBkColor(RGB(0, 255, 0));
    dc->TextOut(100, 2, " ");
    EXPECT_EQ(Raw(b.b, 101, 3) & 0xFFFFFF, 0x00FF00u);
    L_DeleteLeadDC(dc);
    DeleteFont(f);
}

TEST(TextOut, PaletteTargetsGetOnlyTheNearestEntry) {
    for (int bpp : {1, 8}) {
        Bmp b(120, 40, bpp);
        L_FillBitmap(&b.b, RGB(0, 0, 0));
        const uint32_t black = Raw(b.b, 0, 0);
        L_FillBitmap(&b.b, RGB(255, 255, 255));
        const uint32_t white = Raw(b.b, 0, 0);
        HDC dc = L_CreateLeadDC(&b.b);
        HFONT f = Font("DejaVu Sans", 24);
        dc->SelectFont(f);
        dc->SetBkMode(TRANSPARENT);
        dc->SetTextColor(RGB(10, 10, 10)); // nearest: black
        dc->TextOut(2, 2, "Ink");
        int inked = 0;
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 120; ++x) {
                const uint32_t v = Raw(b.b, x, y);
                ASSERT_TRUE(v == white || v == black) << bpp << " bpp at " << x << "," << y;
                inked += v == black;
            }
        EXPECT_GT(inked, 40) << bpp;
        L_DeleteLeadDC(dc);
        DeleteFont(f);
    }
}
