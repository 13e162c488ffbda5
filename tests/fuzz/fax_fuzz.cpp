// Arbitrary bytes through the file functions, as a damaged or hostile .fxs fax page would
// arrive; whatever loads is written back in the same format.
#include "FuzzBudget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::LoadAndSave(data, size, 70 /* .fxs, group 3 one-dimensional */, 1);
}
