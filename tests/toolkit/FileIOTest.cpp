// The file functions as a whole: errors for missing and damaged files, saves that never
// damage the old file, row callbacks, and a damage sweep over every committed fixture.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <iterator>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "AtomicFile.h"
#include "TestImages.h"
#include "Toolkit.h"

namespace fs = std::filesystem;

namespace {

using testimg::ReadFile;
using testimg::TempDir;
using testimg::WriteFile;

const std::string kSample = std::string(QUILLO_TEST_DATA) + "/sample.png";

// A photo-sized bitmap with some content, so that encoders have real work.
void MakePicture(BITMAPHANDLE* b, int w, int h) {
    ASSERT_EQ(L_CreateBitmap(b, TYPE_CONV, w, h, 24, ORDER_BGR, nullptr, 0), SUCCESS);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = L_RowPtr(b, y);
        for (int x = 0; x < w; ++x) {
            row[x * 3] = uint8_t(x * 7 + y);
            row[x * 3 + 1] = uint8_t((x ^ y) * 13);
            row[x * 3 + 2] = uint8_t(y * 3);
        }
    }
}

bool Empty(const BITMAPHANDLE& b) {
    return !b.Flags.Allocated && b.Addr == nullptr && b.pPalette == nullptr;
}

} // namespace

TEST(FileIO, MissingUnreadableAndForeignFilesReportTheirCode) {
    fs::path dir = TempDir("fileio-errors");
    BITMAPHANDLE b;
    EXPECT_EQ(L_LoadBitmap((dir / "absent.png").c_str(), &b, 0, ORDER_BGR), ERROR_FILENOTFOUND);
    EXPECT_TRUE(Empty(b));
    EXPECT_EQ(L_LoadBitmap(dir.c_str(), &b, 0, ORDER_BGR), ERROR_FILE_OPEN)
        << "a folder is not a file";
    WriteFile(dir / "text.png", {'h', 'e', 'l', 'l', 'o'});
    EXPECT_EQ(L_LoadBitmap((dir / "text.png").c_str(), &b, 0, ORDER_BGR), ERROR_FILE_FORMAT);
    EXPECT_TRUE(Empty(b));
    WriteFile(dir / "empty.bmp", {});
    FILEINFO fi;
    EXPECT_EQ(L_FileInfo((dir / "empty.bmp").c_str(), &fi), ERROR_FILE_FORMAT);
    EXPECT_EQ(L_LoadBitmap("", &b, 0, ORDER_BGR), ERROR_INV_FILENAME);
}

TEST(FileIO, InfoDescribesTheFileAndLoadingFollowsTheContentNotTheName) {
    FILEINFO fi;
    ASSERT_EQ(L_FileInfo(kSample.c_str(), &fi), SUCCESS);
    EXPECT_TRUE(fi.Format == FILE_PNG && fi.Width == 320 && fi.Height == 240 &&
                fi.BitsPerPixel == 24 && fi.BytesPerLine == 960);
    EXPECT_EQ(fi.SizeDisk, fs::file_size(kSample));
    fs::path dir = TempDir("fileio-names");
    fs::copy_file(kSample, dir / "really-a-png.jpg");
    BITMAPHANDLE b;
    ASSERT_EQ(L_LoadBitmap((dir / "really-a-png.jpg").c_str(), &b, 32, ORDER_BGR), SUCCESS);
    EXPECT_EQ(b.Width, 320);
    EXPECT_EQ(b.BitsPerPixel, 32); // loading at another depth converts
    EXPECT_EQ(L_RowPtr(&b, 5)[7 * 4 + 3], 255) << "opaque alpha";
    L_FreeBitmap(&b);
    EXPECT_EQ(L_LoadBitmap(kSample.c_str(), &b, 12, ORDER_BGR), ERROR_BITPERPIXEL);
}

// Every decoder reports its rows in order, in bands as they arrive, with the pass and row
// flags; a callback that says stop ends the load with its code and leaves nothing behind.
TEST(FileIO, EveryDecoderReportsItsRowsInBandsAndTheCallerCanStop) {
    auto cb = [](FILEINFO* info, pBITMAPHANDLE b, uint8_t* buf, L_UINT flags, L_INT row,
                 L_INT lines, void* user) -> L_INT {
        EXPECT_EQ(buf, L_RowPtr(b, row));
        return testimg::LogRows(info, b, buf, flags, row, lines, user);
    };
    struct Case {
        fs::path path;
        int passes;
        size_t minCalls;
    };
    const fs::path dir = TempDir("fileio-rows"), data = QUILLO_TEST_DATA;
    std::vector<Case> cases = {{kSample, 1, 2},
                               {data / "png/rgb8-interlaced.png", 7, 7},
                               {data / "png/gray2-interlaced.png", 7, 7},
                               {data / "png/rgb8-interlaced-1x1.png", 7, 1},
                               {data / "tiff/rgb-tiled.tif", 1, 3},
                               {data / "tiff/rgb-planar.tif", 1, 1},
                               {data / "jpeg/progressive-420.jpg", 1, 1},
                               {data / "jpeg/cmyk.jpg", 1, 1}};
    // A 400-row picture in every format we write: more than one band (or strip) each.
    BITMAPHANDLE tall = testimg::RandomPicture(300, 400, 24, 7);
    for (auto [format, bpp, ext] :
         {std::tuple{FILE_BMP, 24, "bmp"}, std::tuple{FILE_PCX, 24, "pcx"},
          std::tuple{FILE_TGA, 24, "tga"}, std::tuple{FILE_SUN_RAS, 24, "ras"},
          std::tuple{FILE_TIFLZW, 24, "tif"}, std::tuple{FILE_JFIF, 24, "jpg"},
          std::tuple{FILE_PNG, 24, "png"}, std::tuple{FILE_CALS, 1, "cal"}}) {
        cases.push_back({dir / (std::string("tall.") + ext), 1, 3});
        WriteFile(cases.back().path, testimg::SaveToMemory(&tall, format, bpp));
    }
    L_FreeBitmap(&tall);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        testimg::RowLog log, stop;
        BITMAPHANDLE b;
        ASSERT_EQ(L_LoadFile(c.path.c_str(), &b, 0, ORDER_BGR, LOADFILE_ALLOCATE | LOADFILE_STORE,
                             cb, &log),
                  SUCCESS);
        EXPECT_EQ(testimg::CountPasses(log, b.Height), c.passes);
        EXPECT_GE(log.calls.size(), c.minCalls);
        L_FreeBitmap(&b);
        stop.stopAfter = 1;
        EXPECT_EQ(L_LoadFile(c.path.c_str(), &b, 0, ORDER_BGR, LOADFILE_ALLOCATE | LOADFILE_STORE,
                             testimg::LogRows, &stop),
                  ERROR_USER_ABORT);
        EXPECT_TRUE(Empty(b));
        EXPECT_EQ(stop.calls.size(), 1u);
    }
}

TEST(FileIO, AFailedSaveLeavesTheOldFileAsItWas) {
    fs::path dir = TempDir("fileio-save");
    fs::path target = dir / "picture.bmp";
    const std::vector<uint8_t> old = {'o', 'l', 'd', ' ', 'f', 'i', 'l', 'e'};
    WriteFile(target, old);
    BITMAPHANDLE b;
    MakePicture(&b, 64, 48);
    // OS/2 bitmaps hold no 16-bit pixels; unknown format codes are not written at all.
    EXPECT_EQ(L_SaveBitmap(target.c_str(), &b, FILE_OS2, 16, 0), ERROR_BITPERPIXEL);
    EXPECT_EQ(L_SaveBitmap(target.c_str(), &b, 9999, 0, 0), ERROR_FEATURE_NOT_SUPPORTED);
    EXPECT_EQ(ReadFile(target), old);
    EXPECT_NE(L_SaveBitmap((dir / "no-such-folder" / "x.bmp").c_str(), &b, FILE_BMP, 0, 0),
              SUCCESS);
    // A successful save replaces it and leaves no temporary files behind.
    ASSERT_EQ(L_SaveBitmap(target.c_str(), &b, FILE_BMP, 0, 0), SUCCESS);
    EXPECT_NE(ReadFile(target), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    L_FreeBitmap(&b);
}

TEST(FileIO, ASaveThatRunsOutOfDiskLeavesTheOldFileIntact) {
    fs::path dir = TempDir("fileio-full");
    fs::path target = dir / "picture.png";
    const std::vector<uint8_t> old(3000, 'x');
    WriteFile(target, old);
    // The child process can write at most 4 KB per file, like a nearly full disk.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        rlimit lim{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &lim);
        BITMAPHANDLE b;
        MakePicture(&b, 200, 200);
        // Both with a nameless file and with a named temporary, which must be removed.
        int failures = 0;
        for (auto use :
             {lt::atomic::TNamelessFiles::Allowed, lt::atomic::TNamelessFiles::Forbidden}) {
            lt::atomic::SetNamelessFiles(use);
            int rc = L_SaveBitmap(target.c_str(), &b, FILE_BMP, 24, 0);
            failures += rc == ERROR_FILE_WRITE && L_GetLastWriteError() == EFBIG &&
                        std::strcmp(L_WriteErrorText(EFBIG), "The disk is full.") == 0;
        }
        _exit(failures == 2 ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save must report the full disk";
    EXPECT_EQ(ReadFile(target), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1)
        << "temporary removed";
}

TEST(FileIO, SavingKeepsTheCallersBitmapAndPermissions) {
    fs::path dir = TempDir("fileio-perm");
    fs::path target = dir / "p.bmp";
    WriteFile(target, {'x'});
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    BITMAPHANDLE b;
    MakePicture(&b, 16, 16);
    // Saving at a lower depth converts a copy, not the picture the user is editing.
    ASSERT_EQ(L_SaveBitmap(target.c_str(), &b, FILE_BMP, 8, 0), SUCCESS);
    EXPECT_EQ(b.BitsPerPixel, 24);
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    FILEINFO fi;
    ASSERT_EQ(L_FileInfo(target.c_str(), &fi), SUCCESS);
    EXPECT_EQ(fi.BitsPerPixel, 8);
    L_FreeBitmap(&b);
}

// Every committed fixture, cut short or with bytes flipped, either loads or fails with a
// code; a failure leaves no half-built bitmap.
TEST(FileIO, DamagedCopiesOfEveryFixtureLoadOrFailCleanly) {
    std::mt19937 rng(1234);
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(QUILLO_TEST_DATA)) {
        if (!entry.is_regular_file() || entry.file_size() > 200000) continue;
        const std::vector<uint8_t> bytes = ReadFile(entry.path());
        if (bytes.empty()) continue;
        ++files;
        auto check = [&](const std::vector<uint8_t>& data, const char* what) {
            BITMAPHANDLE b;
            int rc = L_LoadBitmapMemory(data.data(), &b, 0, ORDER_BGR, data.size());
            if (rc == SUCCESS) {
                EXPECT_TRUE(b.Flags.Allocated);
                EXPECT_GT(b.Width, 0);
                L_FreeBitmap(&b);
            } else {
                EXPECT_LT(rc, 0);
                EXPECT_TRUE(Empty(b)) << entry.path() << " " << what;
            }
            FILEINFO fi;
            int irc = L_FileInfoMemory(data.data(), data.size(), &fi);
            EXPECT_TRUE(irc == SUCCESS || irc < 0);
        };
        for (int i = 1; i <= 24; ++i) {
            std::vector<uint8_t> cut(bytes.begin(),
                                     bytes.begin() + std::ptrdiff_t(bytes.size() * size_t(i) / 25));
            check(cut, "truncated");
        }
        for (int i = 0; i < 24; ++i) {
            std::vector<uint8_t> flipped = bytes;
            for (int k = 0; k < 4; ++k)
                flipped[rng() % flipped.size()] ^= uint8_t(1u << (rng() % 8));
            check(flipped, "flipped");
        }
    }
    EXPECT_GT(files, 0);
}
