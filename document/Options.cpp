#include "Options.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "ErrorCodes.h"
#include "ProfileFile.h"
#include "XdgDirs.h"

double TOptions::ToUnits(double pixels, double resolution) const {
    switch (MeasurementUnits) {
        case UNITS_PIXELS: return pixels;
        case UNITS_CENTIMETRES:
        case UNITS_INCHES:
            // Bitmaps without a stored resolution carry 0; dividing by it would give infinity,
            // which turns into garbage once a dialog rounds it to an integer.
            if (!(resolution > 0)) return -1.0;
            return MeasurementUnits == UNITS_INCHES ? pixels / resolution
                                                    : pixels / resolution * 2.54;
        default: return -1.0;
    }
}

double TOptions::ToPixels(double units, double resolution) const {
    switch (MeasurementUnits) {
        case UNITS_PIXELS: return units;
        case UNITS_INCHES: return units * resolution;
        case UNITS_CENTIMETRES: return units * resolution * 0.3937007874015748;
        default: return -1.0;
    }
}

TOptions& Options() {
    static TOptions options;
    return options;
}

// ---------------------------------------------------------------------------
// The settings file.

namespace {

const char* const kSection = "Options";

// Paths and other free texts are kept to the length the settings dialogs accept.
constexpr size_t kMaxText = 255;
// The colour is read as the old fixed-size buffer did: at most this many characters.
constexpr size_t kMaxColourText = 15;

bool ParseHexColour(std::string text, COLORREF& colour) {
    if (text.size() > kMaxColourText) text.resize(kMaxColourText);
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 2])))
        i += 2;
    uint64_t v = 0; // 15 hex digits at most: fits
    size_t digits = 0;
    for (; i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i])); ++i, ++digits) {
        char c = char(std::tolower(static_cast<unsigned char>(text[i])));
        v = v * 16 + uint64_t(c <= '9' ? c - '0' : c - 'a' + 10);
    }
    if (!digits) return false;
    // The file holds a plain RGB value; higher bits would turn it into a palette index.
    colour = COLORREF(v & 0xFFFFFFu);
    return true;
}

std::string Hex(COLORREF c) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%lx", static_cast<unsigned long>(c));
    return buf;
}

std::string Clipped(std::string s) {
    if (s.size() > kMaxText) s.resize(kMaxText);
    return s;
}

} // namespace

void TOptions::Load(const TProfileFile& p) {
    const TOptions d; // the defaults
    auto Int = [&](const char* key, int def) { return p.GetInt(kSection, key, def); };
    auto Bool = [&](const char* key, bool def) {
        return p.GetInt(kSection, key, def ? 1 : 0) != 0;
    };

    PrinterOptimization = Int("Printer Optimization", d.PrinterOptimization);
    JpegCompression = std::clamp(Int("JPEG Compression", d.JpegCompression), 0, 100);
    CmpCompression = std::clamp(Int("CMP Compression", d.CmpCompression), 0, 100);
    TiffCompressionType = Int("TIFF Compression Type", d.TiffCompressionType);
    TiffColorSpace = Int("TIFF Color Space", d.TiffColorSpace);
    MeasurementUnits = Int("Measurement Units", d.MeasurementUnits);
    DefaultDirectory = Clipped(p.GetString(kSection, "Default Directory", d.DefaultDirectory));
    DefaultFileType = Int("Default File Type", d.DefaultFileType);
    OverrideBkgndColor = Bool("Override Bkgnd Color", d.OverrideBkgndColor);
    BackgroundColor = d.BackgroundColor;
    ParseHexColour(p.GetString(kSection, "Background Color"), BackgroundColor);
    EnablePhotoshopPlugins = Bool("Enable Photoshop Plugins", d.EnablePhotoshopPlugins);
    PhotoshopPluginDirectory =
        Clipped(p.GetString(kSection, "Photoshop Plugin Directory", d.PhotoshopPluginDirectory));
    ToolOptX = Int("ToolOptX", d.ToolOptX);
    ToolOptY = Int("ToolOptY", d.ToolOptY);
    LayerListX = Int("LayerListX", d.LayerListX);
    LayerListY = Int("LayerListY", d.LayerListY);
    LayerListW = Int("LayerListW", d.LayerListW);
    LayerListH = Int("LayerListH", d.LayerListH);
    // A negative value cannot mean anything but "never"; a huge one is capped at a day so
    // the timer's millisecond count cannot overflow.
    AutosaveMinutes = std::clamp(Int("Autosave Minutes", d.AutosaveMinutes), 0, 24 * 60);
}

void TOptions::Save(TProfileFile& p) const {
    auto Int = [&](const char* key, int v) { p.WriteString(kSection, key, std::to_string(v)); };
    auto Bool = [&](const char* key, bool v) { p.WriteString(kSection, key, v ? "1" : "0"); };
    // A text with a line break cannot be stored; writing it empty beats keeping a stale value.
    auto Text = [&](const char* key, const std::string& v) {
        if (!p.WriteString(kSection, key, Clipped(v))) p.WriteString(kSection, key, "");
    };

    Int("Printer Optimization", PrinterOptimization);
    Int("JPEG Compression", JpegCompression);
    Int("CMP Compression", CmpCompression);
    Int("TIFF Compression Type", TiffCompressionType);
    Int("TIFF Color Space", TiffColorSpace);
    Int("Measurement Units", MeasurementUnits);
    Text("Default Directory", DefaultDirectory);
    Int("Default File Type", DefaultFileType);
    Bool("Override Bkgnd Color", OverrideBkgndColor);
    p.WriteString(kSection, "Background Color", Hex(BackgroundColor & 0xFFFFFFu));
    Bool("Enable Photoshop Plugins", EnablePhotoshopPlugins);
    Text("Photoshop Plugin Directory", PhotoshopPluginDirectory);
    Int("ToolOptX", ToolOptX);
    Int("ToolOptY", ToolOptY);
    Int("LayerListX", LayerListX);
    Int("LayerListY", LayerListY);
    Int("LayerListW", LayerListW);
    Int("LayerListH", LayerListH);
    Int("Autosave Minutes", AutosaveMinutes);
}

void TOptions::Load(const std::string& path) { Load(TProfileFile::Read(path)); }

L_INT TOptions::Save(const std::string& path) const {
    if (path.empty()) return ERROR_INV_FILENAME;
    std::error_code ec;
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    if (ec) return ERROR_FILE_OPEN;
    TProfileFile p = TProfileFile::Read(path);
    Save(p);
    return p.Write(path);
}

std::string DefaultSettingsPath() {
    const std::string base = XdgBaseDir("XDG_CONFIG_HOME", ".config");
    return base.empty() ? base : base + "/quillo/Quillo32.ini";
}
