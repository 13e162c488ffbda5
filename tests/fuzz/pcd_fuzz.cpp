// Arbitrary bytes through the file functions, as a damaged Photo CD image pack would arrive;
// whatever loads is written back as PNG (Photo CD is never written).
#include "FuzzBudget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::LoadAndSave(data, size, FILE_PNG);
}
