// Arbitrary bytes through the file functions, as a damaged or hostile WordPerfect graphics file would
// arrive; whatever loads is written back in the same format.
#include "FuzzBudget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::LoadAndSave(data, size, FILE_WPG);
}
