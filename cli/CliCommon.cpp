#include "CliCommon.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "LayeredImage.h"

int Fail(const char* what, int code) {
    // A write the file system refused says why ("The disk is full.").
    const L_INT cause = code == ERROR_FILE_WRITE ? L_GetLastWriteError() : 0;
    std::fprintf(stderr, "quillo-tool: %s: %s%s%s\n", what, L_ErrorMessage(code), cause ? " " : "",
                 L_WriteErrorText(cause));
    return 1;
}

void WarnIfTruncated(const char* path) {
    if (L_GetLoadWarnings() & LOADWARN_TRUNCATED)
        std::fprintf(stderr,
                     "quillo-tool: %s: The file ends early; the missing part is shown in gray.\n",
                     path);
}

bool ParseInt(const char* s, int lo, int hi, int* out) {
    char* end = nullptr;
    long v = std::strtol(s, &end, 10);
    if (!*s || *end || v < lo || v > hi) return false;
    *out = int(v);
    return true;
}

// Fax pages in our .fxs container, group 3 one- and two-dimensional.
constexpr int kFaxPage = 70, kFaxPage2D = 69;

int FormatFromName(const std::string& path) {
    auto dot = path.find_last_of('.');
    if (dot == std::string::npos) return 0;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "bmp" || ext == "dib") return FILE_BMP;
    if (ext == "png") return FILE_PNG;
    if (ext == "jpg" || ext == "jpeg" || ext == "jff" || ext == "jpe") return FILE_JFIF;
    if (ext == "tif" || ext == "tiff") return FILE_TIFLZW;
    if (ext == "jtf") return FILE_JTIF;
    if (ext == "pcx" || ext == "dcx") return FILE_PCX;
    if (ext == "tga") return FILE_TGA;
    if (ext == "ras" || ext == "sun") return FILE_SUN_RAS;
    if (ext == "cal" || ext == "cals") return FILE_CALS;
    if (ext == "psd") return FILE_PSD;
    if (ext == "gif") return FILE_GIF;
    if (ext == "mac" || ext == "pntg") return FILE_MACPAINT;
    if (ext == "img") return FILE_GEM;
    if (ext == "msp") return FILE_MSP;
    if (ext == "pct" || ext == "pict") return FILE_PICT;
    if (ext == "cmp") return FILE_CMP;
    if (ext == "wpg") return FILE_WPG;
    if (ext == "ica") return FILE_MODCA_G4;
    if (ext == "fpx") return FILE_FPX_JPEG;
    if (ext == "fxs") return kFaxPage;
    return 0;
}

L_INT SaveImage(const char* path, pBITMAPHANDLE b, int format, int bpp, int quality) {
    // The toolkit's quality factor counts down from best (0) to smallest (255).
    const int qfactor = 255 - int(std::lround(quality * 255.0 / 100.0));
    // A depth the format cannot hold is converted on the way out when the user did not ask
    // for a particular one: JPEG has no alpha or palettes, so 32 and 4 bits become 24 and 8;
    // the fax types and the old paint programs' formats hold black and white only.
    int saveBpp = 0;
    if (!bpp && (format == FILE_JFIF || format == FILE_LEAD1JFIF || format == FILE_LEAD2JFIF ||
                 format == FILE_JTIF || format == FILE_LEAD2JTIF || format == FILE_LEAD1JTIF))
        saveBpp = b->BitsPerPixel == 8 && L_IsGrayScaleBitmap(b) != GRAY_NO ? 8 : 24;
    // CMYK TIFF keeps alpha at 32 bits; YCbCr and the Exif types hold 24-bit colour only.
    if (!bpp &&
        (format == FILE_TIF_CMYK || format == FILE_TIFLZW_CMYK || format == FILE_TIF_PACKBITS_CMYK))
        saveBpp = b->BitsPerPixel == 32 ? 32 : 24;
    if (!bpp && ((format >= FILE_TIF_YCC && format <= FILE_TIF_PACKBITS_YCC) ||
                 format == FILE_EXIF || format == FILE_EXIF_YCC || format == FILE_EXIF_JPEG))
        saveBpp = 24;
    const bool mono = format == FILE_CALS || format == FILE_CCITT ||
                      (format >= FILE_CCITT_GROUP3_1DIM && format <= FILE_CCITT_GROUP4) ||
                      format == FILE_MACPAINT || format == FILE_GEM || format == FILE_MSP ||
                      (format >= FILE_MODCA_G3_1DIM && format <= FILE_MODCA_G4) ||
                      (format >= FILE_IOCA_G3_1DIM && format <= FILE_IOCA_G4) ||
                      format == kFaxPage || format == kFaxPage2D;
    if (!bpp && mono) saveBpp = 1;
    // WordPerfect bitmaps hold palettes of up to 256 colours.
    if (!bpp && format == FILE_WPG && b->BitsPerPixel > 8) saveBpp = 8;
    // Our own .cmp keeps black and white pictures losslessly and codes the rest as JPEG does.
    if (format == FILE_CMP && b->BitsPerPixel == 1 && (!bpp || bpp == 1)) format = FILE_CMP_1BIT;
    if (!bpp && format == FILE_CMP)
        saveBpp = b->BitsPerPixel == 8 && L_IsGrayScaleBitmap(b) != GRAY_NO ? 8 : 24;
    return L_SaveBitmap(path, b, format, saveBpp, qfactor);
}

void PrintLayers(const TLayeredImage& image) {
    for (int i = 0; i < image.Count(); ++i) {
        TLayer& l = *image.Layers.At(i);
        std::printf("%d name=\"%s\" x=%d y=%d width=%d height=%d depth=%d visible=%d shape=%d\n", i,
                    l.Name.c_str(), l.X, l.Y, l.Width, l.Height, l.GetBitsPerPixel(),
                    l.Visible ? 1 : 0, L_BitmapHasRgn(&l));
    }
    std::printf("current=%d\n", image.Count() ? image.GetCurrentIndex() : -1);
}
