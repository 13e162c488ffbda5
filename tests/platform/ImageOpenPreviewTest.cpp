// The open dialog's preview panel: what it shows for pictures, other files and folders,
// and when it reads a file again.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "ImageOpenPreview.h"

namespace {

const std::string kPng = std::string(QUILLO_TEST_DATA) + "/sample.png";

std::string Attributes(const TImageOpenPreview& p) {
    using A = TImageOpenPreview;
    return p.Attribute(A::Width) + " " + p.Attribute(A::Height) + " " +
           p.Attribute(A::BitsPerPixel) + " " + p.Attribute(A::FileSize);
}

std::string NotAnImage() {
    const char* env = std::getenv("QUILLO_TEST_TMP");
    const std::filesystem::path dir = std::filesystem::path(env ? env : "/tmp") / "openpreview";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "notes.png").string();
    std::ofstream(path) << "not a picture";
    return path;
}

TEST(ImageOpenPreview, ShowsTheFittedPictureAndItsAttributes) {
    FILEINFO info;
    ASSERT_EQ(L_FileInfo(kPng.c_str(), &info), SUCCESS);
    TImageOpenPreview p(TSize{60, 40});
    p.Update(kPng);
    ASSERT_NE(p.Picture(), nullptr);
    // Fitted with its aspect ratio: one side fills the area, the other is no larger.
    const BITMAPHANDLE& pic = *p.Picture();
    EXPECT_TRUE((pic.Width == 60 && pic.Height <= 40) || (pic.Height == 40 && pic.Width <= 60));
    EXPECT_NEAR(double(pic.Width) / pic.Height, double(info.Width) / info.Height, 0.05);
    EXPECT_EQ(Attributes(p), std::to_string(info.Width) + " " + std::to_string(info.Height) + " " +
                                 std::to_string(info.BitsPerPixel) + " " +
                                 std::to_string(std::filesystem::file_size(kPng)));
    // The same file again is not read again.
    p.Update(kPng);
    EXPECT_EQ(p.Loads, 1);
}

// A colour JPEG that stores a gray JPEG of another size as its Exif thumbnail.
std::string JpegWithForeignThumbnail() {
    auto read = [](const std::string& name) {
        std::ifstream in(std::string(QUILLO_TEST_DATA) + "/jpeg/" + name, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    };
    const std::vector<uint8_t> main = read("baseline-420.jpg"), thumb = read("gray.jpg");
    std::vector<uint8_t> t = {'I', 'I', 42, 0, 8, 0, 0, 0};
    auto u16 = [&](unsigned v) { t.insert(t.end(), {uint8_t(v), uint8_t(v >> 8)}); };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
    // IFD0 with no entries, then IFD1: JPEG compression, the thumbnail's offset and length.
    u16(0), u32(14);
    u16(3);
    u16(0x0103), u16(3), u32(1), u32(6);
    u16(0x0201), u16(4), u32(1), u32(14 + 2 + 3 * 12 + 4);
    u16(0x0202), u16(4), u32(1), u32(uint32_t(thumb.size()));
    u32(0);
    t.insert(t.end(), thumb.begin(), thumb.end());
    std::vector<uint8_t> app1 = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), t.begin(), t.end());
    app1[2] = uint8_t((app1.size() - 2) >> 8);
    app1[3] = uint8_t(app1.size() - 2);
    std::vector<uint8_t> out = main;
    out.insert(out.begin() + 2, app1.begin(), app1.end());
    const std::string path = std::filesystem::path(NotAnImage()).replace_filename("thumb.jpg");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
    return path;
}

TEST(ImageOpenPreview, PrefersTheThumbnailStoredInTheFile) {
    const std::string path = JpegWithForeignThumbnail();
    FILEINFO info;
    ASSERT_EQ(L_FileInfo(path.c_str(), &info), SUCCESS);
    ASSERT_EQ(info.BitsPerPixel, 24);
    TImageOpenPreview p(TSize{60, 40});
    p.Update(path);
    ASSERT_NE(p.Picture(), nullptr);
    // The picture is the gray thumbnail, the attributes those of the colour image.
    EXPECT_EQ(p.Picture()->BitsPerPixel, 8);
    EXPECT_EQ(Attributes(p), std::to_string(info.Width) + " " + std::to_string(info.Height) +
                                 " 24 " + std::to_string(std::filesystem::file_size(path)));
}

TEST(ImageOpenPreview, ShowsNotAvailableForFoldersNothingAndOtherFiles) {
    const std::string text = NotAnImage();
    TImageOpenPreview p(TSize{60, 40});
    for (const std::string& path : {std::string(QUILLO_TEST_DATA), std::string(), text, text}) {
        p.Update(kPng);
        p.Update(path);
        EXPECT_EQ(p.Picture(), nullptr) << path;
        EXPECT_EQ(Attributes(p), "n/a n/a n/a n/a") << path;
    }
    // The failed file is read each time it comes up, the good one each time after it.
    EXPECT_EQ(p.Loads, 4 + 2);
}

} // namespace
