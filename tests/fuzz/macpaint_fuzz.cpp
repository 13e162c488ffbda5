// Arbitrary bytes through the file functions, as a damaged or hostile MacPaint file would
// arrive; whatever loads is written back as MacPaint at one bit. Any outcome but a crash, a
// hang or a leak is fine.
#include "FuzzBudget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::LoadAndSave(data, size, FILE_MACPAINT, 1);
}
