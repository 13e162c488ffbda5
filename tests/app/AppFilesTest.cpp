// Where the program looks for its defaults file, intro picture, help and data.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>

#include "AppFiles.h"
#include "support/TestFiles.h"
#include "toolkit/TestImages.h"

namespace {

namespace fs = std::filesystem;
using V = std::vector<std::string>;

using support::ReadText;
using support::WriteText;

// A fresh folder per test; environment variables set through Set() get their old values back.
class AppFilesTest : public ::testing::Test {
protected:
    void Set(const std::string& name, const std::optional<std::string>& value) {
        env_.Set(name, value);
    }

    const std::string tmp = testimg::TempDir("appfiles");

private:
    support::TScopedEnv env_;
};

TEST_F(AppFilesTest, DefaultsAreSearchedBesideTheProgramThenInTheUserAndSystemDataFolders) {
    Set("XDG_DATA_HOME", tmp + "/home");
    Set("XDG_DATA_DIRS", tmp + "/a:relative/dir::" + tmp + "/b/");
    // The program's own folder comes first: a copy of the editor carries its own defaults.
    ASSERT_TRUE(fs::is_regular_file(ExecutablePath()));
    const std::string exeDir = fs::path(ExecutablePath()).parent_path().string();
    EXPECT_EQ(DefaultsSearchDirs(),
              (V{exeDir, tmp + "/home/quillo", tmp + "/a/quillo", tmp + "/b/quillo"}));

    // Without the variables: the user's ~/.local/share and the standard system folders.
    // A relative XDG_DATA_HOME is not a usable setting.
    Set("XDG_DATA_HOME", "relative/home");
    Set("HOME", "/home/someone");
    Set("XDG_DATA_DIRS", std::nullopt);
    EXPECT_EQ(DefaultsSearchDirs(), (V{exeDir, "/home/someone/.local/share/quillo",
                                       "/usr/local/share/quillo", "/usr/share/quillo"}));
}

TEST_F(AppFilesTest, TheFirstDefaultsFileAlongTheSearchPathWins) {
    Set("XDG_DATA_HOME", tmp + "/home");
    Set("XDG_DATA_DIRS", tmp + "/a:" + tmp + "/b");
    EXPECT_EQ(FindDefaultsFile(), "");

    WriteText(tmp + "/b/quillo/QuilloDef.ini", "[Intro]\n");
    // A folder of that name is not the file; the search goes on past it.
    fs::create_directories(tmp + "/a/quillo/QuilloDef.ini");
    EXPECT_EQ(FindDefaultsFile(), tmp + "/b/quillo/QuilloDef.ini");
    WriteText(tmp + "/home/quillo/QuilloDef.ini", "[Intro]\n");
    EXPECT_EQ(FindDefaultsFile(), tmp + "/home/quillo/QuilloDef.ini");

    EXPECT_EQ(FindFileIn({"", tmp + "/nowhere", tmp + "/b/quillo/"}, "QuilloDef.ini"),
              tmp + "/b/quillo/QuilloDef.ini");
}

TEST_F(AppFilesTest, IntroImageIsResolvedAgainstTheDefaultsFilesFolder) {
    const std::string ini = tmp + "/share/quillo/QuilloDef.ini";
    WriteText(tmp + "/share/quillo/pictures/intro.png", "png");
    WriteText(tmp + "/elsewhere/big.png", "png");
    // Names of sections and keys are not case-sensitive; blanks around the value are dropped.
    WriteText(ini, "[other]\nIntroImage=nope.png\n[INTRO]\nintroimage =  " + tmp +
                       "/elsewhere/big.png \n");
    EXPECT_EQ(IntroImagePath(ini), tmp + "/elsewhere/big.png");

    // Every way of not naming a usable picture gives none, so the built-in one is shown.
    for (const std::string text :
         {"[Intro]\nIntroImage=missing.png\n", "[Intro]\nIntroImage=\n",
          "[Intro]\nIntroImage=pictures\n", "[Other]\nIntroImage=pictures/intro.png\n", ""}) {
        WriteText(ini, text);
        EXPECT_EQ(IntroImagePath(ini), "") << text;
    }
    EXPECT_EQ(IntroImagePath(tmp + "/no-such.ini"), "");
    EXPECT_EQ(IntroImagePath(std::string()), "");

    // A relative name, found through the search.
    Set("XDG_DATA_HOME", tmp + "/empty");
    Set("XDG_DATA_DIRS", tmp + "/share");
    WriteText(ini, "[Intro]\nIntroImage=pictures/intro.png\n");
    EXPECT_EQ(IntroImagePath(), tmp + "/share/quillo/pictures/intro.png");
}

// Every topic the program can ask for, and every link between the pages, lands on a page
// and an anchor that exist; otherwise F1 would show an empty window or the wrong place.
TEST(HelpFiles, TopicsAndLinksLeadToExistingPagesAndAnchors) {
    const std::string index = FindHelpFile();
    ASSERT_FALSE(index.empty()) << "the bundled help is missing";
    const fs::path folder = fs::path(index).parent_path();

    auto check = [&](const std::string& target, const std::string& from) {
        const fs::path file = folder / target.substr(0, target.find('#'));
        ASSERT_TRUE(fs::is_regular_file(file)) << target << " from " << from;
        if (const auto hash = target.find('#'); hash != std::string::npos) {
            EXPECT_NE(ReadText(file.string()).find("id=\"" + target.substr(hash + 1) + "\""),
                      std::string::npos)
                << target << " from " << from;
        }
    };

    EXPECT_EQ(HelpPageFor(-5), "index.html");
    EXPECT_GT(HelpTopics().size(), 0u);
    for (const THelpTopic& t : HelpTopics()) {
        EXPECT_EQ(HelpPageFor(t.ContextId), t.Page);
        check(t.Page, "topic " + std::to_string(t.ContextId));
    }

    const std::regex href("href=\"([^\"]+)\"");
    int pages = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() != ".html") continue;
        ++pages;
        const std::string text = ReadText(entry.path().string());
        for (std::sregex_iterator it(text.begin(), text.end(), href), end; it != end; ++it)
            check((*it)[1].str(), entry.path().filename().string());
    }
    EXPECT_GE(pages, 5);
}

} // namespace
