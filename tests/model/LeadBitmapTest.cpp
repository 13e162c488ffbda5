// The bitmap wrappers: ownership and the storage rule for depths; the layer list cursor;
// layer transforms.
#include "ModelTestUtil.h"
#include "OwnedBitmap.h"

#include <tuple>
#include <vector>

using namespace mt;

namespace {

std::string Data(const char* name) { return std::string(QUILLO_TEST_DATA) + "/" + name; }

TEST(LeadBitmap, DeepCopyIsIndependentAndSharedCopyIsNotFreedTwice) {
    auto src = Pattern(5, 4);
    Shape(*src, RECT{1, 1, 3, 3});
    TLeadBitmap deep;
    ASSERT_EQ(deep.Assign(*src, true), SUCCESS);
    EXPECT_NE(deep.Addr, src->Addr);
    EXPECT_TRUE(deep.pRgn && deep.pRgn != src->pRgn);
    Put(deep, 0, 0, Px{1, 2, 3, 4});
    EXPECT_NE(At(*src, 0, 0), At(deep, 0, 0));
    {
        TLeadBitmap shared;
        ASSERT_EQ(shared.Assign(*src, false), SUCCESS);
        EXPECT_EQ(shared.Addr, src->Addr);
    } // must not free src's pixels (the sanitizer build catches a double free)
    EXPECT_EQ(At(*src, 4, 3), At(*Pattern(5, 4), 4, 3));
}

TEST(LeadBitmap, DeepPixelsAreStoredAt32BitsWithTheirDepthKept) {
    struct Case {
        const char* file;
        int logical, stored;
    } cases[] = {{"bmp/rgb24-topdown.bmp", 24, 32},
                 {"bmp/rgb555.bmp", 16, 32},
                 {"bmp/pal8.bmp", 8, 8},
                 {"bmp/pal4.bmp", 4, 4},
                 {"bmp/rgb32-alpha.bmp", 32, 32}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TLeadBitmapX b;
        ASSERT_EQ(b.LoadFile(Data(c.file).c_str()), SUCCESS);
        EXPECT_EQ((std::vector<int>{b.LogicalBpp, b.GetBitsPerPixel(), b.BitsPerPixel,
                                    b.ViewPerspective}),
                  (std::vector<int>{c.logical, c.logical, c.stored, TOP_LEFT}));
        // Deep pixels are opaque unless the file itself had alpha, which is kept.
        TOwnedBitmap raw;
        ASSERT_EQ(L_LoadBitmap(Data(c.file).c_str(), raw.get(), 0, ORDER_BGR), SUCCESS);
        bool partial = false;
        for (int y = 0; c.logical >= 16 && y < b.Height; ++y)
            for (int x = 0; x < b.Width; ++x) {
                ASSERT_EQ(L_GetPixelColor(&b, y, x), L_GetPixelColor(raw.get(), y, x))
                    << x << "," << y;
                const int a = At(b, x, y).a;
                ASSERT_EQ(a, c.logical == 32 ? At(*raw, x, y).a : 255) << x << "," << y;
                partial = partial || a != 255;
            }
        EXPECT_EQ(partial, c.logical == 32);
    }
}

// ---------------------------------------------------------------------------

TEST(LayerList, CursorStaysOnItsLayerWhenOthersComeAndGo) {
    TLayerList list;
    TLayer* a = list.Append(Solid(1, 1, {}, 32, "a")) ? list.At(0) : nullptr;
    list.Append(Solid(1, 1, {}, 32, "b"));
    list.Append(Solid(1, 1, {}, 32, "c"));
    list.Seek(1);
    EXPECT_EQ(list.Current()->Name, "b");
    list.Insert(0, Solid(1, 1, {}, 32, "z"));
    EXPECT_EQ(list.Index(), 2);
    EXPECT_EQ(list.Current()->Name, "b");
    list.Remove(0);
    EXPECT_EQ(list.Current()->Name, "b");
    list.Insert(3, Solid(1, 1, {}, 32, "top")); // after the cursor: no change
    EXPECT_EQ(list.Index(), 1);
    // Reading by index does not move the cursor.
    EXPECT_EQ(list.At(3)->Name, "top");
    EXPECT_EQ(list.At(0), a);
    EXPECT_EQ(list.Index(), 1);
    // Taking a layer out hands it over instead of deleting it.
    std::unique_ptr<TLayer> taken = list.Take(0);
    EXPECT_EQ(taken.get(), a);
    EXPECT_EQ(list.Current()->Name, "b");
    // Removing the layer under the cursor lands it on the next; inserting at the cursor
    // pushes its layer up with it.
    list.Remove(0);
    EXPECT_EQ(list.Current()->Name, "c");
    list.Insert(0, Solid(1, 1, {}, 32, "y"));
    EXPECT_EQ(list.Current()->Name, "c");
    // A cursor outside the list has no layer.
    list.Seek(7);
    EXPECT_EQ(list.Index(), 7);
    EXPECT_EQ(list.Current(), nullptr);
    EXPECT_EQ(list.At(-1), nullptr);
}

// ---------------------------------------------------------------------------

TEST(LayerTransform, PointsScaleShearAndRotateAboutTheCentre) {
    const long double pi = 3.14159265358979323846L;
    TLayerTransform quarter, scale = kIdentityTransform, shear = kIdentityTransform;
    quarter.RotateAngle = pi / 2;
    scale.ScaleX = 1.5L; // halves round away from zero
    shear.ScaleX = 2;
    shear.ScaleY = 0.5L;
    shear.ShearAngle = pi / 4; // x moves by the scaled y
    const std::tuple<TLayerTransform, POINT, POINT> cases[] = {{quarter, {10, 0}, {0, -10}},
                                                               {scale, {3, 0}, {5, 0}},
                                                               {scale, {-3, 0}, {-5, 0}},
                                                               {shear, {3, 8}, {10, 4}}};
    for (const auto& [t, in, out] : cases) {
        const POINT p = TransformPoint(t, in.x, in.y);
        EXPECT_EQ((std::pair{p.x, p.y}), (std::pair{out.x, out.y})) << in.x << "," << in.y;
    }
}

} // namespace
