// Arbitrary bytes through the file functions, as a damaged or hostile Encapsulated PostScript
// file would arrive: the header, the box comments and the DOS sections with their TIFF
// preview. The interpreter is not what is fuzzed here, so it is a program that fails at once
// unless QUILLO_GHOSTSCRIPT names another. Whatever loads is written back as PNG.
#include <cstdlib>

#include "FuzzBudget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    setenv("QUILLO_GHOSTSCRIPT", "/bin/false", 0);
    return fuzz::LoadAndSave(data, size, FILE_PNG);
}
