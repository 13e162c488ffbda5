// Arbitrary bytes through the file functions, as a damaged or hostile FlashPix file would
// arrive (the compound file, its property sets and tile tables); whatever loads is written
// back as FlashPix.
#include "FuzzBudget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::LoadAndSave(data, size, FILE_FPX);
}
