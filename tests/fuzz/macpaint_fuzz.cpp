// Arbitrary bytes through the file functions, as a damaged or hostile MacPaint file would
// arrive; whatever loads is written back as MacPaint at one bit. Any outcome but a crash, a
// hang or a leak is fine.
#include <cstdint>
#include <cstdlib>

#include "FuzzBudget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::SetLimits();
    BITMAPHANDLE b;
    fuzz::Budget budget(size);
    const L_INT rc = L_LoadBitmapMemory(data, &b, 0, ORDER_BGR, size);
    budget.Check();
    if (rc == SUCCESS) {
        uint8_t* out = nullptr;
        size_t n = 0;
        if (L_SaveBitmapMemory(&out, &b, FILE_MACPAINT, 1, 0, &n) == SUCCESS) std::free(out);
        L_FreeBitmap(&b);
    }
    FILEINFO info;
    L_FileInfoMemory(data, size, &info);
    return 0;
}
