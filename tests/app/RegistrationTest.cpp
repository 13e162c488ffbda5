// The desktop entry, MIME type and icons written at start-up and removed by /unregister.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>

#include "AppFiles.h"
#include "LayeredImage.h"
#include "Registration.h"
#include "support/TestFiles.h"
#include "toolkit/TestImages.h"

namespace {

namespace fs = std::filesystem;
using V = std::vector<std::string>;

using support::ReadText;
using support::WriteText;

// The lines of a file that start with `key=`, without the key.
V Values(const std::string& text, const std::string& key) {
    V out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key + "=", 0) == 0) out.push_back(line.substr(key.size() + 1));
    return out;
}

ino_t Inode(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Each test gets its own data home and a PATH whose cache updaters only log their calls
// (and fail, which registration must shrug off).
class RegistrationTest : public ::testing::Test {
protected:
    void SetUp() override {
        env_.Set("XDG_DATA_HOME", home);
        env_.Set("PATH", tmp + "/bin");
        for (const std::string tool : {"update-mime-database", "update-desktop-database"}) {
            WriteText(tmp + "/bin/" + tool,
                      "#!/bin/sh\necho \"" + tool + " $*\" >> '" + log + "'\nexit 1\n");
            fs::permissions(tmp + "/bin/" + tool, fs::perms::owner_all);
        }
    }
    // The updaters run since the last call.
    V Updates() {
        V lines;
        std::istringstream in(ReadText(log));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        fs::remove(log);
        return lines;
    }
    std::string Exec() {
        return Values(ReadText(home + "/applications/quillo.desktop"), "Exec").at(0);
    }

    const std::string tmp = testimg::TempDir("registration"), home = tmp + "/data",
                      log = tmp + "/updates.log";
    const V bothUpdates = {"update-mime-database " + home + "/mime",
                           "update-desktop-database " + home + "/applications"};
    support::TScopedEnv env_;
};

TEST_F(RegistrationTest, DesktopEntryOpensImagesWithTheProgram) {
    ASSERT_TRUE(RegisterFileTypes("/opt/quillo/bin/quillo"));
    const std::string desktop = ReadText(home + "/applications/quillo.desktop");
    EXPECT_EQ(desktop.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_EQ(Values(desktop, "Type"), V{"Application"});
    EXPECT_EQ(Values(desktop, "Exec"), V{"/opt/quillo/bin/quillo %F"});
    EXPECT_EQ(Values(desktop, "Icon"), V{"quillo"});
    const V mime = Values(desktop, "MimeType");
    ASSERT_EQ(mime.size(), 1u);
    for (const char* type : {"application/x-quillo-layered;", "image/png;", "image/x-eps;"})
        EXPECT_NE(mime[0].find(type), std::string::npos) << type;

    // The icons are the bundled pictures, under the names the entry and the MIME type use.
    for (const std::string size : {"16", "32", "48", "128"}) {
        const std::string dir = home + "/icons/hicolor/" + size + "x" + size;
        EXPECT_EQ(ReadText(dir + "/apps/quillo.png"),
                  ReadText(DataDir() + "/icons/quillo-" + size + ".png"));
        EXPECT_EQ(ReadText(dir + "/mimetypes/application-x-quillo-layered.png"),
                  ReadText(DataDir() + "/icons/document-" + size + ".png"));
    }
    for (const std::string& file : RegisteredFiles())
        EXPECT_TRUE(fs::is_regular_file(home + "/" + file)) << file;

    // Both caches are refreshed once, on the right folders, although the updaters failed.
    EXPECT_EQ(Updates(), bothUpdates);
}

TEST_F(RegistrationTest, ProgramPathsAreQuotedForTheLauncher) {
    ASSERT_TRUE(RegisterFileTypes("/opt/my apps/quillo$1\\x 100%"));
    // Quoted; $ and the backslash escaped for the quoting and once more for the file format.
    EXPECT_EQ(Exec(), "\"/opt/my apps/quillo\\\\$1\\\\\\\\x 100%%\" %F");

    // A path the entry cannot express, or one that depends on the working directory, is
    // refused before anything is written.
    fs::remove_all(home);
    for (const char* bad : {"/opt/odd\nname/quillo", "build/quillo", ""})
        EXPECT_FALSE(RegisterFileTypes(bad)) << bad;
    EXPECT_FALSE(fs::exists(home));
}

TEST_F(RegistrationTest, RegisteringAgainRewritesOnlyWhatChanged) {
    ASSERT_TRUE(RegisterFileTypes("/usr/bin/quillo"));
    Updates();
    std::vector<ino_t> before;
    for (const std::string& file : RegisteredFiles()) before.push_back(Inode(home + "/" + file));

    // Same program: every file stays the very same file and no cache is rebuilt.
    ASSERT_TRUE(RegisterFileTypes("/usr/bin/quillo"));
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(Inode(home + "/" + RegisteredFiles()[i]), before[i]) << RegisteredFiles()[i];
    EXPECT_TRUE(Updates().empty());

    // Another copy of the program: only the desktop entry follows it.
    ASSERT_TRUE(RegisterFileTypes("/usr/local/bin/quillo"));
    EXPECT_EQ(Exec(), "/usr/local/bin/quillo %F");
    EXPECT_EQ(Updates(), V{bothUpdates[1]});

    // A damaged MIME package is repaired.
    WriteText(home + "/mime/packages/quillo.xml", "<mime-info/>");
    ASSERT_TRUE(RegisterFileTypes("/usr/local/bin/quillo"));
    EXPECT_NE(ReadText(home + "/mime/packages/quillo.xml").find("*.qlx"), std::string::npos);
    EXPECT_EQ(Updates(), V{bothUpdates[0]});
}

TEST_F(RegistrationTest, UnregisterRemovesExactlyTheRegisteredFiles) {
    const V others = {"applications/other.desktop", "mime/packages/other.xml",
                      "icons/hicolor/48x48/apps/other.png", "mime/mime.cache"};
    for (const std::string& f : others) WriteText(home + "/" + f, "someone else's");
    ASSERT_TRUE(RegisterFileTypes("/usr/bin/quillo"));
    Updates();

    UnregisterFileTypes();
    for (const std::string& file : RegisteredFiles())
        EXPECT_FALSE(fs::exists(home + "/" + file)) << file;
    for (const std::string& f : others) EXPECT_EQ(ReadText(home + "/" + f), "someone else's") << f;
    EXPECT_EQ(Updates(), bothUpdates);

    // Nothing left to remove: nothing to refresh either.
    UnregisterFileTypes();
    EXPECT_TRUE(Updates().empty());
}

// The desktop must recognise the program's own files by name and by content: the magic
// has to be what the writer actually puts at the start of a file.
TEST_F(RegistrationTest, LayeredFilesAreRecognisedByGlobAndMagic) {
    ASSERT_TRUE(RegisterFileTypes("/usr/bin/quillo"));
    const std::string xml = ReadText(home + "/mime/packages/quillo.xml");
    for (const char* tag :
         {"<mime-type type=\"application/x-quillo-layered\">", "<glob pattern=\"*.qlx\"/>",
          "<icon name=\"application-x-quillo-layered\"/>"})
        EXPECT_NE(xml.find(tag), std::string::npos) << tag;

    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        xml, m, std::regex("<match type=\"string\" offset=\"(\\d+)\" value=\"([^\"]+)\"/>")));
    const size_t offset = std::stoul(m[1].str());
    const std::string magic = m[2].str();

    TLayeredImage image;
    ASSERT_EQ(image.Load(QUILLO_TEST_DATA "/sample.png"), SUCCESS);
    const std::string qlx = tmp + "/written.qlx";
    ASSERT_EQ(image.SaveNative(qlx.c_str()), SUCCESS);
    EXPECT_EQ(ReadText(qlx).substr(offset, magic.size()), magic);
    EXPECT_NE(ReadText(QUILLO_TEST_DATA "/sample.png").substr(offset, magic.size()), magic);
}

TEST_F(RegistrationTest, MissingUpdatersAndUnwritableFoldersAreHandled) {
    // No updaters on the PATH: registration still succeeds and runs nothing.
    ::setenv("PATH", (tmp + "/empty-bin").c_str(), 1);
    EXPECT_TRUE(RegisterFileTypes("/usr/bin/quillo"));
    EXPECT_TRUE(Updates().empty());

    // A data home that cannot hold folders makes registration fail, not crash.
    WriteText(tmp + "/not-a-folder", "x");
    ::setenv("XDG_DATA_HOME", (tmp + "/not-a-folder").c_str(), 1);
    EXPECT_FALSE(RegisterFileTypes("/usr/bin/quillo"));
    UnregisterFileTypes();
    EXPECT_EQ(ReadText(tmp + "/not-a-folder"), "x");
}

} // namespace
