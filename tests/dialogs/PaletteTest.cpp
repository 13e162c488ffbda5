// Colour depth and palettes: palette files as other programs write them and as damaged ones
// arrive, the built-in table, the Color Resolution choices, and the commands that convert
// a layered picture or change its colour table as one undo step.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CommandIds.h"
#include "PaletteDialogs.h"
#include "PaletteFile.h"
#include "ViewFixture.h"
#include "model/ModelTestUtil.h"
#include "support/TestFiles.h"

namespace {

using mt::Px;

std::vector<uint8_t> PalBytes(int count, int entries, uint16_t version = 0x0300) {
    std::vector<uint8_t> b(24 + 4 * size_t(entries));
    std::memcpy(b.data(), "RIFF\0\0\0\0PAL data", 16);
    b[20] = uint8_t(version), b[21] = uint8_t(version >> 8);
    b[22] = uint8_t(count), b[23] = uint8_t(count >> 8);
    for (int i = 0; i < entries; ++i) b[24 + 4 * size_t(i)] = uint8_t(i); // red = index
    return b;
}

struct Fixture : TViewFixture {
    std::vector<uint8_t> Bytes(int i) {
        const TLayer& l = Layer(i);
        std::vector<uint8_t> v(l.Addr, l.Addr + l.Size);
        if (l.pPalette) v.insert(v.end(), (uint8_t*)l.pPalette, (uint8_t*)(l.pPalette + 256));
        v.push_back(uint8_t(l.LogicalBpp));
        return v;
    }
};

// An 8-bit layer whose left half is index 0 and right half index 1.
std::unique_ptr<TLayer> Indexed(int w, int h, int bpp) {
    auto l = std::make_unique<TLayer>();
    BITMAPHANDLE b;
    EXPECT_EQ(L_CreateBitmap(&b, TYPE_CONV, w, h, bpp, ORDER_BGR, nullptr, TOP_LEFT), SUCCESS);
    l->Adopt(b);
    for (int y = 0; y < h; ++y)
        for (int x = w / 2; x < w; ++x) L_PutPixelColor(l.get(), y, x, PALETTEINDEX(1));
    l->LogicalBpp = bpp;
    return l;
}

} // namespace

TEST(PaletteFile, WrittenFilesReadBackAndDamagedOnesAreRefused) {
    const std::string path = support::FreshTestDir("pal") + "/three.pal";
    const RGBQUAD three[3] = {{1, 2, 3, 9}, {4, 5, 6, 9}, {7, 8, 9, 9}};
    ASSERT_TRUE(WritePaletteFile(path.c_str(), three, 3));
    const std::string file = support::ReadText(path);
    ASSERT_EQ(file.size(), 36u);
    // The layout other programs expect: both lengths, version and red-green-blue order.
    EXPECT_EQ(file.substr(0, 4), "RIFF");
    EXPECT_EQ(uint8_t(file[4]), 28);
    EXPECT_EQ(file.substr(8, 8), "PAL data");
    EXPECT_EQ(uint8_t(file[16]), 16);
    EXPECT_EQ(std::string(file.data() + 20, 4), std::string("\x00\x03\x03\x00", 4));
    EXPECT_EQ(std::string(file.data() + 24, 4), std::string("\x03\x02\x01\x00", 4));
    RGBQUAD back[256];
    ASSERT_EQ(ReadPaletteFile(path.c_str(), back, 256), 3);
    EXPECT_EQ(back[2].rgbRed, 9);
    EXPECT_EQ(back[2].rgbBlue, 7);
    EXPECT_EQ(back[2].rgbReserved, 0);
    EXPECT_EQ(ReadPaletteFile(path.c_str(), back, 2), 3) << "too small a buffer: only the count";

    auto big = PalBytes(300, 300);
    EXPECT_EQ(ReadPaletteMemory(big.data(), big.size(), back, 256), 256);
    EXPECT_EQ(back[255].rgbRed, 255);
    auto cut = PalBytes(1, 1);
    cut.resize(23);
    // More entries claimed than the file holds, a cut header, another version, no entries.
    for (const auto& bad :
         {PalBytes(20, 19), PalBytes(300, 255), cut, PalBytes(3, 3, 0x0200), PalBytes(0, 4)})
        EXPECT_EQ(ReadPaletteMemory(bad.data(), bad.size(), back, 256), -1);
    EXPECT_EQ(ReadPaletteFile((path + ".missing").c_str(), back, 256), -1);
    EXPECT_FALSE(WritePaletteFile((path + "/no/such/dir.pal").c_str(), three, 3));
}

TEST(PaletteFile, SierraTableHasItsGrayRampTintsAndTones) {
    const RGBQUAD* t = SierraPalette();
    const int gray[17] = {255, 240, 222, 207, 191, 176, 158, 143, 127,
                          112, 94,  79,  64,  48,  31,  15,  0};
    for (int i = 0; i < 17; ++i) EXPECT_EQ(t[i].rgbGreen, gray[i]) << i;
    auto rgb = [&](int i) { return RGB(t[i].rgbRed, t[i].rgbGreen, t[i].rgbBlue); };
    EXPECT_EQ(rgb(17), RGB(240, 240, 255));
    EXPECT_EQ(rgb(32), RGB(0, 0, 255));
    EXPECT_EQ(rgb(208), RGB(255, 207, 217));
    EXPECT_EQ(rgb(235), RGB(255, 127, 0));
    for (int i = 236; i < 256; ++i) EXPECT_EQ(rgb(i), 0u) << i;
}

TEST(ColorResolution, EachDitheringButtonSpreadsTheErrorAndPalettesFollowTheDepth) {
    auto gray = mt::Solid(64, 64, Px{128, 128, 128, 255}, 24);
    TResolutionDialog d(*gray);
    THeadlessDialogHost host;
    IDialogHost* old = SetDialogHost(&host);
    host.QueueScript([&](TDialog&) -> int {
        EXPECT_TRUE(d.IsDlgButtonChecked(IDC_DEPTH_1 + 4)) << "24 bits to begin with";
        EXPECT_FALSE(d.IsControlEnabled(IDC_DITHER_FLOYD));
        EXPECT_TRUE(d.Click(IDC_DEPTH_1 + 2));
        EXPECT_TRUE(d.Click(IDC_PALETTE_NETSCAPE));
        EXPECT_TRUE(d.Click(IDC_DEPTH_1));
        EXPECT_TRUE(d.IsDlgButtonChecked(IDC_PALETTE_OPTIMIZED)) << "Netscape needs 8 bits";
        EXPECT_FALSE(d.IsControlEnabled(IDC_PALETTE_SIERRA));
        EXPECT_TRUE(d.Click(IDC_PALETTE_FIXED));
        for (int m = 0; m < 8; ++m) {
            EXPECT_TRUE(d.Click(IDC_DITHER_NONE + m));
            EXPECT_EQ(d.GetDitherFlags(), L_UINT(m) << 16);
            TLeadBitmapX out;
            EXPECT_EQ(d.Apply(out, *gray, false), SUCCESS);
            if (out.BitsPerPixel != 1) return IDCANCEL;
            EXPECT_EQ(out.LogicalBpp, 1);
            long set = 0;
            for (int y = 0; y < 64; ++y)
                for (int x = 0; x < 64; ++x) set += (L_RowPtr(&out, y)[x / 8] >> (7 - x % 8)) & 1;
            if (m == 0)
                EXPECT_TRUE(set == 0 || set == 64 * 64);
            else
                EXPECT_NEAR(double(set) / (64 * 64), 0.5, 0.04) << "method " << m;
        }
        // Gray at 8 bits leaves nothing to dither.
        EXPECT_TRUE(d.Click(IDC_DEPTH_1 + 2));
        EXPECT_TRUE(d.Click(IDC_GRAYSCALE));
        EXPECT_FALSE(d.IsControlEnabled(IDC_DITHER_FLOYD));
        EXPECT_TRUE(d.IsGrayscaleChosen());
        return IDCANCEL;
    });
    d.Execute();
    SetDialogHost(old);
}

TEST(PaletteCommands, ColorDepthGivesEveryLayerThePaletteOfTheCompositeAndUndoesExactly) {
    Fixture f;
    f.doc->Image.Layers.Append(mt::Pattern(60, 40, 24));
    f.doc->Image.Layers.Append(mt::At(mt::Solid(20, 20, Px{0, 0, 255, 255}, 32), 5, 5));
    f.doc->Image.Layers.Append(mt::At(mt::Solid(20, 10, Px{255, 0, 0, 255}, 32), 30, 20));
    f.Open();
    std::vector<std::vector<uint8_t>> before;
    for (int i = 0; i < 3; ++i) before.push_back(f.Bytes(i));
    f.dialogs.QueueScript([](TDialog& d) {
        d.Click(IDC_DEPTH_1 + 2);
        return IDOK;
    });
    ASSERT_TRUE(f.view->DoCommand(CM_IMAGE_COLOR_DEPTH));
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(f.Layer(i).BitsPerPixel, 8);
        EXPECT_EQ(f.Layer(i).LogicalBpp, 8);
        EXPECT_EQ(std::memcmp(f.Layer(i).pPalette, f.Layer(0).pPalette, 256 * sizeof(RGBQUAD)), 0);
    }
    // The upper layers' colours were in the composite, so the shared palette has them.
    COLORREF c;
    ASSERT_TRUE(f.Layer(1).ReadPixel(3, 3, &c));
    EXPECT_EQ(c, RGB(255, 0, 0));
    ASSERT_TRUE(f.Layer(2).ReadPixel(3, 3, &c));
    EXPECT_EQ(c, RGB(0, 0, 255));
    EXPECT_EQ(f.doc->UndoName(), "Color Resolution");
    f.view->UndoCommand();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(f.Bytes(i), before[size_t(i)]) << i;
    // 24 bits keeps the layers' 32-bit storage and makes their alpha opaque: the undo step,
    // which holds the same pixels, must still give back the translucent pixel.
    mt::Put(f.Layer(2), 2, 2, Px{255, 0, 0, 100});
    const std::vector<uint8_t> translucent = f.Bytes(2);
    f.dialogs.QueueScript([](TDialog& d) {
        d.Click(IDC_DEPTH_1 + 4);
        return IDOK;
    });
    ASSERT_TRUE(f.view->DoCommand(CM_IMAGE_COLOR_DEPTH));
    ASSERT_EQ(f.Layer(2).LogicalBpp, 24);
    f.view->UndoCommand();
    EXPECT_EQ(f.Bytes(2), translucent);
}

TEST(PaletteCommands, EditingAnEntryChangesEveryLayerAndTheGridStopsAtItsEdges) {
    Fixture f;
    f.doc->Image.Layers.Append(Indexed(32, 16, 8));
    f.doc->Image.Layers.Append(mt::At(Indexed(8, 8, 8), 4, 4));
    f.Open();
    f.files.QueueColor(RGB(10, 200, 30));
    f.dialogs.QueueScript([](TDialog& d) {
        EXPECT_TRUE(d.GridKey(IDC_PALETTE_GRID, TGridKey::Up));
        EXPECT_TRUE(d.GridKey(IDC_PALETTE_GRID, TGridKey::Left));
        EXPECT_EQ(d.GetSelIndex(IDC_PALETTE_GRID), 0);
        d.GridKey(IDC_PALETTE_GRID, TGridKey::Down);
        d.GridKey(IDC_PALETTE_GRID, TGridKey::Right);
        EXPECT_EQ(d.GetSelIndex(IDC_PALETTE_GRID), 17);
        // A double click on the cell of entry 1 (cells of 15 x 15 pixels here).
        EXPECT_TRUE(d.ClickGrid(IDC_PALETTE_GRID, POINT{20, 5}, true));
        EXPECT_EQ(d.GetSelIndex(IDC_PALETTE_GRID), 1);
        EXPECT_EQ(d.State(IDC_PALETTE_GRID)->Colors[1], RGB(10, 200, 30));
        return IDOK;
    });
    ASSERT_TRUE(f.view->DoCommand(CM_PALETTE_EDIT));
    for (int i = 0; i < 2; ++i) {
        COLORREF c;
        ASSERT_TRUE(f.Layer(i).ReadPixel(f.Layer(i).Width - 1, 0, &c));
        EXPECT_EQ(c, RGB(10, 200, 30)) << "layer " << i;
    }
    EXPECT_EQ(f.doc->UndoName(), "Edit Palette");
}

TEST(PaletteCommands, LoadPaletteMapsOrReplacesAndRefusesDamagedFiles) {
    Fixture f;
    f.doc->Image.Layers.Append(Indexed(32, 16, 4));
    f.Open();
    const std::string dir = support::FreshTestDir("pal");
    auto write = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
        support::WriteText(dir + "/" + name, std::string(bytes.begin(), bytes.end()));
        f.files.QueueOpen(TFileDialogResult{{dir + "/" + name}, 0});
    };
    // A damaged file first: the message, and the empty palette stays.
    write("cut.pal", PalBytes(40, 10));
    write("big.pal", PalBytes(256, 256));
    f.dialogs.QueueScript([](TDialog& d) {
        d.Click(IDC_PALETTE_LOAD);
        EXPECT_TRUE(d.State(IDC_PALETTE_GRID)->Colors.empty());
        d.Click(IDC_PALETTE_LOAD);
        EXPECT_EQ(d.State(IDC_PALETTE_GRID)->Colors.size(), 256u);
        d.Click(IDC_MAINTAIN_INDEXES);
        EXPECT_FALSE(d.IsControlEnabled(IDC_DITHER_FLOYD));
        return IDOK;
    });
    ASSERT_TRUE(f.view->DoCommand(CM_PALETTE_LOAD));
    ASSERT_EQ(f.boxes.Shown.size(), 1u);
    EXPECT_EQ(f.boxes.Shown[0].Text, "Invalid file format!");
    // Indices kept: only the 16 entries a 4-bit picture has were replaced.
    ASSERT_EQ(f.Layer(0).BitsPerPixel, 4);
    EXPECT_EQ(f.Layer(0).pPalette[15].rgbRed, 15);
    COLORREF c;
    ASSERT_TRUE(f.Layer(0).ReadPixel(31, 0, &c));
    EXPECT_EQ(c, RGB(1, 0, 0));

    // Without keeping indices, two colours give a 1-bit picture of just those colours.
    write("two.pal", PalBytes(2, 2));
    f.dialogs.QueueScript([](TDialog& d) {
        d.Click(IDC_MAINTAIN_INDEXES);
        d.Click(IDC_PALETTE_LOAD);
        return IDOK;
    });
    ASSERT_TRUE(f.view->DoCommand(CM_PALETTE_LOAD));
    EXPECT_EQ(f.Layer(0).BitsPerPixel, 1);
    EXPECT_EQ(f.Layer(0).LogicalBpp, 1);

    const std::string saved = dir + "/saved.pal";
    f.files.QueueSave(TFileDialogResult{{saved}, 0});
    ASSERT_TRUE(f.view->DoCommand(CM_PALETTE_SAVE));
    RGBQUAD back[256];
    EXPECT_EQ(ReadPaletteFile(saved.c_str(), back, 256), 2);
    EXPECT_EQ(back[1].rgbRed, 1);
}
