// The settings file format: what other versions and hand edits leave in it must survive.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "ErrorCodes.h"
#include "ProfileFile.h"
#include "support/TestFiles.h"
#include "toolkit/TestImages.h"

namespace fs = std::filesystem;

namespace {

std::string TempDir() { return testimg::TempDir("profile"); }
using support::ReadText;

TEST(ProfileFile, LooksUpSectionsAndKeysIgnoringCaseAndKeepsValuesAsWritten) {
    TProfileFile p(
        "; comment\r\n[Options]\r\nJPEG Compression=80\r\n  Default Directory  = /home/a b \r\n"
        "Odd=a=b \"q\"\r\n[Other]\r\nJPEG Compression=5\r\n[options]\r\nLate=1\r\n");
    EXPECT_EQ(p.GetString("OPTIONS", "jpeg compression"), "80");
    EXPECT_EQ(p.GetString("Options", "Default Directory"), " /home/a b ");
    EXPECT_EQ(p.GetString("Options", "Odd"), "a=b \"q\"");
    EXPECT_EQ(p.GetString("Other", "JPEG Compression"), "5");
    // Of two sections with one name the first is the one read.
    EXPECT_FALSE(p.HasKey("Options", "Late"));
    EXPECT_EQ(p.GetString("Options", "Missing", "dflt"), "dflt");
    EXPECT_EQ(p.GetString("Nowhere", "JPEG Compression", "dflt"), "dflt");
    EXPECT_FALSE(p.HasKey("Options", "; comment"));

    // Stray carriage returns and repeated byte-order marks are part of no value, and a
    // rewritten file reads back the same.
    TProfileFile q("\xEF\xBB\xBF\xEF\xBB\xBF[S]\r\r\nk=v\r\r\n");
    EXPECT_EQ(q.GetString("S", "k"), "v");
    EXPECT_EQ(TProfileFile(q.Text()).Text(), q.Text());
}

TEST(ProfileFile, ReadsIntegersLikeTheSystemCall) {
    TProfileFile p(
        "[S]\nplain=42\ntrail=17px\nneg=-40\nblank= 12\nword=abc\nempty=\n"
        "huge=99999999999999999999\nhugeneg=-99999999999999999999\n");
    EXPECT_EQ(p.GetInt("S", "plain", 1), 42);
    EXPECT_EQ(p.GetInt("S", "trail", 1), 17);
    EXPECT_EQ(p.GetInt("S", "neg", 1), -40);
    EXPECT_EQ(p.GetInt("S", "blank", 1), 12);
    EXPECT_EQ(p.GetInt("S", "word", 1), 0);
    EXPECT_EQ(p.GetInt("S", "empty", 7), 7);
    EXPECT_EQ(p.GetInt("S", "missing", 7), 7);
    EXPECT_EQ(p.GetInt("S", "huge", 1), INT_MAX);
    EXPECT_EQ(p.GetInt("S", "hugeneg", 1), INT_MIN);
}

TEST(ProfileFile, RewritingKeepsEverythingItDoesNotChange) {
    TProfileFile p("# top\n[Options]\nKeep=me\nJPEG Compression=80\n\n[Plugin]\nfoo = bar\n");
    EXPECT_TRUE(p.WriteString("options", "jpeg compression", "90"));
    EXPECT_TRUE(p.WriteString("Options", "New Key", "x y"));
    EXPECT_TRUE(p.WriteString("Placement", "IsMaximized", "1"));
    EXPECT_EQ(p.Text(),
              "# top\n[Options]\nKeep=me\nJPEG Compression=90\nNew Key=x y\n\n"
              "[Plugin]\nfoo = bar\n[Placement]\nIsMaximized=1\n");
    EXPECT_TRUE(p.DeleteKey("OPTIONS", "keep"));
    EXPECT_FALSE(p.DeleteKey("Options", "keep"));
    EXPECT_FALSE(p.HasKey("Options", "Keep"));
}

TEST(ProfileFile, RefusesWhatTheFormatCannotHold) {
    TProfileFile p;
    EXPECT_FALSE(p.WriteString("S", "k", "two\nlines"));
    EXPECT_FALSE(p.WriteString("S", "a=b", "v"));
    EXPECT_FALSE(p.WriteString("S", "[k", "v"));
    EXPECT_FALSE(p.WriteString("S", "", "v"));
    EXPECT_FALSE(p.WriteString("S]", "k", "v"));
    EXPECT_EQ(p.Text(), "");
    EXPECT_TRUE(p.WriteString("S", "k", ""));
    EXPECT_EQ(p.Text(), "[S]\nk=\n");
}

TEST(ProfileFile, FilesRoundTripAndBadFilesReadAsEmpty) {
    std::string dir = TempDir();
    std::string path = dir + "/a.ini";
    EXPECT_EQ(TProfileFile::Read(path).Text(), "");
    EXPECT_EQ(TProfileFile::Read(dir).Text(), ""); // a folder
    // A pipe in the file's place reads as empty at once, instead of waiting for a writer.
    ASSERT_EQ(::mkfifo((dir + "/pipe.ini").c_str(), 0644), 0);
    EXPECT_EQ(TProfileFile::Read(dir + "/pipe.ini").Text(), "");
    EXPECT_TRUE(fs::is_fifo(dir + "/pipe.ini"));

    TProfileFile p;
    p.WriteString("Options", "Default Directory", "/x/y z");
    ASSERT_EQ(p.Write(path), SUCCESS);
    EXPECT_EQ(ReadText(path), "[Options]\nDefault Directory=/x/y z\n");
    EXPECT_EQ(TProfileFile::Read(path).GetString("options", "default directory"), "/x/y z");

    EXPECT_NE(p.Write(dir + "/no/such/folder/a.ini"), SUCCESS);
}

TEST(ProfileFile, ASettingsFileThatCannotBeReadIsKeptAsBadAndNeverOverwritten) {
    const std::string dir = TempDir(), path = dir + "/Quillo32.ini", bad = path + ".bad";
    const std::string big =
        "[Options]\nJPEG Compression=1\n" + std::string(TProfileFile::MaxFileSize, ';');
    testimg::WriteFile(path, std::vector<uint8_t>(big.begin(), big.end()));
    // Read as defaults, and moved out of the way so that the next write starts afresh.
    TProfileFile p = TProfileFile::Read(path);
    EXPECT_FALSE(p.HasKey("Options", "JPEG Compression"));
    EXPECT_EQ(ReadText(bad), big);
    p.WriteString("Options", "JPEG Compression", "2");
    ASSERT_EQ(p.Write(path), SUCCESS);
    EXPECT_EQ(ReadText(path), "[Options]\nJPEG Compression=2\n");

    // A file cut short by a crash (NUL bytes) is not overwritten by a profile that never
    // read it either.
    testimg::WriteFile(path, {'[', 'O', ']', '\n', 0, 0, 0});
    ASSERT_EQ(p.Write(path), SUCCESS);
    EXPECT_EQ(ReadText(bad), std::string("[O]\n\0\0\0", 7));

    // Where it cannot be moved aside, it stays as it is and nothing is written over it.
    fs::remove(bad);
    fs::create_directories(bad + "/in-the-way");
    testimg::WriteFile(path, {0});
    TProfileFile q = TProfileFile::Read(path);
    testimg::WriteFile(path, {'o', 'k'}); // readable now, but q holds none of it
    EXPECT_EQ(q.Write(path), ERROR_FILE_WRITE);
    EXPECT_EQ(ReadText(path), "ok");

    // A file the program only reads (the installation's defaults) is left where it is.
    const std::string defaults = dir + "/QuilloDef.ini";
    testimg::WriteFile(defaults, {0});
    TProfileFile::Read(defaults, TProfileFile::TDamagedFile::Keep);
    EXPECT_TRUE(fs::exists(defaults));
    EXPECT_FALSE(fs::exists(defaults + ".bad"));
}

} // namespace
