// Arbitrary bytes through the file functions, as a damaged or hostile TIFF would arrive:
// whatever loads is written back in one of the TIFF types (picked by the input's size),
// and the thumbnail a later directory may hold is read as the file's stamp.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>

#include "FuzzBudget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int kFormats[] = {FILE_TIFLZW, FILE_TIFLZW_CMYK, FILE_TIF_PACKBITS_YCC,
                                   FILE_LEAD1JTIF, FILE_EXIF};
    const int format = kFormats[size % (sizeof kFormats / sizeof kFormats[0])];
    fuzz::LoadAndSave(data, size, format, format == FILE_TIFLZW ? 0 : 24);
    // The stamp is read from a path: hand the bytes over through a memory file.
    int fd = memfd_create("tiff_fuzz", 0);
    if (fd < 0) return 0;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    BITMAPHANDLE b;
    fuzz::Budget budget(size);
    if (write(fd, data, size) == ssize_t(size) && L_GetCompressFileStamp(path, &b, 0) == SUCCESS)
        L_FreeBitmap(&b);
    budget.Check();
    close(fd);
    return 0;
}
