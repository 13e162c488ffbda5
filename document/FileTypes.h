// The file types the document manager offers, in the order they are registered, and how a
// document of each type is saved: the toolkit format code and the bits per pixel.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "DocTemplate.h"

// The program's own code for the layered native format (not a toolkit code).
constexpr int FORMAT_NATIVE = 27803;

// How a type picks its save depth.
enum class TDepthRule {
    None,       // open only
    Candidates, // the smallest candidate at least as deep as the image, else the largest
    GrayOr24,   // 8 for a grayscale image, else 24
    Lead,       // 8 or 24 as above; a 1-bit image is saved at 1 bit with code 26
    Tiff,       // code and candidates from the TIFF options
};

struct TFileType {
    const char* Description;
    int StringId; // 0 for the native type, whose description is not translated
    const char* Filter;
    const char* DefaultExt; // "" when none
    int SaveCode;           // 0 for open-only types
    TDepthRule Rule;
    std::vector<int> Depths; // the candidates, deepest last
    bool OpenOnly;
};

// All 29 types, in registration order.
const std::vector<TFileType>& FileTypes();
// The type with this description, or null.
const TFileType* FindFileType(const std::string& description);
// The text the Open dialog shows for a type: its description, with a warning where files
// of the same extension from other programs do not open.
std::string OpenFilterDescription(const std::string& description);
// Templates for every type, in registration order, with the flags each type needs.
std::vector<std::unique_ptr<TDocTemplate>> CreateFileTypeTemplates();

// The description of the type a file of a toolkit format code belongs to, or null when no
// registered type takes it (GIF and Windows metafiles among them).
const char* FileTypeForFormat(int formatCode);

// TIFF: the format code for a compression (0 none, 1 LZW, 2 PackBits) and colour space
// (0 RGB, 1 CMYK, 2 YCbCr), and the depths that colour space can hold. Values out of range
// count as 0.
struct TTiffFormat {
    int Code;
    std::vector<int> Depths;
};
TTiffFormat TiffSaveFormat(int compression, int colorSpace);

struct TSaveFormat {
    int Code = 0; // 0: the type cannot be saved
    int Bpp = 0;
};
// What a document of `type` is saved as, given its background's logical depth and
// whether it is grayscale.
TSaveFormat ChooseSaveFormat(const TFileType& type, int logicalBpp, bool grayscale,
                             int tiffCompression, int tiffColorSpace);
// The smallest candidate >= bpp, or the largest when none is that deep.
int PickCandidateDepth(const std::vector<int>& candidates, int bpp);
