// Arbitrary bytes through the file functions, as a damaged or hostile PNG would arrive;
// whatever loads is written back as PNG. Any outcome but a crash, a hang or a leak is fine.
#include <cstdint>
#include <cstdlib>

#include "Toolkit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Small limits keep the fuzzer's memory bounded; the size checks are exercised all the same.
    L_SetLimits(L_LIMITS{4096, 4u << 20});
    BITMAPHANDLE b;
    if (L_LoadBitmapMemory(data, &b, 0, ORDER_BGR, size) == SUCCESS) {
        uint8_t* out = nullptr;
        size_t n = 0;
        if (L_SaveBitmapMemory(&out, &b, FILE_PNG, 0, 0, &n) == SUCCESS) std::free(out);
        L_FreeBitmap(&b);
    }
    FILEINFO info;
    L_FileInfoMemory(data, size, &info);
    return 0;
}
