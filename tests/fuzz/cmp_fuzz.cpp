// Arbitrary bytes through the file functions, as a damaged or hostile .cmp file would arrive;
// whatever loads is written back in the same container.
#include "FuzzBudget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::LoadAndSave(data, size, FILE_CMP_1BIT, 1);
    return fuzz::LoadAndSave(data, size, FILE_CMP, 24);
}
