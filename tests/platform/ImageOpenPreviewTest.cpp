// The open dialog's preview panel: what it shows for pictures, other files and folders,
// and when it reads a file again.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

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

TEST(ImageOpenPreview, TurningThePreviewOffClearsItAndOnReloads) {
    TImageOpenPreview p(TSize{60, 40});
    p.Update(kPng);
    p.SetEnabled(false, kPng);
    EXPECT_FALSE(TImageOpenPreview::Enabled());
    EXPECT_FALSE(p.Notified());
    EXPECT_EQ(p.Picture(), nullptr);
    EXPECT_EQ(Attributes(p), "n/a n/a n/a n/a");
    // The flag outlives the dialog.
    EXPECT_FALSE(TImageOpenPreview(TSize{60, 40}).Notified());
    p.SetEnabled(true, kPng);
    EXPECT_TRUE(p.Notified());
    EXPECT_NE(p.Picture(), nullptr);
    EXPECT_EQ(p.Loads, 2);
}

} // namespace
