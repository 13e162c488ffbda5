// Exif blocks as this program writes them: a TIFF structure (little-endian) with the
// picture's resolution, an Exif directory and, for JPEG, a second directory pointing at a
// JPEG thumbnail. Also the thumbnail picture itself and the little reading Exif JPEG needs.
#pragma once

#include <cstdint>
#include <vector>

#include "Toolkit.h"

namespace lt::codec::exif {

// Thumbnails fit in 160 x 120, the size Exif recommends, keeping the picture's shape.
constexpr int kThumbWidth = 160, kThumbHeight = 120;

// A 24-bit copy of `b` shrunk to fit the thumbnail size (never enlarged, alpha dropped).
int MakeThumbnail(const BITMAPHANDLE* b, BITMAPHANDLE* thumb);

// One image file directory being put together; entries are written in tag order.
class IfdBuilder {
public:
    void Short(uint16_t tag, uint16_t v);
    void Long(uint16_t tag, uint32_t v);
    void Rational(uint16_t tag, uint32_t num, uint32_t den);
    void Undefined(uint16_t tag, const char (&four)[5]);
    // Appends the directory, then the values that do not fit in an entry, at the end of
    // `o` (from an even offset). Offsets count from `base`. Returns the directory's offset.
    uint32_t Write(std::vector<uint8_t>& o, size_t base, uint32_t next);
    // Where in `o` the 4-byte value of `tag` went (after Write); 0 when there is no such entry.
    size_t ValueAt(uint16_t tag) const;

private:
    struct Entry {
        uint16_t tag, type;
        uint32_t count;
        uint8_t inline_[4];
        std::vector<uint8_t> extra; // values longer than 4 bytes
        size_t valuePos = 0;
    };
    void Add(Entry e);
    std::vector<Entry> entries_;
};

// The Exif directory: versions, sRGB colour space and the pixel size of the picture.
IfdBuilder ExifDirectory(int width, int height, bool compressed);

// The body of a JPEG APP1 segment ("Exif\0\0" and the TIFF structure) for a picture of
// width x height at the given resolution with `thumbnail` (a JPEG file) attached.
std::vector<uint8_t> JpegApp1(int width, int height, int xdpi, int ydpi,
                              const std::vector<uint8_t>& thumbnail);

// Appends an Exif directory to a little-endian TIFF file and points the EXIFIFD entry of
// its first directory at it. False when the file has no such entry.
bool AttachToTiff(std::vector<uint8_t>& file, int width, int height);

// The resolution in the first directory of an Exif TIFF structure, in dots per inch.
bool Resolution(const uint8_t* tiff, size_t size, int* xdpi, int* ydpi);

} // namespace lt::codec::exif
