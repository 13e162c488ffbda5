// The Selection menu through a view: what each command leaves in the layers, the
// selection and the history.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "Clipboard.h"
#include "HeadlessWindowHost.h"
#include "ImageDocManager.h"
#include "ImageView.h"
#include "MessageBox.h"
#include "view/ViewTestUtil.h"

namespace {

using mt::Px;

const Px kWhite{255, 255, 255, 255}, kRed{0, 0, 255, 255}, kBlue{255, 0, 0, 255};
constexpr COLORREF kBackground = RGB(0, 200, 0);

struct Fixture {
    explicit Fixture(std::unique_ptr<TLayer> background, std::unique_ptr<TLayer> upper = nullptr)
        : doc(vt::DocOf(std::move(background), std::move(upper))),
          host({200, 150}),
          view(*doc, host) {
        SetMessageBoxHost(&boxes);
        manager.BackgroundColor = [] { return kBackground; };
    }
    ~Fixture() { SetMessageBoxHost(nullptr); }

    void Select(RECT r) { vt::Select(view, *doc->Image.Layers.At(0), r); }
    bool Selected(int x, int y) const {
        return view.HasSelection && (L_RowPtr(&view.SelectionMask, y)[x / 8] & (0x80 >> (x % 8)));
    }
    RECT Bounds() const {
        RECT r{};
        L_INT w = view.SelectionMask.Width, h = view.SelectionMask.Height;
        r = RECT{w, h, 0, 0};
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (Selected(x, y)) {
                    r.left = std::min(r.left, x), r.top = std::min(r.top, y);
                    r.right = std::max(r.right, x + 1), r.bottom = std::max(r.bottom, y + 1);
                }
        return r;
    }
    TLayer& Layer(int i) { return *doc->Image.Layers.At(i); }
    std::vector<std::string> History() const {
        std::vector<std::string> names;
        for (int i = 0; i < doc->UndoCount(); ++i) names.push_back(doc->UndoItem(i)->Name);
        return names;
    }

    THeadlessMessageBoxes boxes;
    TImageDocManager manager;
    std::unique_ptr<TImageDoc> doc;
    THeadlessWindowHost host;
    TImageView view;
};

bool Same(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// An 8-bit palette layer whose entry 100 is the background colour.
std::unique_ptr<TLayer> Palette8(int w, int h) {
    RGBQUAD pal[256] = {};
    for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 0};
    pal[100] = RGBQUAD{0, 200, 0, 0};
    return vt::Palette8(w, h, pal, 7, "Background");
}

} // namespace

// Clear fills the selected pixels only: transparent on a 32-bit layer, the background colour
// (its nearest palette entry) on an 8-bit one, and opaque at 24 bits, where the user sees no
// alpha. Remove also drops the selection; Clear keeps it. Undo brings the pixels back.
TEST(SelectionCommands, ClearAndRemoveAtEachDepth) {
    {
        Fixture f(mt::Solid(20, 20, kWhite, 24), mt::At(mt::Solid(10, 10, kRed, 32), 5, 5));
        f.Select({0, 0, 8, 8}); // clipped to the layer: (5,5)-(8,8)
        ASSERT_TRUE(f.view.DoCommand(CM_SELECTION_REMOVE));
        EXPECT_EQ(mt::At(f.Layer(1), 0, 0).a, 0);
        EXPECT_EQ(mt::At(f.Layer(1), 2, 2).a, 0);
        EXPECT_EQ(mt::At(f.Layer(1), 3, 3), kRed);
        EXPECT_EQ(mt::At(f.Layer(1), 0, 3), kRed);
        EXPECT_EQ(L_BitmapHasRgn(&f.Layer(1)), 0) << "the layer's region is not given back";
        EXPECT_FALSE(f.view.HasSelection);
        EXPECT_EQ(f.History(), std::vector<std::string>{"Clear Selection"});
        ASSERT_TRUE(f.view.DoCommand(CM_EDITUNDO));
        EXPECT_EQ(mt::At(f.Layer(1), 0, 0), kRed);
    }
    {
        Fixture f(mt::Solid(20, 20, kWhite, 24));
        f.Select({4, 4, 6, 6});
        ASSERT_TRUE(f.view.DoCommand(CM_SELECTION_CLEAR));
        EXPECT_EQ(mt::At(f.Layer(0), 4, 5), (Px{0, 200, 0, 255}));
        EXPECT_EQ(mt::At(f.Layer(0), 6, 5), kWhite);
        EXPECT_TRUE(f.view.HasSelection);
    }
    {
        Fixture f(Palette8(12, 12));
        f.Select({1, 1, 3, 3});
        ASSERT_TRUE(f.view.DoCommand(CM_SELECTION_REMOVE));
        EXPECT_EQ(L_RowPtr(&f.Layer(0), 2)[2], 100);
        EXPECT_EQ(L_RowPtr(&f.Layer(0), 3)[3], 7);
    }
}

// Copy To Layer is one step and leaves the source alone; Cut Out To Layer is two steps, ends
// on the new layer, and the cut pixels are gone from the source.
TEST(SelectionCommands, CopyAndCutOutToLayer) {
    {
        Fixture f(mt::Solid(20, 20, kWhite, 24), mt::At(mt::Solid(10, 10, kRed, 32), 5, 5));
        f.Select({6, 6, 9, 8});
        ASSERT_TRUE(f.view.DoCommand(CM_SELECTION_TO_LAYER));
        ASSERT_EQ(f.doc->Image.Count(), 3);
        EXPECT_EQ(f.doc->Image.GetCurrentIndex(), 2);
        EXPECT_TRUE(Same(f.Layer(2).GetRect(), RECT{6, 6, 9, 8}));
        EXPECT_EQ(mt::At(f.Layer(2), 1, 1), kRed);
        EXPECT_EQ(mt::At(f.Layer(1), 2, 2), kRed);
        EXPECT_FALSE(f.view.HasSelection);
        EXPECT_EQ(f.History(), std::vector<std::string>{"Copy Selection To Layer"});
    }
    {
        Fixture f(mt::Solid(20, 20, kWhite, 24), mt::At(mt::Solid(10, 10, kRed, 32), 5, 5));
        f.Select({6, 6, 9, 8});
        ASSERT_TRUE(f.view.DoCommand(CM_SELECTION_CUT_TO_LAYER));
        ASSERT_EQ(f.doc->Image.Count(), 3);
        EXPECT_EQ(f.doc->Image.GetCurrentIndex(), 2);
        EXPECT_EQ(mt::At(f.Layer(2), 0, 0), kRed);
        EXPECT_EQ(mt::At(f.Layer(1), 1, 1).a, 0);
        EXPECT_EQ(mt::At(f.Layer(1), 0, 0), kRed);
        EXPECT_FALSE(f.view.HasSelection);
        EXPECT_EQ(f.History(),
                  (std::vector<std::string>{"Copy Selection To Layer", "Clear Selection"}));
    }
    {
        // Nothing to copy (the selected pixels are transparent): nothing is cleared either.
        auto clear = mt::At(mt::Solid(10, 10, Px{0, 0, 255, 0}, 32), 5, 5);
        Fixture f(mt::Solid(20, 20, kWhite, 24), std::move(clear));
        f.Select({6, 6, 9, 8});
        ASSERT_TRUE(f.view.DoCommand(CM_SELECTION_CUT_TO_LAYER));
        EXPECT_EQ(f.doc->Image.Count(), 2);
        EXPECT_EQ(f.History(), std::vector<std::string>{"Copy Selection To Layer"});
        EXPECT_EQ(f.boxes.Shown.size(), 1u);
    }
}

// Expand grows the selection into similar colours around it, within the current layer; on an
// upper layer the growth lands at the layer's place on the canvas.
TEST(SelectionCommands, ExpandGrowsBySimilarColourWithinTheLayer) {
    auto bg = mt::Solid(30, 20, kWhite, 24);
    for (int y = 0; y < 20; ++y)
        for (int x = 10; x < 20; ++x) mt::Put(*bg, x, y, Px{250, 250, 250, 255});
    for (int y = 0; y < 20; ++y) mt::Put(*bg, 20, y, kBlue);
    {
        auto copy = std::make_unique<TLayer>();
        ASSERT_EQ(copy->CopyLayer(*bg), SUCCESS);
        Fixture f(std::move(copy));
        f.Select({12, 5, 14, 7});
        f.view.ToolOptions.Tolerance = 5;
        ASSERT_TRUE(f.view.DoCommand(CM_SELECTION_EXPAND));
        EXPECT_TRUE(Same(f.Bounds(), RECT{0, 0, 20, 20}));
        EXPECT_EQ(f.doc->UndoCount(), 0);
        f.Select({12, 5, 14, 7});
        f.view.ToolOptions.Tolerance = 0;
        ASSERT_TRUE(f.view.DoCommand(CM_SELECTION_EXPAND));
        EXPECT_TRUE(Same(f.Bounds(), RECT{10, 0, 20, 20}));
    }
    {
        // Partly off the canvas's left edge.
        bg->X = -4, bg->Y = 3;
        Fixture f(mt::Solid(40, 30, kRed, 24), std::move(bg));
        f.Select({8, 8, 10, 10}); // the layer's (12,5)-(14,7)
        f.view.ToolOptions.Tolerance = 0;
        ASSERT_TRUE(f.view.DoCommand(CM_SELECTION_EXPAND));
        EXPECT_TRUE(Same(f.Bounds(), RECT{6, 3, 16, 23}));
    }
}

// Invert selects the rest of the current layer, not the canvas around it; inverting
// everything leaves no selection.
TEST(SelectionCommands, InvertStaysOnTheLayer) {
    Fixture f(mt::Solid(20, 20, kWhite, 24), mt::At(mt::Solid(10, 10, kRed, 32), 5, 5));
    f.Select({5, 5, 10, 15});
    ASSERT_TRUE(f.view.DoCommand(CM_SELECTION_INVERT));
    EXPECT_TRUE(Same(f.Bounds(), RECT{10, 5, 15, 15}));
    EXPECT_FALSE(f.Selected(2, 2));
    f.Select({0, 0, 20, 20});
    ASSERT_TRUE(f.view.DoCommand(CM_SELECTION_INVERT));
    EXPECT_FALSE(f.view.HasSelection);
}

// Copy and paste: an upper layer with alpha and a shape comes back whole, other programs get
// the depth the user sees with the background colour outside the shape, and what another
// program offers (or a block that does not read) is handled as untrusted.
TEST(Clipboard, CarriesALayerWholeAndOffersOthersWhatTheUserSees) {
    TMemoryClipboard clipboard;
    SetClipboard(&clipboard);
    auto upper = mt::At(mt::Solid(6, 4, Px{10, 20, 30, 128}, 32, "Glass"), 3, 2);
    mt::Shape(*upper, {1, 1, 5, 3});
    Fixture f(mt::Solid(20, 20, kWhite, 32), std::move(upper));
    EXPECT_FALSE(f.view.IsCommandEnabled(CM_EDITPASTE));
    ASSERT_TRUE(f.view.DoCommand(CM_EDITCOPY));
    ASSERT_TRUE(f.view.DoCommand(CM_EDITPASTE));
    ASSERT_EQ(f.doc->Image.Count(), 3);
    EXPECT_EQ(f.doc->Image.GetCurrentIndex(), 2);
    const TLayer& pasted = f.Layer(2);
    EXPECT_EQ(pasted.Name, "Glass");
    EXPECT_EQ(pasted.X, 3);
    EXPECT_EQ(pasted.Y, 2);
    EXPECT_TRUE(L_IsPtInBitmapRgn(&pasted, 1, 1));
    EXPECT_FALSE(L_IsPtInBitmapRgn(&pasted, 0, 0));
    EXPECT_EQ(mt::At(pasted, 1, 1), (Px{10, 20, 30, 128}));
    EXPECT_EQ(f.History(), std::vector<std::string>{"Paste From Clipboard"});

    // A 24-bit layer reaches other programs as a 24-bit picture, shape filled in.
    auto plain = mt::Solid(5, 5, kRed, 24);
    mt::Shape(*plain, {0, 0, 2, 5});
    std::vector<uint8_t> png;
    ASSERT_EQ(TClipboardCommands::Picture(*plain, png), SUCCESS);
    FILEINFO info;
    ASSERT_EQ(L_FileInfoMemory(png.data(), png.size(), &info), SUCCESS);
    EXPECT_EQ(info.BitsPerPixel, 24);
    BITMAPHANDLE b;
    ASSERT_EQ(L_LoadBitmapMemory(png.data(), &b, 32, ORDER_BGR, png.size()), SUCCESS);
    TLeadBitmap shown;
    shown.Adopt(b);
    EXPECT_EQ(mt::At(shown, 1, 1), kRed);
    EXPECT_EQ(mt::At(shown, 3, 1), (Px{0, 200, 0, 255}));

    // Another program's picture becomes "Pasted Layer" at the origin.
    clipboard.Set({{kPictureClipboardMime, png}});
    ASSERT_TRUE(f.view.DoCommand(CM_EDITPASTE));
    EXPECT_EQ(f.Layer(3).Name, "Pasted Layer");
    EXPECT_EQ(f.Layer(3).X, 0);
    EXPECT_EQ(f.Layer(3).Width, 5);

    // A block cut short pastes nothing and records nothing.
    std::vector<uint8_t> block;
    ASSERT_EQ(TLayeredImage::EncodeLayerBlock(f.Layer(1), block), SUCCESS);
    block.pop_back();
    clipboard.Set({{kNativeClipboardMime, block}, {kPictureClipboardMime, png}});
    const int undo = f.doc->UndoCount();
    ASSERT_TRUE(f.view.DoCommand(CM_EDITPASTE));
    EXPECT_EQ(f.doc->Image.Count(), 4);
    EXPECT_EQ(f.doc->UndoCount(), undo);
    EXPECT_FALSE(f.boxes.Shown.empty());
    SetClipboard(nullptr);
}
