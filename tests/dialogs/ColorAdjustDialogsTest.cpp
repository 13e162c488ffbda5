// The six adjustments: each dialog's Apply at its start positions and at one other setting,
// against the toolkit's operations with the arguments the sliders stand for, pixel by pixel,
// at every depth a layer can have, inside and outside a selection, alpha untouched.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "ColorAdjust.h"
#include "ColorAdjustDialogs.h"
#include "MessageBox.h"
#include "Processing.h"
#include "model/ModelTestUtil.h"

namespace {

using TOps = std::function<L_INT(TLeadBitmapX&)>;

struct TAdjustCase {
    const char* Name;
    std::function<std::unique_ptr<TAdjustDialog>(const TLeadBitmapX&)> Make;
    std::vector<std::pair<int, int>> Positions; // slider id, position; empty: the start
    TOps Expected;                              // the same change with literal arguments
    bool Identity;                              // the start positions change nothing
};

template <class D>
std::unique_ptr<TAdjustDialog> Make(const TLeadBitmapX& s) {
    return std::make_unique<D>(s);
}

L_INT Nothing(TLeadBitmapX&) { return SUCCESS; }

const TAdjustCase kCases[] = {
    {"HueSat start", Make<THueSatDialog>, {}, Nothing, true},
    // Hue position 1 is -172.5 degrees, truncated toward zero; saturation goes first.
    {"HueSat",
     Make<THueSatDialog>,
     {{IDC_ADJUST1, 1}, {IDC_ADJUST2, 40}},
     [](TLeadBitmapX& b) {
         L_INT rc = L_ChangeBitmapSaturation(&b, 300);
         return rc == SUCCESS ? L_ChangeBitmapHue(&b, -172) : rc;
     },
     false},
    {"HueSat 47",
     Make<THueSatDialog>,
     {{IDC_ADJUST1, 47}},
     [](TLeadBitmapX& b) { return L_ChangeBitmapHue(&b, 172); },
     false},
    {"BrightnessContrast start", Make<TBrightnessContrastDialog>, {}, Nothing, true},
    {"BrightnessContrast",
     Make<TBrightnessContrastDialog>,
     {{IDC_ADJUST1, 35}, {IDC_ADJUST2, 10}},
     [](TLeadBitmapX& b) {
         L_INT rc = L_ChangeBitmapIntensity(&b, 200);
         return rc == SUCCESS ? L_ChangeBitmapContrast(&b, -300) : rc;
     },
     false},
    {"Sharpness start", Make<TSharpnessDialog>, {}, Nothing, true},
    {"Sharpness",
     Make<TSharpnessDialog>,
     {{IDC_ADJUST1, 40}},
     [](TLeadBitmapX& b) { return L_SharpenBitmap(&b, 600); },
     false},
    // Gamma always runs; 1.0 changes nothing.
    {"Gamma start", Make<TGammaCorrectDialog>, {}, Nothing, true},
    {"Gamma 0 counts as 1",
     Make<TGammaCorrectDialog>,
     {{IDC_ADJUST1, 0}},
     [](TLeadBitmapX& b) { return L_GammaCorrectBitmap(&b, 10); },
     false},
    {"RGB start", Make<TRGBAdjustDialog>, {}, Nothing, true},
    {"RGB",
     Make<TRGBAdjustDialog>,
     {{IDC_ADJUST1, 40}, {IDC_ADJUST3, 5}},
     [](TLeadBitmapX& b) {
         TLeadBitmapX out;
         L_INT rc = RGBAdjustBitmap(out, b, 60, 0, -80);
         if (rc == SUCCESS) b.Adopt(out);
         return rc;
     },
     false},
    {"CMYK start", Make<TCMYKAdjustDialog>, {}, Nothing, true},
    {"CMYK",
     Make<TCMYKAdjustDialog>,
     {{IDC_ADJUST2, 50}, {IDC_ADJUST4, 20}},
     [](TLeadBitmapX& b) {
         TLeadBitmapX out;
         L_INT rc = CMYKAdjustBitmap(out, b, 0, 100, 0, -20);
         if (rc == SUCCESS) b.Adopt(out);
         return rc;
     },
     false},
};

enum class TDepth { Palette8, Gray8, True24, True32 };

std::unique_ptr<TLayer> Source(TDepth depth) {
    auto l = mt::Pattern(16, 12, 32);
    if (depth == TDepth::True24) l->LogicalBpp = 24;
    if (depth == TDepth::True32)
        for (int y = 0; y < l->Height; ++y)
            for (int x = 0; x < l->Width; ++x) L_RowPtr(l.get(), y)[x * 4 + 3] = uint8_t(x * 17);
    if (depth == TDepth::Palette8) {
        EXPECT_EQ(L_ColorResBitmap(l.get(), l.get(), 8, CRF_FIXEDPALETTE, nullptr, 0), SUCCESS);
        l->LogicalBpp = 8;
    }
    if (depth == TDepth::Gray8) {
        EXPECT_EQ(L_GrayScaleBitmap(l.get(), 8), SUCCESS);
        l->LogicalBpp = 8;
    }
    return l;
}

// One pixel alone through the expected operations: what a point operation must give there.
COLORREF Alone(const TAdjustCase& c, COLORREF colour) {
    BITMAPHANDLE b;
    EXPECT_EQ(L_CreateBitmap(&b, TYPE_CONV, 1, 1, 32, ORDER_BGR, nullptr, TOP_LEFT), SUCCESS);
    TLeadBitmapX one;
    one.Adopt(b);
    one.LogicalBpp = 32;
    L_PutPixelColor(&one, 0, 0, colour);
    EXPECT_EQ(c.Expected(one), SUCCESS);
    return L_GetPixelColor(&one, 0, 0);
}

bool Near(COLORREF a, COLORREF b, int tol) {
    return std::abs(GetRValue(a) - GetRValue(b)) <= tol &&
           std::abs(GetGValue(a) - GetGValue(b)) <= tol &&
           std::abs(GetBValue(a) - GetBValue(b)) <= tol;
}

// Opens the dialog, sets its sliders as a user would, and runs Apply on src.
L_INT ApplyThroughDialog(const TAdjustCase& c, const TLeadBitmapX& src, TLeadBitmapX& dst) {
    THeadlessDialogHost host;
    THeadlessMessageBoxes boxes;
    IDialogHost* old = SetDialogHost(&host);
    SetMessageBoxHost(&boxes);
    auto d = c.Make(src);
    L_INT rc = ERROR_INV_PARAMETER;
    host.QueueScript([&](TDialog&) -> int {
        for (auto [id, pos] : c.Positions) {
            d->Scroll(id, SB_THUMBPOSITION, pos);
            d->Scroll(id, SB_ENDSCROLL);
        }
        rc = d->Apply(dst, src, false);
        return IDCANCEL;
    });
    d->Execute();
    SetDialogHost(old);
    SetMessageBoxHost(nullptr);
    EXPECT_TRUE(boxes.Shown.empty());
    return rc;
}

} // namespace

TEST(AdjustDialogs, EachSettingGivesTheToolkitsResultAtEveryDepth) {
    for (const TAdjustCase& c : kCases) {
        for (TDepth depth : {TDepth::Palette8, TDepth::Gray8, TDepth::True24, TDepth::True32}) {
            SCOPED_TRACE(testing::Message() << c.Name << " depth " << int(depth));
            auto src = Source(depth);
            // The 32-bit layer has its left half selected; the right half must stay.
            const bool halfSelected = depth == TDepth::True32;
            if (halfSelected) mt::Shape(*src, RECT{0, 0, 8, 12});
            TLeadBitmapX before;
            ASSERT_EQ(before.AssignX(*src, true), SUCCESS);
            TLeadBitmapX dst;
            ASSERT_EQ(ApplyThroughDialog(c, *src, dst), SUCCESS);
            EXPECT_EQ(dst.LogicalBpp, src->LogicalBpp);
            EXPECT_EQ(dst.BitsPerPixel, src->BitsPerPixel);
            EXPECT_EQ(std::memcmp(before.Addr, src->Addr, src->Size), 0) << "the source changed";
            // Neighbourhood filters are checked on the whole picture, point operations on
            // each pixel alone.
            TLeadBitmapX whole;
            ASSERT_EQ(whole.AssignX(*src, true), SUCCESS);
            ASSERT_EQ(c.Expected(whole), SUCCESS);
            const bool point = std::string(c.Name).rfind("Sharpness", 0) != 0;
            int changed = 0;
            for (int y = 0; y < src->Height; ++y)
                for (int x = 0; x < src->Width; ++x) {
                    const COLORREF in = L_GetPixelColor(src.get(), y, x);
                    const COLORREF out = L_GetPixelColor(&dst, y, x);
                    const COLORREF want = halfSelected && x >= 8 ? in
                                          : point                ? Alone(c, in)
                                                                 : L_GetPixelColor(&whole, y, x);
                    // The plane split and merge may round by one level.
                    ASSERT_TRUE(Near(out, want, halfSelected && x >= 8 ? 0 : 1))
                        << x << "," << y << " " << std::hex << in << " " << out << " " << want;
                    if (c.Identity) {
                        EXPECT_TRUE(Near(out, in, 1));
                    }
                    changed += out != in;
                    if (depth == TDepth::True32) {
                        ASSERT_EQ(L_RowPtr(&dst, y)[x * 4 + 3], L_RowPtr(src.get(), y)[x * 4 + 3]);
                    }
                }
            if (!c.Identity && depth != TDepth::Gray8) {
                EXPECT_GT(changed, 0);
            }
        }
    }
}

TEST(AdjustDialogs, GammaShowsItsSliderAsTheValue) {
    auto src = Source(TDepth::True32);
    THeadlessDialogHost host;
    IDialogHost* old = SetDialogHost(&host);
    TGammaCorrectDialog d(*src);
    host.QueueScript([&](TDialog&) -> int {
        EXPECT_EQ(d.GetDlgItemText(IDC_GAMMAVALUE), "1.0");
        d.Scroll(IDC_ADJUST1, SB_THUMBTRACK, 0);
        EXPECT_EQ(d.GetDlgItemText(IDC_GAMMAVALUE), "0.1");
        d.Scroll(IDC_ADJUST1, SB_THUMBTRACK, 37);
        EXPECT_EQ(d.GetDlgItemText(IDC_GAMMAVALUE), "3.7");
        return IDCANCEL;
    });
    d.Execute();
    SetDialogHost(old);
}
