// quillo-tool apply IN OUT OP [ARGS...] [--threads N]: loads IN, runs one processing
// operation on the whole image and saves OUT in the format of its extension.
#include "Apply.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "CliCommon.h"
#include "Effects.h"
#include "OwnedBitmap.h"
#include "Processing.h"

namespace {

enum class TArgKind { Int, Color, File };

struct TArg {
    const char* name;
    TArgKind kind = TArgKind::Int;
    int lo = 0, hi = 0;
    // Words that stand for lo, lo + 1, ... (the number itself is accepted too).
    std::vector<const char*> words = {};
};

// The parsed arguments of one call.
struct TValues {
    std::vector<int> n;
    std::vector<std::string> files;
};

struct TOp {
    const char* name;
    const char* what; // the function behind it and what the arguments mean
    std::vector<TArg> args;
    std::function<L_INT(BITMAPHANDLE*, const TValues&)> run;
};

const std::vector<const char*> kDirections = {"n", "ne", "e", "se", "s", "sw", "w", "nw"};
const std::vector<const char*> kChannels = {"all", "red", "green", "blue"};
const std::vector<const char*> kFilters = {
    "emboss-n",           "emboss-ne",        "emboss-e",         "emboss-se",
    "emboss-s",           "emboss-sw",        "emboss-w",         "emboss-nw",
    "gradient-n",         "gradient-ne",      "gradient-e",       "gradient-se",
    "gradient-s",         "gradient-sw",      "gradient-w",       "gradient-nw",
    "laplace-1",          "laplace-2",        "laplace-3",        "laplace-diagonal",
    "laplace-horizontal", "laplace-vertical", "sobel-horizontal", "sobel-vertical",
    "prewitt-horizontal", "prewitt-vertical", "shift-diagonal",   "shift-horizontal",
    "shift-vertical",     "line-horizontal",  "line-vertical",    "line-left-to-right",
    "line-right-to-left"};

L_INT UnderlayFile(BITMAPHANDLE* b, const std::string& path) {
    TOwnedBitmap pattern;
    const L_INT rc = L_LoadBitmap(path.c_str(), pattern.get(), 0, ORDER_BGR);
    if (rc != SUCCESS) {
        std::fprintf(stderr, "quillo-tool: %s: %s\n", path.c_str(), L_ErrorMessage(rc));
        return rc;
    }
    return L_UnderlayBitmap(b, pattern.get(), UB_TILE);
}

const std::vector<TOp>& Ops() {
    static const std::vector<TOp> ops = {
        {"invert",
         "L_InvertBitmap: every channel v becomes 255 - v",
         {},
         [](BITMAPHANDLE* b, const TValues&) { return L_InvertBitmap(b); }},
        {"flip",
         "L_FlipBitmap: top to bottom",
         {},
         [](BITMAPHANDLE* b, const TValues&) { return L_FlipBitmap(b); }},
        {"reverse",
         "L_ReverseBitmap: left to right",
         {},
         [](BITMAPHANDLE* b, const TValues&) { return L_ReverseBitmap(b); }},
        {"rotate",
         "L_RotateBitmap: clockwise, the canvas grown, corners black",
         {{"HUNDREDTHS", TArgKind::Int, -36000, 36000}},
         [](BITMAPHANDLE* b, const TValues& v) {
             return L_RotateBitmap(b, v.n[0], ROTATE_RESIZE | ROTATE_RESAMPLE, 0);
         }},
        {"rotatefine",
         "Lx_RotateBitmapFine: clockwise, bilinear, the canvas grown, corners FILLCOLOR",
         {{"HUNDREDTHS", TArgKind::Int, -36000, 36000}, {"FILLCOLOR", TArgKind::Color}},
         [](BITMAPHANDLE* b, const TValues& v) {
             return Lx_RotateBitmapFine(b, v.n[0], LX_ROTATE_GROW, COLORREF(v.n[1]));
         }},
        {"grayscale",
         "L_GrayScaleBitmap: 8-bit gray levels",
         {},
         [](BITMAPHANDLE* b, const TValues&) { return L_GrayScaleBitmap(b, 8); }},
        {"median",
         "L_MedianFilterBitmap: the median of a SIZE x SIZE window",
         {{"SIZE", TArgKind::Int, 1, 255}},
         [](BITMAPHANDLE* b, const TValues& v) { return L_MedianFilterBitmap(b, v.n[0]); }},
        {"average",
         "L_AverageFilterBitmap: the mean of a SIZE x SIZE window",
         {{"SIZE", TArgKind::Int, 0, 32768}},
         [](BITMAPHANDLE* b, const TValues& v) { return L_AverageFilterBitmap(b, v.n[0]); }},
        {"posterize",
         "L_PosterizeBitmap: LEVELS levels per channel",
         {{"LEVELS", TArgKind::Int, 2, 256}},
         [](BITMAPHANDLE* b, const TValues& v) { return L_PosterizeBitmap(b, v.n[0]); }},
        {"sharpen",
         "L_SharpenBitmap: tenths of a percent, negative blurs",
         {{"AMOUNT", TArgKind::Int, -1000, 1000}},
         [](BITMAPHANDLE* b, const TValues& v) { return L_SharpenBitmap(b, v.n[0]); }},
        {"intensity",
         "L_ChangeBitmapIntensity: tenths of a percent of full scale",
         {{"AMOUNT", TArgKind::Int, -1000, 1000}},
         [](BITMAPHANDLE* b, const TValues& v) { return L_ChangeBitmapIntensity(b, v.n[0]); }},
        {"contrast",
         "L_ChangeBitmapContrast: tenths of a percent",
         {{"AMOUNT", TArgKind::Int, -1000, 1000}},
         [](BITMAPHANDLE* b, const TValues& v) { return L_ChangeBitmapContrast(b, v.n[0]); }},
        {"gamma",
         "L_GammaCorrectBitmap: the gamma times 100, above 100 brightens",
         {{"GAMMA100", TArgKind::Int, 1, 1000}},
         [](BITMAPHANDLE* b, const TValues& v) { return L_GammaCorrectBitmap(b, v.n[0]); }},
        {"hue",
         "L_ChangeBitmapHue: degrees around the colour circle",
         {{"DEGREES", TArgKind::Int, -360, 360}},
         [](BITMAPHANDLE* b, const TValues& v) { return L_ChangeBitmapHue(b, v.n[0]); }},
        {"saturation",
         "L_ChangeBitmapSaturation: tenths of a percent",
         {{"AMOUNT", TArgKind::Int, -1000, 1000}},
         [](BITMAPHANDLE* b, const TValues& v) { return L_ChangeBitmapSaturation(b, v.n[0]); }},
        {"histoequalize",
         "L_HistoEqualizeBitmap: equalises the gray levels",
         {},
         [](BITMAPHANDLE* b, const TValues&) { return L_HistoEqualizeBitmap(b); }},
        {"stretchintensity",
         "L_StretchBitmapIntensity: gray levels stretched to 0..255",
         {},
         [](BITMAPHANDLE* b, const TValues&) { return L_StretchBitmapIntensity(b); }},
        {"intensitydetect",
         "L_IntensityDetectBitmap: gray levels LOW..HIGH white, others black",
         {{"LOW", TArgKind::Int, 0, 255}, {"HIGH", TArgKind::Int, 0, 255}},
         [](BITMAPHANDLE* b, const TValues& v) {
             return L_IntensityDetectBitmap(b, v.n[0], v.n[1]);
         }},
        {"emboss",
         "L_EmbossBitmap: light from DIRECTION, DEPTH 250 the plain relief",
         {{"DIRECTION", TArgKind::Int, 0, 7, kDirections}, {"DEPTH", TArgKind::Int, 0, 1000}},
         [](BITMAPHANDLE* b, const TValues& v) { return L_EmbossBitmap(b, v.n[0], v.n[1]); }},
        {"addnoise",
         "L_AddBitmapNoise: up to RANGE tenths of a percent, the same for a SEED",
         {{"RANGE", TArgKind::Int, 0, 1000},
          {"CHANNEL", TArgKind::Int, 0, 3, kChannels},
          {"SEED", TArgKind::Int, 0, 2147483647}},
         [](BITMAPHANDLE* b, const TValues& v) {
             return L_AddBitmapNoise(b, v.n[0], v.n[1], L_UINT(v.n[2]));
         }},
        {"mosaic",
         "L_MosaicBitmap: tiles of SIZE x SIZE",
         {{"SIZE", TArgKind::Int, 1, 4096}},
         [](BITMAPHANDLE* b, const TValues& v) { return L_MosaicBitmap(b, v.n[0]); }},
        {"oilify",
         "L_OilifyBitmap: oil paint over a SIZE x SIZE window",
         {{"SIZE", TArgKind::Int, 1, 255}},
         [](BITMAPHANDLE* b, const TValues& v) { return L_OilifyBitmap(b, v.n[0]); }},
        {"spatialfilter",
         "L_SpatialFilterBitmap: a predefined 3 x 3 filter",
         {{"NAME", TArgKind::Int, 0, FLT_LAST, kFilters}},
         [](BITMAPHANDLE* b, const TValues& v) { return L_SpatialFilterBitmap(b, v.n[0]); }},
        {"resample",
         "L_ResampleBitmap: to WIDTH x HEIGHT, colours interpolated",
         {{"WIDTH", TArgKind::Int, 1, 65535}, {"HEIGHT", TArgKind::Int, 1, 65535}},
         [](BITMAPHANDLE* b, const TValues& v) { return L_ResampleBitmap(b, v.n[0], v.n[1]); }},
        {"underlay",
         "L_UnderlayBitmap: multiplied by the tiled picture in PATTERNFILE",
         {{"PATTERNFILE", TArgKind::File}},
         [](BITMAPHANDLE* b, const TValues& v) { return UnderlayFile(b, v.files[0]); }},
    };
    return ops;
}

std::string Range(const TArg& a) {
    switch (a.kind) {
        case TArgKind::Color:
            return "RRGGBB or #RRGGBB in hex, or a colour number 0..16777215 (red in the low "
                   "byte; 0x for hex)";
        case TArgKind::File: return "an image file";
        case TArgKind::Int: break;
    }
    std::string s = std::to_string(a.lo) + ".." + std::to_string(a.hi);
    if (!a.words.empty()) {
        s += " or";
        for (const char* w : a.words) s += std::string(" ") + w;
    }
    return s;
}

int List() {
    for (const TOp& op : Ops()) {
        std::string call = op.name;
        for (const TArg& a : op.args) call += std::string(" ") + a.name;
        std::printf("%-28s %s\n", call.c_str(), op.what);
        for (const TArg& a : op.args) std::printf("%-28s   %s: %s\n", "", a.name, Range(a).c_str());
    }
    return 0;
}

bool Parse(const TArg& a, const char* text, TValues* v) {
    switch (a.kind) {
        case TArgKind::File: v->files.push_back(text); return true;
        case TArgKind::Color: {
            // Six hex digits (with or without #) are RRGGBB as on the web; anything else is
            // the toolkit's colour number, which keeps red in the low byte.
            const char* hex = text[0] == '#' ? text + 1 : text;
            unsigned rgb = 0;
            char tail = 0;
            if (std::strlen(hex) == 6 && std::strspn(hex, "0123456789abcdefABCDEF") == 6 &&
                std::sscanf(hex, "%6x%c", &rgb, &tail) == 1) {
                v->n.push_back(int(RGB((rgb >> 16) & 255, (rgb >> 8) & 255, rgb & 255)));
                return true;
            }
            if (hex != text) return false;
            char* end = nullptr;
            errno = 0;
            const bool prefixed = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
            const unsigned long n = std::strtoul(text, &end, prefixed ? 16 : 10);
            if (errno || end == text || *end || text[0] == '-' || n > 0xFFFFFFul) return false;
            v->n.push_back(int(n));
            return true;
        }
        case TArgKind::Int: break;
    }
    for (size_t i = 0; i < a.words.size(); ++i) {
        if (std::string_view(text) == a.words[i]) {
            v->n.push_back(a.lo + int(i));
            return true;
        }
    }
    int n = 0;
    if (!ParseInt(text, a.lo, a.hi, &n)) return false;
    v->n.push_back(n);
    return true;
}

} // namespace

int RunApply(int argc, char** argv) {
    if (argc == 1 && std::string_view(argv[0]) == "--list") return List();
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--threads") {
            int n = 0;
            if (i + 1 >= argc || !ParseInt(argv[i + 1], 1, 64, &n)) {
                std::fprintf(stderr, "quillo-tool: --threads takes a number of threads, 1..64\n");
                return 1;
            }
            L_SetProcessingThreads(n);
            ++i;
            continue;
        }
        rest.push_back(argv[i]);
    }
    if (rest.size() < 3) {
        std::fprintf(stderr,
                     "usage: quillo-tool apply IN OUT OP [ARGS...] [--threads N]\n"
                     "       quillo-tool apply --list\n");
        return 2;
    }
    const char *in = rest[0], *out = rest[1];
    const TOp* op = nullptr;
    for (const TOp& o : Ops())
        if (std::string_view(rest[2]) == o.name) op = &o;
    if (!op) {
        std::fprintf(stderr,
                     "quillo-tool: no operation \"%s\"; quillo-tool apply --list shows them\n",
                     rest[2]);
        return 1;
    }
    if (rest.size() - 3 != op->args.size()) {
        std::string call = op->name;
        for (const TArg& a : op->args) call += std::string(" ") + a.name;
        std::fprintf(stderr, "quillo-tool: %s takes %zu argument%s: %s\n", op->name,
                     op->args.size(), op->args.size() == 1 ? "" : "s", call.c_str());
        for (const TArg& a : op->args) std::fprintf(stderr, "  %s: %s\n", a.name, Range(a).c_str());
        return 1;
    }
    TValues values;
    for (size_t i = 0; i < op->args.size(); ++i) {
        if (!Parse(op->args[i], rest[3 + i], &values)) {
            std::fprintf(stderr, "quillo-tool: %s: %s must be %s, not \"%s\"\n", op->name,
                         op->args[i].name, Range(op->args[i]).c_str(), rest[3 + i]);
            return 1;
        }
    }
    const int format = FormatFromName(out);
    if (!format) {
        std::fprintf(stderr, "quillo-tool: cannot tell the format of %s\n", out);
        return 1;
    }
    TOwnedBitmap b;
    L_INT rc = L_LoadBitmap(in, b.get(), 0, ORDER_BGR);
    if (rc != SUCCESS) return Fail(in, rc);
    WarnIfTruncated(in);
    rc = op->run(b.get(), values);
    if (rc != SUCCESS) return Fail(op->name, rc);
    rc = SaveImage(out, b.get(), format, 0, 90);
    if (rc != SUCCESS) return Fail(out, rc);
    return 0;
}
