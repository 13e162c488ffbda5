// TIFF files through libtiff, reading from and writing to memory: how the file functions
// recognise them. The reading, the writing and the memory streams under both are beside
// this file.
#include "TiffInternal.h"

namespace lt::codec {
namespace tiff {
namespace {

bool Sniff(const uint8_t* d, size_t n) {
    if (n < 4) return false;
    return (d[0] == 'I' && d[1] == 'I' && (d[2] == 42 || d[2] == 43) && d[3] == 0) ||
           (d[0] == 'M' && d[1] == 'M' && d[2] == 0 && (d[3] == 42 || d[3] == 43));
}

bool HandlesFormat(int format) {
    return format == FILE_TIF || format == FILE_TIFLZW || format == FILE_TIF_PACKBITS ||
           format == FILE_EXIF || IsFax(format) || IsJtif(format) || IsCmyk(format) ||
           IsYcc(format);
}

} // namespace
} // namespace tiff

extern const Codec kTiffCodec = {"tiff",        tiff::Sniff, tiff::Info,  tiff::Load,
                                 tiff::CanSave, tiff::Save,  tiff::Stamp, tiff::HandlesFormat};

} // namespace lt::codec
