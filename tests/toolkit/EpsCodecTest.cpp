// Encapsulated PostScript: a picture ImageMagick wrote renders to its own pixels, a DOS file
// opens as its TIFF preview, and hostile PostScript never harms the editor: it runs in a
// child process that is stopped in time, may not touch files, and a huge box is refused
// before anything is rendered.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "TestBitmap.h"
#include "TestImages.h"
#include "Toolkit.h"
#include "codecs/Ghostscript.h"
#include "support/AllocationMeter.h"

namespace {

const std::string kData = std::string(QUILLO_TEST_DATA) + "/eps/";

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string Eps(const std::string& box, const std::string& body) {
    return "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: " + box + "\n%%EndComments\n" + body + "\n";
}

bool HaveGhostscript() { return std::system("command -v gs >/dev/null 2>&1") == 0; }

void Put16(std::vector<uint8_t>& o, unsigned v) {
    o.push_back(uint8_t(v));
    o.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& o, uint32_t v) {
    Put16(o, v & 0xffff);
    Put16(o, v >> 16);
}

// A DOS EPS file of `ps` and a placeable metafile whose only drawing is a STRETCHDIB record
// of a 2 x 2 24-bit DIB: red, green on the bottom row, blue, white on the top.
std::vector<uint8_t> DosEpsWithMetafile(const std::string& ps) {
    std::vector<uint8_t> dib;
    Put32(dib, 40);
    Put32(dib, 2);
    Put32(dib, 2);
    Put16(dib, 1);
    Put16(dib, 24);
    for (int i = 0; i < 6; ++i) Put32(dib, 0);
    for (uint8_t v : {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0}) dib.push_back(v);
    std::vector<uint8_t> wmf = {0xD7, 0xCD, 0xC6, 0x9A};
    wmf.resize(22, 0);
    Put16(wmf, 1); // in memory
    Put16(wmf, 9);
    Put16(wmf, 0x300);
    for (int i = 0; i < 6; ++i) Put16(wmf, 0);
    Put32(wmf, uint32_t(14 + dib.size() / 2));
    Put16(wmf, 0x0F43);
    wmf.resize(wmf.size() + 22, 0); // raster operation, colour use and the rectangles
    wmf.insert(wmf.end(), dib.begin(), dib.end());
    for (unsigned v : {3u, 0u, 0u}) Put16(wmf, v); // the end record
    std::vector<uint8_t> f = {0xC5, 0xD0, 0xD3, 0xC6};
    const uint32_t psAt = 30, wmfAt = psAt + uint32_t(ps.size());
    for (uint32_t v : {psAt, uint32_t(ps.size()), wmfAt, uint32_t(wmf.size()), 0u, 0u}) Put32(f, v);
    Put16(f, 0xFFFF);
    f.insert(f.end(), ps.begin(), ps.end());
    f.insert(f.end(), wmf.begin(), wmf.end());
    return f;
}

} // namespace

TEST(EpsCodec, PicturesRenderToTheirPixelsAndPreviewsOpenWithoutRendering) {
    if (!HaveGhostscript()) GTEST_SKIP() << "Ghostscript is not installed";
    const std::string path = kData + "im-rgb.eps";
    FILEINFO info;
    ASSERT_EQ(L_FileInfo(path.c_str(), &info), SUCCESS);
    EXPECT_EQ(info.Format, FILE_EPS);
    EXPECT_EQ(info.Width, 24);
    EXPECT_EQ(info.Height, 19);
    tb::Bmp b, want;
    testimg::RowLog log;
    ASSERT_EQ(L_LoadFile(path.c_str(), &b.b, 0, ORDER_BGR, LOADFILE_ALLOCATE | LOADFILE_STORE,
                         testimg::LogRows, &log),
              SUCCESS);
    EXPECT_EQ(testimg::CountPasses(log, 19), 1);
    ASSERT_EQ(L_LoadBitmap((kData + "im-rgb.png").c_str(), &want.b, 24, ORDER_BGR), SUCCESS);
    EXPECT_TRUE(testimg::Matches(testimg::Compare(b.b, want.b, 1, testimg::Alpha::Ignore)));
    EXPECT_EQ(b.b.XResolution, 72);

    // A box in the trailer, with fractions and an offset origin: the drawing lands at the top
    // left of a picture of the rounded-out box.
    const std::string atend =
        "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: (atend)\n%%EndComments\n"
        "1 0 0 setrgbcolor 100 200 5 4 rectfill\n%%Trailer\n"
        "%%BoundingBox: 100 200.5 110 207.2\n";
    tb::Bmp red;
    std::vector<uint8_t> bytes = Bytes(atend);
    ASSERT_EQ(L_LoadBitmapMemory(bytes.data(), &red.b, 0, ORDER_BGR, bytes.size()), SUCCESS);
    EXPECT_EQ(red.b.Width, 10);
    EXPECT_EQ(red.b.Height, 8);
    EXPECT_EQ(L_GetPixelColor(&red.b, 7, 0), RGB(255, 0, 0));
    EXPECT_EQ(L_GetPixelColor(&red.b, 7, 9), RGB(255, 255, 255));
    EXPECT_EQ(L_GetPixelColor(&red.b, 0, 0), RGB(255, 255, 255));

    // The DOS file opens as its preview, even with the interpreter gone.
    setenv("QUILLO_GHOSTSCRIPT", "/nonexistent/gs", 1);
    const std::string dos = kData + "dos-tiff.eps";
    ASSERT_EQ(L_FileInfo(dos.c_str(), &info), SUCCESS);
    EXPECT_EQ(info.Format, FILE_EPS_PREVIEW);
    tb::Bmp preview, previewWant, stamp;
    ASSERT_EQ(L_LoadBitmap(dos.c_str(), &preview.b, 24, ORDER_BGR), SUCCESS);
    ASSERT_EQ(L_LoadBitmap((kData + "preview.png").c_str(), &previewWant.b, 24, ORDER_BGR),
              SUCCESS);
    EXPECT_TRUE(
        testimg::Matches(testimg::Compare(preview.b, previewWant.b, 0, testimg::Alpha::Ignore)));
    EXPECT_EQ(L_GetCompressFileStamp(dos.c_str(), &stamp.b, 24), SUCCESS);
    EXPECT_EQ(stamp.b.Width, 12);
    // Without the interpreter a plain file says so.
    tb::Bmp none;
    EXPECT_EQ(L_LoadBitmap(path.c_str(), &none.b, 0, ORDER_BGR), ERROR_NO_GHOSTSCRIPT);
    EXPECT_FALSE(none.b.Flags.Allocated);
    EXPECT_STRNE(L_ErrorMessage(ERROR_NO_GHOSTSCRIPT), L_ErrorMessage(-12345));
    unsetenv("QUILLO_GHOSTSCRIPT");

    // A DOS header whose sections lie outside the file is not a picture.
    std::vector<uint8_t> dosBytes = testimg::ReadFile(dos);
    dosBytes.resize(30);
    EXPECT_EQ(L_FileInfoMemory(dosBytes.data(), dosBytes.size(), &info), ERROR_FILE_FORMAT);
}

TEST(EpsCodec, HostilePostScriptIsStoppedAndCannotTouchFiles) {
    if (!HaveGhostscript()) GTEST_SKIP() << "Ghostscript is not installed";
    // A box of 65535 points a side is refused before the interpreter runs or memory is taken.
    std::vector<uint8_t> huge = Bytes(Eps("0 0 65535 65535", "{} loop"));
    tb::Bmp b;
    meter::Start();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_LT(L_LoadBitmapMemory(huge.data(), &b.b, 0, ORDER_BGR, huge.size()), 0);
    EXPECT_LT(meter::Peak(), uint64_t(1) << 20);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    // No box, no picture.
    std::vector<uint8_t> nobox = Bytes("%!PS-Adobe-3.0\nshowpage\n");
    EXPECT_EQ(L_LoadBitmapMemory(nobox.data(), &b.b, 0, ORDER_BGR, nobox.size()),
              ERROR_FILE_FORMAT);

    // An endless loop is killed at the time limit.
    std::vector<uint8_t> bmp;
    const std::string loop = Eps("0 0 10 10", "{} loop");
    lt::codec::RenderLimits limits;
    limits.seconds = 1;
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(lt::codec::RenderPostScript(reinterpret_cast<const uint8_t*>(loop.data()),
                                          loop.size(), 0, 0, 10, 10, limits, 1 << 20, bmp),
              ERROR_FILE_FORMAT);
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_LT(took, std::chrono::seconds(5));

    // Writing or deleting files is refused (-dSAFER): the file stays as it was.
    const std::string dir = testimg::TempDir("eps-safer");
    const std::string victim = dir + "/victim.txt";
    testimg::WriteFile(victim, Bytes("keep"));
    for (const std::string& attack :
         {"(" + victim + ") deletefile", "(" + victim + ") (w) file (gone) writestring",
          "(" + dir + "/new.txt) (w) file (x) writestring"}) {
        SCOPED_TRACE(attack);
        std::vector<uint8_t> eps = Bytes(Eps("0 0 4 4", attack));
        tb::Bmp out;
        EXPECT_EQ(L_LoadBitmapMemory(eps.data(), &out.b, 0, ORDER_BGR, eps.size()),
                  ERROR_FILE_FORMAT);
        EXPECT_EQ(testimg::ReadFile(victim), Bytes("keep"));
        EXPECT_FALSE(std::filesystem::exists(dir + "/new.txt"));
    }
}

TEST(EpsCodec, MetafilePreviewOpensWhenThereIsNoRendering) {
    setenv("QUILLO_GHOSTSCRIPT", "/nonexistent/gs", 1);
    std::vector<uint8_t> file = DosEpsWithMetafile(Eps("0 0 50 40", "0 setgray"));
    tb::Bmp b;
    ASSERT_EQ(L_LoadBitmapMemory(file.data(), &b.b, 24, ORDER_BGR, file.size()), SUCCESS);
    ASSERT_EQ(b.b.Width, 2);
    ASSERT_EQ(b.b.Height, 2);
    EXPECT_EQ(L_GetPixelColor(&b.b, 0, 0), RGB(0, 0, 255));
    EXPECT_EQ(L_GetPixelColor(&b.b, 0, 1), RGB(255, 255, 255));
    EXPECT_EQ(L_GetPixelColor(&b.b, 1, 0), RGB(255, 0, 0));
    EXPECT_EQ(L_GetPixelColor(&b.b, 1, 1), RGB(0, 255, 0));
    unsetenv("QUILLO_GHOSTSCRIPT");

    // With no PostScript at all the preview is the picture, and says so.
    file = DosEpsWithMetafile("");
    FILEINFO info;
    ASSERT_EQ(L_FileInfoMemory(file.data(), file.size(), &info), SUCCESS);
    EXPECT_EQ(info.Format, FILE_EPS_PREVIEW);
    EXPECT_EQ(info.Width, 2);
    // A DIB record longer than the metafile is not read.
    file[30 + 22 + 18] = 0xFF;
    file[30 + 22 + 19] = 0x7F;
    EXPECT_EQ(L_FileInfoMemory(file.data(), file.size(), &info), ERROR_FILE_FORMAT);
}
