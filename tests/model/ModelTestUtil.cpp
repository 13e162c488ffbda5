#include "ModelTestUtil.h"
#include "OwnedBitmap.h"

namespace mt {

namespace {

void Save(const BITMAPHANDLE& b, const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    TOwnedBitmap copy;
    ASSERT_EQ(L_CopyBitmap(copy.get(), &b), SUCCESS);
    L_FreeBitmapRgn(copy.get());
    EXPECT_EQ(L_SaveBitmap(path.c_str(), copy.get(), FILE_PNG, 24, 0), SUCCESS) << path;
}

} // namespace

void ExpectMatchesGolden(const BITMAPHANDLE& actual, const std::string& name, int tolerance,
                         int maxDiffering) {
    const std::string golden = std::string(QUILLO_TEST_DATA) + "/golden/" + name + ".png";
    const char* update = std::getenv("QUILLO_UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        Save(actual, golden);
        return;
    }
    TOwnedBitmap expected;
    ASSERT_EQ(L_LoadBitmap(golden.c_str(), expected.get(), 0, ORDER_BGR), SUCCESS)
        << "missing golden " << golden << " (create it with QUILLO_UPDATE_GOLDEN=1)";
    int differing = 0;
    if (expected->Width != actual.Width || expected->Height != actual.Height) {
        ADD_FAILURE() << name << ": size " << actual.Width << "x" << actual.Height << ", golden "
                      << expected->Width << "x" << expected->Height;
        differing = -1;
    } else {
        for (int y = 0; y < actual.Height; ++y)
            for (int x = 0; x < actual.Width; ++x) {
                const COLORREF a = L_GetPixelColor(&actual, y, x),
                               e = L_GetPixelColor(expected.get(), y, x);
                for (int k = 0; k < 3; ++k)
                    if (std::abs(int((a >> (8 * k)) & 255) - int((e >> (8 * k)) & 255)) >
                        tolerance) {
                        ++differing;
                        break;
                    }
            }
        EXPECT_LE(differing, maxDiffering)
            << name << ": pixels differing by more than " << tolerance;
    }
    if (differing < 0 || differing > maxDiffering) {
        const std::string out = std::string(QUILLO_TEST_OUT) + "/" + name;
        Save(actual, out + ".actual.png");
        Save(*expected, out + ".expected.png");
        std::fprintf(stderr, "wrote %s.actual.png and .expected.png\n", out.c_str());
    }
}

} // namespace mt
