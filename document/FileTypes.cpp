#include "FileTypes.h"

#include <algorithm>

namespace {

using R = TDepthRule;

std::vector<TFileType> BuildTypes() {
    const std::vector<int> all = {1, 4, 8, 16, 24, 32};
    const std::vector<int> one = {1};
    return {
        {"All image files",
         1401,
         "*.qlx;*.bmp;*.jpg;*.tif;*.pcx;*.dcx;*.png;*.cmp;*.pcd;*.fpx;*.psd;*.tga;*.eps;*.ras;*."
         "wpg;*.pct;*.mac;"
         "*.img;*.msp;*.cal;*.ica;*.fxs;*.jff;*.jtf;*.gif",
         "",
         0,
         R::None,
         {},
         true},
        {"QLX multilayered images", 0, "*.qlx", "qlx", FORMAT_NATIVE, R::Candidates, all, false},
        {"Windows bitmaps", 1402, "*.bmp", "bmp", 6, R::Candidates, all, false},
        {"OS/2 bitmaps", 1403, "*.bmp", "bmp", 14, R::Candidates, {1, 4, 8, 24}, false},
        {"JPEG images", 1404, "*.jpg;*.jff", "jpg", 10, R::GrayOr24, {}, false},
        {"TIFF images", 1407, "*.tif", "tif", 3, R::Tiff, {}, false},
        {"JTIF images", 1405, "*.jtf", "jtf", 11, R::GrayOr24, {}, false},
        {"PCX images", 1408, "*.pcx;*.dcx", "pcx", 1, R::Candidates, {1, 4, 8, 24}, false},
        {"PNG images", 1414, "*.png", "png", 75, R::Candidates, {1, 4, 8, 24}, false},
        {"LEAD images", 1409, "*.cmp", "cmp", 20, R::Lead, {}, false},
        {"PhotoCD images", 1410, "*.pcd", "pcd", 0, R::None, {}, true},
        {"FlashPix images", 1411, "*.fpx", "fpx", 82, R::GrayOr24, {}, false},
        {"PhotoShop PSD", 1413, "*.psd", "psd", 76, R::Candidates, {1, 8, 24}, false},
        {"TARGA images", 1415, "*.tga", "tga", 4, R::Candidates, {8, 16, 24, 32}, false},
        {"Encapsulated PostScript pictures", 1416, "*.eps", "eps", 0, R::None, {}, true},
        {"SUN raster images", 1417, "*.ras", "ras", 55, R::Candidates, {1, 4, 8, 24, 32}, false},
        {"WordPerfect images", 1418, "*.wpg", "wpg", 54, R::Candidates, {1, 4, 8}, false},
        {"Macintosh Pict images", 1419, "*.pct", "pct", 56, R::Candidates, {1, 4, 8, 24}, false},
        {"MacPaint images", 1420, "*.mac", "mac", 51, R::Candidates, one, false},
        {"GEM images", 1421, "*.img", "img", 52, R::Candidates, one, false},
        {"Microsoft Paint images", 1422, "*.msp", "msp", 53, R::Candidates, one, false},
        {"CALS images", 1423, "*.cal", "cal", 50, R::Candidates, one, false},
        {"Wrapped IBM IOCA", 1424, "*.ica", "ica", 73, R::Candidates, one, false},
        {"Raw IBM IOCA", 1425, "*.ica", "ica", 79, R::Candidates, one, false},
        {"WinFax images", 1426, "*.fxs", "fxs", 70, R::Candidates, one, false},
        {"CCITT TIFF", 1427, "*.tif", "tif", 29, R::Candidates, one, false},
        {"Exif (TIFF-RGB)", 1428, "*.tif", "tif", 96, R::Candidates, {24}, false},
        {"Exif (TIFF-YCbCr)", 1429, "*.tif", "tif", 97, R::Candidates, {24}, false},
        {"Exif (JPEG)", 1430, "*.jpg", "jpg", 98, R::Candidates, {24}, false},
    };
}

struct TFormatMapping {
    int Code;
    const char* Description;
};

// Format codes of files the program opens and the type each one belongs to. GIF (2) and
// Windows metafiles (15) have descriptions but no registered type, so they are left out:
// such a file keeps the type it was opened with.
constexpr TFormatMapping kFormatTypes[] = {
    {1, "PCX images"},
    {3, "TIFF images"},
    {17, "TIFF images"},
    {85, "TIFF images"},
    {86, "TIFF images"},
    {87, "TIFF images"},
    {88, "TIFF images"},
    {93, "TIFF images"},
    {94, "TIFF images"},
    {95, "TIFF images"},
    {4, "TARGA images"},
    {5, "LEAD images"},
    {20, "LEAD images"},
    {26, "LEAD images"},
    {30, "LEAD images"},
    {31, "LEAD images"},
    {6, "Windows bitmaps"},
    {10, "JPEG images"},
    {21, "JPEG images"},
    {23, "JPEG images"},
    {11, "JTIF images"},
    {22, "JTIF images"},
    {24, "JTIF images"},
    {14, "OS/2 bitmaps"},
    {74, "OS/2 bitmaps"},
    {16, "Encapsulated PostScript pictures"},
    {63, "Encapsulated PostScript pictures"},
    {25, "CCITT TIFF"},
    {27, "CCITT TIFF"},
    {28, "CCITT TIFF"},
    {29, "CCITT TIFF"},
    {50, "CALS images"},
    {51, "MacPaint images"},
    {52, "GEM images"},
    {53, "Microsoft Paint images"},
    {54, "WordPerfect images"},
    {55, "SUN raster images"},
    {56, "Macintosh Pict images"},
    {57, "PhotoCD images"},
    {69, "WinFax images"},
    {70, "WinFax images"},
    {71, "Wrapped IBM IOCA"},
    {72, "Wrapped IBM IOCA"},
    {73, "Wrapped IBM IOCA"},
    {75, "PNG images"},
    {76, "PhotoShop PSD"},
    {77, "Raw IBM IOCA"},
    {78, "Raw IBM IOCA"},
    {79, "Raw IBM IOCA"},
    {80, "FlashPix images"},
    {96, "Exif (TIFF-RGB)"},
    {97, "Exif (TIFF-YCbCr)"},
    {98, "Exif (JPEG)"},
    {FORMAT_NATIVE, "QLX multilayered images"},
};

constexpr unsigned kCommonFlags =
    DT_AUTODELETE | DT_UPDATEDIR | DT_PATHMUSTEXIST | DT_HIDEREADONLY | DT_OVERWRITEPROMPT;

} // namespace

const std::vector<TFileType>& FileTypes() {
    static const std::vector<TFileType> types = BuildTypes();
    return types;
}

const TFileType* FindFileType(const std::string& description) {
    for (const TFileType& t : FileTypes())
        if (description == t.Description) return &t;
    return nullptr;
}

std::string OpenFilterDescription(const std::string& description) {
    // Our .cmp container is our own; other programs' .cmp files are refused as unknown.
    if (description == "LEAD images")
        return description + " (Quillo's own; .cmp files of other programs do not open)";
    return description;
}

std::vector<std::unique_ptr<TDocTemplate>> CreateFileTypeTemplates() {
    std::vector<std::unique_ptr<TDocTemplate>> out;
    for (const TFileType& t : FileTypes())
        out.push_back(std::make_unique<TDocTemplate>(
            t.Description, t.Filter, t.DefaultExt, kCommonFlags | (t.OpenOnly ? DT_READONLY : 0u)));
    return out;
}

const char* FileTypeForFormat(int formatCode) {
    for (const TFormatMapping& m : kFormatTypes)
        if (m.Code == formatCode) return m.Description;
    return nullptr;
}

TTiffFormat TiffSaveFormat(int compression, int colorSpace) {
    static constexpr int kCodes[3][3] = {{3, 17, 87}, {85, 86, 88}, {93, 94, 95}};
    if (compression < 0 || compression > 2) compression = 0;
    if (colorSpace < 0 || colorSpace > 2) colorSpace = 0;
    TTiffFormat f;
    f.Code = kCodes[colorSpace][compression];
    switch (colorSpace) {
        case 0: f.Depths = {1, 2, 3, 4, 5, 6, 7, 8, 16, 24, 32}; break;
        case 1: f.Depths = {24, 32}; break;
        default: f.Depths = {24}; break;
    }
    return f;
}

int PickCandidateDepth(const std::vector<int>& candidates, int bpp) {
    if (candidates.empty()) return 0;
    for (int d : candidates)
        if (d >= bpp) return d;
    return *std::max_element(candidates.begin(), candidates.end());
}

TSaveFormat ChooseSaveFormat(const TFileType& type, int logicalBpp, bool grayscale,
                             int tiffCompression, int tiffColorSpace) {
    switch (type.Rule) {
        case TDepthRule::None: return {};
        case TDepthRule::Candidates:
            return {type.SaveCode, PickCandidateDepth(type.Depths, logicalBpp)};
        case TDepthRule::GrayOr24: return {type.SaveCode, grayscale ? 8 : 24};
        case TDepthRule::Lead:
            if (logicalBpp == 1) return {26, 1};
            return {type.SaveCode, grayscale ? 8 : 24};
        case TDepthRule::Tiff: {
            TTiffFormat f = TiffSaveFormat(tiffCompression, tiffColorSpace);
            return {f.Code, PickCandidateDepth(f.Depths, logicalBpp)};
        }
    }
    return {};
}
