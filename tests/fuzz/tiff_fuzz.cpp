// Arbitrary bytes through the TIFF reader, and whatever it decodes back through the writer.
#include <cstdlib>

#include "Toolkit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Small limits keep each run quick; the size checks are still exercised.
    static const bool limited = [] {
        L_LIMITS limits;
        limits.MaxSide = 4096;
        limits.MaxPixels = 4u << 20;
        L_SetLimits(limits);
        return true;
    }();
    (void)limited;
    FILEINFO info;
    L_FileInfoMemory(data, size, &info);
    BITMAPHANDLE b;
    if (L_LoadBitmapMemory(data, &b, 0, ORDER_BGR, size) != SUCCESS) return 0;
    uint8_t* out = nullptr;
    size_t outSize = 0;
    if (L_SaveBitmapMemory(&out, &b, FILE_TIFLZW, 0, 0, &outSize) == SUCCESS) std::free(out);
    L_FreeBitmap(&b);
    return 0;
}
