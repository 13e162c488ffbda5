// The settings file as the program reads and writes it.
#include <gtest/gtest.h>

#include <string>

#include "ErrorCodes.h"
#include "Options.h"
#include "ProfileFile.h"
#include "support/TestFiles.h"
#include "toolkit/TestImages.h"

namespace {

std::string TempDir() { return testimg::TempDir("options"); }
using support::ReadText;
using support::WriteText;

TOptions Changed() {
    TOptions o;
    o.PrinterOptimization = 0;
    o.JpegCompression = 33;
    o.CmpCompression = 44;
    o.TiffCompressionType = 1;
    o.TiffColorSpace = 2;
    o.MeasurementUnits = UNITS_INCHES;
    o.DefaultDirectory = "/home/me/My Pictures";
    o.DefaultFileType = 3;
    o.OverrideBkgndColor = true;
    o.BackgroundColor = RGB(0x12, 0xab, 0x0c);
    o.EnablePhotoshopPlugins = true;
    o.PhotoshopPluginDirectory = "/opt/plug ins";
    o.ToolOptX = -5;
    o.ToolOptY = 7;
    o.LayerListX = 1000;
    o.LayerListY = 20;
    o.LayerListW = 321;
    o.LayerListH = 456;
    o.AutosaveMinutes = 0;
    return o;
}

// Every field, as the file would hold it (the exact format is checked below).
std::string Fields(const TOptions& o) {
    TProfileFile p;
    o.Save(p);
    return p.Text();
}

TEST(OptionsFile, MissingFileOrKeysGiveTheDefaults) {
    std::string dir = TempDir();
    TOptions o = Changed();
    o.Load(dir + "/absent.ini");
    EXPECT_EQ(Fields(o), Fields(TOptions()));
    EXPECT_EQ(o.BackgroundColor, RGB(0x80, 0x80, 0x80));

    WriteText(dir + "/partial.ini", "[Options]\nJPEG Compression=90\n");
    o = Changed();
    o.Load(dir + "/partial.ini");
    EXPECT_EQ(o.JpegCompression, 90);
    EXPECT_EQ(o.LayerListH, 100);
    EXPECT_EQ(o.DefaultDirectory, ".");
    EXPECT_EQ(o.AutosaveMinutes, 5);

    // A negative period can only mean "never".
    WriteText(dir + "/negative.ini", "[Options]\nAutosave Minutes=-3\n");
    o.Load(dir + "/negative.ini");
    EXPECT_EQ(o.AutosaveMinutes, 0);
}

TEST(OptionsFile, WritesExactlyTheKnownKeysAndFormats) {
    std::string dir = TempDir();
    std::string path = dir + "/new/quillo/Quillo32.ini"; // the folders do not exist yet
    ASSERT_EQ(Changed().Save(path), SUCCESS);
    EXPECT_EQ(ReadText(path),
              "[Options]\n"
              "Printer Optimization=0\n"
              "JPEG Compression=33\n"
              "CMP Compression=44\n"
              "TIFF Compression Type=1\n"
              "TIFF Color Space=2\n"
              "Measurement Units=1\n"
              "Default Directory=/home/me/My Pictures\n"
              "Default File Type=3\n"
              "Override Bkgnd Color=1\n"
              "Background Color=cab12\n"
              "Enable Photoshop Plugins=1\n"
              "Photoshop Plugin Directory=/opt/plug ins\n"
              "ToolOptX=-5\n"
              "ToolOptY=7\n"
              "LayerListX=1000\n"
              "LayerListY=20\n"
              "LayerListW=321\n"
              "LayerListH=456\n"
              "Autosave Minutes=0\n");
    TOptions back;
    back.Load(path);
    EXPECT_EQ(Fields(back), Fields(Changed()));

    // Saving again keeps what other parts of the program (or other versions) stored there.
    WriteText(path, "[Placement]\nIsMaximized=1\n[Options]\nFuture Key=yes\nJPEG Compression=1\n");
    ASSERT_EQ(TOptions().Save(path), SUCCESS);
    TProfileFile p = TProfileFile::Read(path);
    EXPECT_EQ(p.GetString("Placement", "IsMaximized"), "1");
    EXPECT_EQ(p.GetString("Options", "Future Key"), "yes");
    EXPECT_EQ(p.GetString("Options", "JPEG Compression"), "75");
    EXPECT_EQ(p.GetString("Options", "Background Color"), "808080");
    EXPECT_EQ(p.GetString("Options", "Override Bkgnd Color"), "0");
}

TEST(OptionsFile, ReadsValuesAsTheOldProgramWroteThem) {
    auto Read = [](const std::string& body) {
        TOptions o;
        o.Load(TProfileFile("[Options]\n" + body));
        return o;
    };
    EXPECT_EQ(Read("Background Color=ff\n").BackgroundColor, RGB(255, 0, 0));
    EXPECT_EQ(Read("Background Color=FF00\n").BackgroundColor, RGB(0, 255, 0));
    EXPECT_EQ(Read("Background Color=0xff0000\n").BackgroundColor, RGB(0, 0, 255));
    // Only 15 characters are read: the "ff" at the end is cut off.
    EXPECT_EQ(Read("Background Color=000000000000000ff\n").BackgroundColor, 0u);
    EXPECT_EQ(Read("Background Color=nothex\n").BackgroundColor, RGB(0x80, 0x80, 0x80));
    // Bits above RGB would make the colour a palette index.
    EXPECT_FALSE(IsPaletteIndex(Read("Background Color=1000005\n").BackgroundColor));

    TOptions o = Read(
        "Override Bkgnd Color=5\nEnable Photoshop Plugins=0\nJPEG Compression=500\n"
        "CMP Compression=-3\n");
    EXPECT_TRUE(o.OverrideBkgndColor);
    EXPECT_FALSE(o.EnablePhotoshopPlugins);
    EXPECT_EQ(o.JpegCompression, 100);
    EXPECT_EQ(o.CmpCompression, 0);
    EXPECT_EQ(Read("Default Directory=" + std::string(300, 'd') + "\n").DefaultDirectory.size(),
              255u);
}

TEST(OptionsFile, SettingsLiveInTheUsersConfigFolder) {
    support::TScopedEnv env;
    env.Set("HOME", "/home/u");
    env.Set("XDG_CONFIG_HOME", "/cfg");
    EXPECT_EQ(DefaultSettingsPath(), "/cfg/quillo/Quillo32.ini");
    env.Set("XDG_CONFIG_HOME", "relative");
    EXPECT_EQ(DefaultSettingsPath(), "/home/u/.config/quillo/Quillo32.ini");
    env.Set("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(DefaultSettingsPath(), "/home/u/.config/quillo/Quillo32.ini");
    env.Set("HOME", std::nullopt);
    EXPECT_EQ(DefaultSettingsPath(), "");
    EXPECT_EQ(TOptions().Save(DefaultSettingsPath()), ERROR_INV_FILENAME);
}

} // namespace
