// quillo-tool: the toolkit from the command line, for batch conversion, tests and benchmarks.
//
//   quillo-tool info FILE
//   quillo-tool convert IN OUT [--format CODE] [--bpp N] [--quality Q] [--dither METHOD] [--palette KIND]
//   quillo-tool flatten OUT IN...
//   quillo-tool layers FILE
//   quillo-tool stack OUT.qlx IN[@X,Y]...
//   quillo-tool apply IN OUT OP [ARGS...] [--threads N]   (apply --list: the operations)
//   quillo-tool script FILE|-
#include <sys/stat.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "Apply.h"
#include "CliCommon.h"
#include "LayeredImage.h"
#include "ScriptRunner.h"
#include "Toolkit.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage:\n"
                 "  quillo-tool info FILE\n"
                 "  quillo-tool convert IN OUT [--format CODE] [--bpp N] [--quality Q]\n"
                 "                             [--dither METHOD] [--palette KIND]\n"
                 "    METHOD: none floyd stucki burkes sierra stevenson-arce jarvis ordered\n"
                 "    KIND:   fixed optimized identity netscape\n"
                 "    Q:      JPEG quality in percent (0..100, default 75)\n"
                 "  quillo-tool flatten OUT IN...\n"
                 "    stacks the inputs as layers (the first is the background, all at 0,0)\n"
                 "    and saves what they show together; a .qlx input adds all its layers\n"
                 "  quillo-tool layers FILE\n"
                 "    lists the layers of an image: index, name, position, size, depth,\n"
                 "    visibility and whether it has a shape; then the current layer\n"
                 "  quillo-tool stack OUT.qlx IN[@X,Y]...\n"
                 "    writes a layered file from images placed at X,Y (default 0,0);\n"
                 "    the first is the background\n"
                 "  quillo-tool apply IN OUT OP [ARGS...] [--threads N]\n"
                 "    runs one processing operation on the image and saves the result;\n"
                 "    quillo-tool apply --list shows the operations and their arguments\n"
                 "  quillo-tool script FILE|-\n"
                 "    runs the editor without a window on the commands of FILE (- reads\n"
                 "    them from the standard input), one a line; see README\n");
    return 2;
}

// A layered file is not a format the toolkit knows: its canvas is the background layer.
int LayeredInfo(const char* path) {
    TLayeredImage image;
    const int rc = image.LoadNative(path);
    if (rc != SUCCESS) return Fail(path, rc);
    struct stat st {};
    const unsigned long long size = ::stat(path, &st) == 0 ? st.st_size : 0;
    const TLayer* bg = image.Count() ? image.Layers.At(0) : nullptr;
    std::printf(
        "format: qlx\nwidth: %d\nheight: %d\nbits per pixel: %d\nlayers: %d\n"
        "file size: %llu\n",
        bg ? bg->Width : 0, bg ? bg->Height : 0, bg ? bg->GetBitsPerPixel() : 0, image.Count(),
        size);
    return 0;
}

int Info(const char* path) {
    if (TLayeredImage::IsNativeFile(path)) return LayeredInfo(path);
    FILEINFO fi;
    int rc = L_FileInfo(path, &fi);
    if (rc != SUCCESS) return Fail(path, rc);
    std::printf(
        "format: %d\nwidth: %d\nheight: %d\nbits per pixel: %d\ncolors: %d\nfile size: %llu\n",
        fi.Format, fi.Width, fi.Height, fi.BitsPerPixel, fi.Colors,
        static_cast<unsigned long long>(fi.SizeDisk));
    return 0;
}

struct ConvertArgs {
    const char* in = nullptr;
    const char* out = nullptr;
    int format = 0;
    int bpp = 0;
    int quality = 75;
    L_UINT dither = CRF_FLOYDSTEINDITHERING;
    L_UINT palette = CRF_OPTIMIZEDPALETTE;
};

bool ParseDither(std::string_view s, L_UINT* out) {
    static const std::pair<const char*, L_UINT> kMethods[] = {
        {"none", CRF_NODITHERING},
        {"floyd", CRF_FLOYDSTEINDITHERING},
        {"floyd-steinberg", CRF_FLOYDSTEINDITHERING},
        {"stucki", CRF_STUCKIDITHERING},
        {"burkes", CRF_BURKESDITHERING},
        {"sierra", CRF_SIERRADITHERING},
        {"stevenson-arce", CRF_STEVENSONARCEDITHERING},
        {"jarvis", CRF_JARVISDITHERING},
        {"ordered", CRF_ORDEREDDITHERING},
    };
    for (auto& [name, flag] : kMethods)
        if (s == name) return *out = flag, true;
    return false;
}

bool ParsePalette(std::string_view s, L_UINT* out) {
    static const std::pair<const char*, L_UINT> kKinds[] = {
        {"fixed", CRF_FIXEDPALETTE},
        {"optimized", CRF_OPTIMIZEDPALETTE},
        {"identity", CRF_IDENTITYPALETTE},
        {"netscape", CRF_NETSCAPEPALETTE},
    };
    for (auto& [name, flag] : kKinds)
        if (s == name) return *out = flag, true;
    return false;
}

int Convert(const ConvertArgs& a) {
    int format = a.format ? a.format : FormatFromName(a.out);
    if (!format) {
        std::fprintf(stderr, "quillo-tool: cannot tell the format of %s; use --format CODE\n",
                     a.out);
        return 2;
    }
    BITMAPHANDLE bmp;
    int rc = L_LoadBitmap(a.in, &bmp, 0, ORDER_BGR);
    if (rc != SUCCESS) return Fail(a.in, rc);
    WarnIfTruncated(a.in);
    if (a.bpp && a.bpp != bmp.BitsPerPixel) {
        L_UINT flags = a.bpp <= 8 ? (a.dither | a.palette) : CRF_BYTEORDERBGR;
        rc = L_ColorResBitmap(&bmp, &bmp, a.bpp, flags, nullptr, 0);
        if (rc != SUCCESS) {
            L_FreeBitmap(&bmp);
            return Fail("converting", rc);
        }
    }
    rc = SaveImage(a.out, &bmp, format, a.bpp, a.quality);
    L_FreeBitmap(&bmp);
    if (rc != SUCCESS) return Fail(a.out, rc);
    return 0;
}

// Stacks the inputs as layers of one image and saves the flattened result in the format
// of OUT's extension, at the background's depth.
int FlattenFiles(const char* out, char** inputs, int count) {
    const int format = FormatFromName(out);
    if (!format) {
        std::fprintf(stderr, "quillo-tool: cannot tell the format of %s\n", out);
        return 2;
    }
    TLayeredImage image;
    for (int i = 0; i < count; ++i) {
        if (TLayeredImage::IsNativeFile(inputs[i])) {
            // A layered file brings every layer where it was saved.
            TLayeredImage part;
            int rc = part.LoadNative(inputs[i]);
            if (rc != SUCCESS) return Fail(inputs[i], rc);
            while (part.Count() > 0) image.Layers.Append(part.Layers.Take(0));
            continue;
        }
        auto layer = std::make_unique<TLayer>();
        int rc = layer->LoadFile(inputs[i]);
        if (rc != SUCCESS) return Fail(inputs[i], rc);
        layer->Name = image.Count() == 0 ? "Background" : inputs[i];
        image.Layers.Append(std::move(layer));
    }
    if (image.Count() == 0) return Fail(inputs[0], ERROR_NO_BITMAP);
    int rc = image.Flatten();
    if (rc != SUCCESS) return Fail("flattening", rc);
    TLayer& result = *image.Layers.At(0);
    // Deep pixels are kept at 32 bits; the file gets the depth the picture had.
    int saveBpp = result.GetBitsPerPixel() > 8 ? result.GetBitsPerPixel() : 0;
    if (format == FILE_JFIF) saveBpp = result.BitsPerPixel == 8 && result.IsGrayscale() ? 8 : 24;
    rc = L_SaveBitmap(out, &result, format, saveBpp, 0);
    if (rc == ERROR_BITPERPIXEL && saveBpp == 16) rc = L_SaveBitmap(out, &result, format, 24, 0);
    if (rc != SUCCESS) return Fail(out, rc);
    return 0;
}

int ListLayers(const char* path) {
    TLayeredImage image;
    int rc = image.Load(path);
    if (rc != SUCCESS) return Fail(path, rc);
    PrintLayers(image);
    return 0;
}

// "IN@X,Y" -> IN placed at (X, Y); anything else is a plain path at (0, 0).
void SplitPlacement(const std::string& arg, std::string* path, int* x, int* y) {
    *path = arg;
    *x = *y = 0;
    auto at = arg.rfind('@');
    auto comma = arg.find(',', at == std::string::npos ? 0 : at);
    if (at == std::string::npos || comma == std::string::npos) return;
    int px, py;
    if (!ParseInt(arg.substr(at + 1, comma - at - 1).c_str(), -1000000, 1000000, &px) ||
        !ParseInt(arg.substr(comma + 1).c_str(), -1000000, 1000000, &py))
        return;
    *path = arg.substr(0, at);
    *x = px;
    *y = py;
}

// Builds a layered file from ordinary images; the last one added is the current layer.
int StackFiles(const char* out, char** inputs, int count) {
    TLayeredImage image;
    for (int i = 0; i < count; ++i) {
        std::string path;
        int x, y;
        SplitPlacement(inputs[i], &path, &x, &y);
        auto layer = std::make_unique<TLayer>();
        int rc = layer->LoadFile(path.c_str());
        if (rc != SUCCESS) return Fail(path.c_str(), rc);
        if (i == 0) {
            layer->Name = "Background";
        } else {
            auto slash = path.find_last_of('/');
            layer->Name = slash == std::string::npos ? path : path.substr(slash + 1);
        }
        layer->X = x;
        layer->Y = y;
        image.Layers.Append(std::move(layer));
    }
    image.Layers.Seek(image.Count() - 1);
    int rc = image.SaveNative(out);
    if (rc != SUCCESS) return Fail(out, rc);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    std::string_view cmd = argv[1];
    if (cmd == "info") {
        if (argc != 3) return Usage();
        return Info(argv[2]);
    }
    if (cmd == "convert") {
        if (argc < 4) return Usage();
        ConvertArgs a;
        a.in = argv[2];
        a.out = argv[3];
        for (int i = 4; i < argc; ++i) {
            std::string_view opt = argv[i];
            const char* val = i + 1 < argc ? argv[i + 1] : nullptr;
            if (!val) return Usage();
            bool ok = false;
            if (opt == "--format")
                ok = ParseInt(val, 1, 1000, &a.format);
            else if (opt == "--bpp")
                ok = ParseInt(val, 1, 32, &a.bpp) && (a.bpp == 1 || a.bpp == 4 || a.bpp == 8 ||
                                                      a.bpp == 16 || a.bpp == 24 || a.bpp == 32);
            else if (opt == "--quality")
                ok = ParseInt(val, 0, 100, &a.quality);
            else if (opt == "--dither")
                ok = ParseDither(val, &a.dither);
            else if (opt == "--palette")
                ok = ParsePalette(val, &a.palette);
            if (!ok) {
                std::fprintf(stderr, "quillo-tool: bad option %s %s\n", argv[i], val);
                return Usage();
            }
            ++i;
        }
        return Convert(a);
    }
    if (cmd == "layers") {
        if (argc != 3) return Usage();
        return ListLayers(argv[2]);
    }
    if (cmd == "stack") {
        if (argc < 4) return Usage();
        return StackFiles(argv[2], argv + 3, argc - 3);
    }
    if (cmd == "script") {
        if (argc != 3) return Usage();
        return RunScriptFile(argv[2]);
    }
    if (cmd == "apply") return RunApply(argc - 2, argv + 2);
    if (cmd == "flatten") {
        if (argc < 4) return Usage();
        return FlattenFiles(argv[2], argv + 3, argc - 3);
    }
    return Usage();
}
