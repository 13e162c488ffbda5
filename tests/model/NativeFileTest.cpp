// The native layered file: what a user saves comes back the same, damaged files are refused
// without harm, and an interrupted save never leaves a broken file behind.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>
#include <vector>

#include "ModelTestUtil.h"
#include "support/AllocationMeter.h"

namespace {

using mt::Px;

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}
void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
    return uint16_t(b[at] | (b[at + 1] << 8));
}
size_t U32(const std::vector<uint8_t>& b, size_t at) {
    return size_t(U16(b, at)) | size_t(U16(b, at + 2)) << 16;
}

std::string Tmp(const std::string& name) { return mt::TmpDir() + "/native-" + name; }

const std::string kLongName(70, 'n');

// Background seen at 24 bits; a 32-bit layer with graded alpha at X = -20 with a shape; a
// hidden 24-bit layer whose stored alpha is not opaque, with a shape and an over-long name.
void BuildThreeLayers(TLayeredImage& img, int w = 40, int h = 30) {
    img.Layers.Append(mt::Pattern(w, h, 24, "Background"));
    auto ghost = mt::At(mt::Solid(w / 2, h / 3, Px{10, 20, 30, 255}, 32, "Ghost"), -20, 5);
    for (int y = 0; y < ghost->Height; ++y)
        for (int x = 0; x < ghost->Width; ++x)
            mt::Put(*ghost, x, y, Px{x * 9, y * 20, 200, (x * 13 + y * 7) & 255});
    mt::Shape(*ghost, RECT{2, 2, 8, 6});
    img.Layers.Append(std::move(ghost));
    auto top = mt::At(mt::Pattern(w / 4 + 2, w / 4 + 2, 24, kLongName), 15, -3);
    for (int y = 0; y < top->Height; ++y)
        for (int x = 0; x < top->Width; ++x) L_RowPtr(top.get(), y)[x * 4 + 3] = 100;
    mt::Shape(*top, RECT{0, 0, 6, top->Height});
    top->Visible = false;
    img.Layers.Append(std::move(top));
    img.Layers.Seek(1);
}

void ExpectSameShape(const TLayer& a, const TLayer& b) {
    ASSERT_EQ(L_BitmapHasRgn(&a), L_BitmapHasRgn(&b));
    for (int y = 0; y < a.Height; ++y)
        for (int x = 0; x < a.Width; ++x)
            ASSERT_EQ(L_IsPtInBitmapRgn(&a, y, x), L_IsPtInBitmapRgn(&b, y, x)) << x << "," << y;
}

std::vector<uint8_t> SmallThreeLayerFile() {
    TLayeredImage img;
    BuildThreeLayers(img, 8, 6);
    const std::string path = Tmp("small.qlx");
    EXPECT_EQ(img.SaveNative(path.c_str()), SUCCESS);
    return ReadAll(path);
}

// A one-layer image named "Keep": what must survive every refused load.
void OneKeeper(TLayeredImage& img) {
    img.Layers.Append(mt::Solid(3, 3, Px{1, 2, 3, 255}, 24, "Keep"));
}
void ExpectKeeper(TLayeredImage& img) {
    ASSERT_EQ(img.Count(), 1);
    EXPECT_EQ(img.GetLayer(0)->Name, "Keep");
}

} // namespace

TEST(NativeFile, ThreeLayersComeBackWithOrderNamesPositionsShapesAndCurrentLayer) {
    TLayeredImage img;
    BuildThreeLayers(img);
    const std::string path = Tmp("three.qlx");
    ASSERT_EQ(img.SaveNative(path.c_str()), SUCCESS);
    EXPECT_TRUE(TLayeredImage::IsNativeFile(path.c_str()));

    // The header: magic, version, layer count and current layer.
    auto bytes = ReadAll(path);
    ASSERT_GE(bytes.size(), 10u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "QLX ");
    EXPECT_EQ((std::vector<int>{U16(bytes, 4), U16(bytes, 6), U16(bytes, 8)}),
              (std::vector<int>{6, 3, 1}));

    // Each record gives its own size; only the hidden top layer has bit 0 of its flags set.
    std::vector<int> flags;
    for (size_t at = 10; at + 82 <= bytes.size() && flags.size() < 3;) {
        EXPECT_EQ(U16(bytes, at), 82);
        flags.push_back(U16(bytes, at + 4));
        at += 82 + U32(bytes, at + 10) + U32(bytes, at + 14);
    }
    EXPECT_EQ(flags, (std::vector<int>{0, 0, 1}));

    TLayeredImage back;
    OneKeeper(back);
    ASSERT_EQ(back.Load(path.c_str()), SUCCESS);
    ASSERT_EQ(back.Count(), 3);
    EXPECT_EQ(back.GetCurrentIndex(), 1);
    const std::string names[] = {"Background", "Ghost",
                                 kLongName.substr(0, 63)}; // long names are cut
    for (int i = 0; i < 3; ++i) {
        const TLayer& a = *img.Layers.At(i);
        const TLayer& b = *back.Layers.At(i);
        SCOPED_TRACE(i);
        EXPECT_EQ(b.Name, names[i]);
        ASSERT_EQ((std::vector<int>{b.X, b.Y, b.Width, b.Height, b.LogicalBpp, b.BitsPerPixel,
                                    b.Visible}),
                  (std::vector<int>{a.X, a.Y, a.Width, a.Height, a.LogicalBpp, 32, a.Visible}));
        ExpectSameShape(a, b);
        for (int y = 0; y < a.Height; ++y)
            for (int x = 0; x < a.Width; ++x) {
                Px want = mt::At(a, x, y);
                if (a.LogicalBpp == 24) want.a = 255; // alpha is not part of a 24-bit layer
                ASSERT_EQ(mt::At(b, x, y), want) << x << "," << y;
            }
    }
}

TEST(NativeFile, PaletteLayersKeepTheirDepthAndPalette) {
    TLayeredImage img;
    auto l = std::make_unique<TLayer>();
    BITMAPHANDLE b;
    ASSERT_EQ(L_CreateBitmap(&b, TYPE_CONV, 9, 7, 8, ORDER_BGR, nullptr, BOTTOM_LEFT), SUCCESS);
    l->Adopt(b);
    l->LogicalBpp = 8;
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) L_RowPtr(l.get(), y)[x] = uint8_t(x * 28 + y);
    l->Name = "Indexed";
    img.Layers.Append(std::move(l));
    const std::string path = Tmp("pal.qlx");
    ASSERT_EQ(img.SaveNative(path.c_str()), SUCCESS);
    TLayeredImage back;
    ASSERT_EQ(back.Load(path.c_str()), SUCCESS);
    const TLayer &a = *img.GetLayer(0), &r = *back.GetLayer(0);
    ASSERT_EQ(r.BitsPerPixel, 8);
    EXPECT_EQ(r.LogicalBpp, 8);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x)
            ASSERT_EQ(L_GetPixelColor(&a, y, x), L_GetPixelColor(&r, y, x)) << x << "," << y;
}

TEST(NativeFile, OrdinaryFilesAndLookalikesLoadAsOneBackgroundLayer) {
    const std::string png = std::string(QUILLO_TEST_DATA) + "/sample.png";
    EXPECT_FALSE(TLayeredImage::IsNativeFile(png.c_str()));
    EXPECT_FALSE(TLayeredImage::IsNativeFile(Tmp("does-not-exist").c_str()));
    TLayeredImage img;
    BuildThreeLayers(img);
    ASSERT_EQ(img.Load(png.c_str()), SUCCESS);
    ASSERT_EQ(img.Count(), 1);
    EXPECT_EQ(img.GetLayer(0)->Name, "Background");
    EXPECT_EQ(img.GetLayer(0)->Width, 320);

    // "QLX" and then not a space: not ours, so the toolkit gets it and refuses it.
    auto bytes = SmallThreeLayerFile();
    bytes[3] = 'X';
    const std::string fake = Tmp("fake.qlx");
    WriteAll(fake, bytes);
    EXPECT_FALSE(TLayeredImage::IsNativeFile(fake.c_str()));
    TLayeredImage keep;
    OneKeeper(keep);
    EXPECT_EQ(keep.Load(fake.c_str()), ERROR_FILE_FORMAT);
    ExpectKeeper(keep);
    EXPECT_EQ(keep.Load(Tmp("does-not-exist").c_str()), ERROR_FILENOTFOUND);
    ExpectKeeper(keep);
}

TEST(NativeFile, DamagedHeadersAndRecordsAreRefusedAndTheImageKeepsItsLayers) {
    const auto good = SmallThreeLayerFile();
    TLayeredImage img;
    OneKeeper(img);

    const uint8_t empty[] = {'Q', 'L', 'X', ' ', 6, 0, 0, 0, 7, 0};
    ASSERT_EQ(img.LoadNativeMemory(empty, sizeof empty), SUCCESS)
        << "zero layers is an empty image";
    EXPECT_EQ(img.Count(), 0);

    struct Case {
        const char* what;
        size_t at;
        std::vector<uint8_t> put;
    };
    const size_t rec = 10;
    const Case cases[] = {
        {"current index past the last layer", 8, {3, 0}},
        {"more layers than the file has room for", 6, {0xFF, 0xFF}},
        {"one layer more than there is", 6, {4, 0}},
        {"name without its NUL", rec + 18, std::vector<uint8_t>(64, 'A')},
        {"pixel stream beyond the end", rec + 10, {0xFF, 0xFF, 0xFF, 0x7F}},
        {"pixel stream cut short", rec + 10, {10, 0, 0, 0}},
        {"mask bytes without a mask", rec + 14, {1, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto bad = good;
        std::copy(c.put.begin(), c.put.end(), bad.begin() + long(c.at));
        TLayeredImage keep;
        OneKeeper(keep);
        EXPECT_EQ(keep.LoadNativeMemory(bad.data(), bad.size()), ERROR_FILE_FORMAT);
        ExpectKeeper(keep);
    }
    EXPECT_EQ(img.LoadNative(Tmp("does-not-exist").c_str()), ERROR_FILENOTFOUND);
}

TEST(NativeFile, EveryTruncationAndRandomDamageLoadsOrIsRefusedAsInvalid) {
    const auto good = SmallThreeLayerFile();
    mt::ScopedLimits limits(
        L_LIMITS{1024, 1u << 20}); // a flipped size field cannot ask for much memory
    for (size_t n = 0; n < good.size(); ++n) {
        TLayeredImage img;
        OneKeeper(img);
        // A private copy of exactly n bytes, so that reading past it is caught by ASan.
        std::vector<uint8_t> cut(good.begin(), good.begin() + long(n));
        const L_INT rc = img.LoadNativeMemory(cut.data(), cut.size());
        ASSERT_EQ(rc, ERROR_FILE_FORMAT) << "prefix of " << n << " bytes";
        ExpectKeeper(img);
    }
    std::mt19937 rng(4242);
    int loaded = 0;
    for (int round = 0; round < 1500; ++round) {
        auto bad = good;
        const int flips = 1 + int(rng() % 4);
        for (int i = 0; i < flips; ++i) bad[rng() % bad.size()] ^= uint8_t(1u << (rng() % 8));
        TLayeredImage img;
        OneKeeper(img);
        const L_INT rc = img.LoadNativeMemory(bad.data(), bad.size());
        ASSERT_TRUE(rc == SUCCESS || rc == ERROR_FILE_FORMAT) << "round " << round << ": " << rc;
        if (rc == SUCCESS) {
            ++loaded;
            // Whatever loads is a consistent image that saves again.
            ASSERT_GE(img.GetCurrentIndex(), 0);
            ASSERT_LT(img.GetCurrentIndex(), std::max(img.Count(), 1));
        } else {
            ExpectKeeper(img);
        }
    }
    EXPECT_GT(loaded, 0) << "flips in unchecked bytes (reserved fields, pixel values) still load";
}

TEST(NativeFile, LayersTogetherMayNotOutgrowFourTimesTheSingleImageLimit) {
    // Each 10 x 10 layer is within a 100-pixel limit; five of them are not, four are.
    TLayeredImage img;
    for (int i = 0; i < 5; ++i) img.Layers.Append(mt::Pattern(10, 10, 24, "L" + std::to_string(i)));
    const std::string five = Tmp("five.qlx"), four = Tmp("four.qlx");
    ASSERT_EQ(img.SaveNative(five.c_str()), SUCCESS);
    img.Layers.Remove(4);
    ASSERT_EQ(img.SaveNative(four.c_str()), SUCCESS);
    mt::ScopedLimits limits(L_LIMITS{64, 100});
    TLayeredImage back;
    OneKeeper(back);
    EXPECT_EQ(back.LoadNative(five.c_str()), ERROR_FILE_FORMAT);
    ExpectKeeper(back);
    EXPECT_EQ(back.LoadNative(four.c_str()), SUCCESS);
    EXPECT_EQ(back.Count(), 4);
}

TEST(NativeFile, LayersThatTogetherCostMoreThanTheFilePaysForAreRefusedBeforeDecoding) {
    // Twenty run-length layers of 8192 x 8192, each fine on its own: 1.3 GB together.
    const auto file =
        ReadAll(std::string(QUILLO_TEST_DATA) + "/malformed/qlx-twenty-large-layers.qlx");
    ASSERT_FALSE(file.empty());
    TLayeredImage img;
    meter::Start();
    EXPECT_EQ(img.LoadNativeMemory(file.data(), file.size()), ERROR_FILE_FORMAT);
    EXPECT_LE(meter::Peak(), L_DecodeBudget(file.size()));
}

TEST(NativeFile, PositionsOutsideSixteenBitsAreRefusedBeforeTheFileIsTouched) {
    TLayeredImage img;
    BuildThreeLayers(img, 8, 6);
    const std::string path = Tmp("range.qlx");
    ASSERT_EQ(img.SaveNative(path.c_str()), SUCCESS);
    const auto before = ReadAll(path);
    img.GetLayer(2)->X = 32768;
    EXPECT_EQ(img.SaveNative(path.c_str()), ERROR_XORIGIN);
    img.GetLayer(2)->X = -32768;
    img.GetLayer(1)->Y = -32769;
    EXPECT_EQ(img.SaveNative(path.c_str()), ERROR_YORIGIN);
    EXPECT_EQ(ReadAll(path), before);
    img.GetLayer(1)->Y = 32767;
    ASSERT_EQ(img.SaveNative(path.c_str()), SUCCESS) << "the extremes themselves fit";
    TLayeredImage back;
    ASSERT_EQ(back.LoadNative(path.c_str()), SUCCESS);
    EXPECT_EQ(back.GetLayer(2)->X, -32768);
    EXPECT_EQ(back.GetLayer(1)->Y, 32767);
}

TEST(NativeFile, SaveFlatWritesWhatTheViewShowsAndLeavesTheLayersAlone) {
    TLayeredImage img;
    img.Layers.Append(mt::Solid(20, 20, Px{0, 0, 255, 255}, 24, "Background"));
    auto glass = mt::At(mt::Solid(8, 8, Px{255, 0, 0, 128}, 32, "Glass"), 4, 4);
    img.Layers.Append(std::move(glass));
    auto hidden = mt::At(mt::Solid(5, 5, Px{0, 255, 0, 255}, 24, "Hidden"), 10, 10);
    hidden->Visible = false;
    img.Layers.Append(std::move(hidden));
    img.Layers.Seek(2);
    const std::string path = Tmp("flat.png");
    ASSERT_EQ(img.SaveFlat(path.c_str(), FILE_PNG, 0, 0), SUCCESS);
    ASSERT_EQ(img.Count(), 3);
    EXPECT_EQ(img.GetCurrentIndex(), 2);
    EXPECT_FALSE(img.GetLayer(2)->Visible);
    TLayeredImage flat;
    ASSERT_EQ(flat.Load(path.c_str()), SUCCESS);
    ASSERT_EQ(flat.Count(), 1);
    EXPECT_EQ(flat.GetLayer(0)->LogicalBpp, 24) << "saved at the depth the user sees";
    // Pixel for pixel the display composite.
    ASSERT_EQ(img.Recompose(TPaintOptions{}, RECT{0, 0, 20, 20}), SUCCESS);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(mt::At(*flat.GetLayer(0), x, y), mt::At(img.Composite, x, y))
                << x << "," << y;

    // A hidden background at 32 bits leaves the canvas transparent.
    img.GetLayer(0)->Visible = false;
    img.GetLayer(0)->LogicalBpp = 32;
    ASSERT_EQ(img.SaveFlat(path.c_str(), FILE_PNG, 0, 0), SUCCESS);
    ASSERT_EQ(flat.Load(path.c_str()), SUCCESS);
    EXPECT_EQ(mt::At(*flat.GetLayer(0), 1, 1).a, 0);
    EXPECT_EQ(mt::At(*flat.GetLayer(0), 6, 6).b, 255) << "the visible layer is there";
    EXPECT_EQ(mt::At(*flat.GetLayer(0), 12, 12).g, 0) << "the hidden one is not";
}

TEST(NativeFile, KillingTheSavingProcessLeavesTheOldFileOrTheNewOneNeverAMix) {
    const std::string dir = mt::TmpDir() + "/native-kill";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/doc.qlx";
    TLayeredImage oldImg, newImg;
    BuildThreeLayers(oldImg, 40, 30);
    BuildThreeLayers(newImg, 400, 300); // big enough that a save takes a while
    ASSERT_EQ(newImg.SaveNative((dir + "/new.qlx").c_str()), SUCCESS);
    ASSERT_EQ(oldImg.SaveNative(path.c_str()), SUCCESS);
    const auto oldBytes = ReadAll(path), newBytes = ReadAll(dir + "/new.qlx");
    ASSERT_NE(oldBytes, newBytes);

    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(newImg.SaveNative((dir + "/timing.qlx").c_str()), SUCCESS);
    const auto saveUs =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0)
            .count();

    std::mt19937 rng(7);
    int sawOld = 0, sawNew = 0;
    for (int round = 0; round < 12; ++round) {
        WriteAll(path, oldBytes);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0; i < 200; ++i)
                if (newImg.SaveNative(path.c_str()) != SUCCESS) _exit(3);
            _exit(0);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % uint32_t(3 * saveUs + 1)));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << "the child's save failed";
        const auto now = ReadAll(path);
        if (now == oldBytes)
            ++sawOld;
        else if (now == newBytes)
            ++sawNew;
        else
            FAIL() << "round " << round << ": the file is neither the old nor the new one ("
                   << now.size() << " bytes)";
    }
    EXPECT_EQ(sawOld + sawNew, 12);
    RecordProperty("saw_old", sawOld);
    RecordProperty("saw_new", sawNew);
    std::filesystem::remove_all(dir);
}
