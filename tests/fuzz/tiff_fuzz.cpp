// Arbitrary bytes through the TIFF reader, and whatever it decodes back through the writer.
#include <cstdlib>

#include "FuzzBudget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::SetLimits();
    FILEINFO info;
    L_FileInfoMemory(data, size, &info);
    BITMAPHANDLE b;
    fuzz::Budget budget(size);
    const L_INT rc = L_LoadBitmapMemory(data, &b, 0, ORDER_BGR, size);
    budget.Check();
    if (rc != SUCCESS) return 0;
    uint8_t* out = nullptr;
    size_t outSize = 0;
    if (L_SaveBitmapMemory(&out, &b, FILE_TIFLZW, 0, 0, &outSize) == SUCCESS) std::free(out);
    L_FreeBitmap(&b);
    return 0;
}
