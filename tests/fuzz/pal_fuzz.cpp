// Arbitrary bytes as a palette file, as a damaged or hostile one would arrive: the reader
// either refuses them or gives between 1 and 256 entries, every one of them from the bytes.
#include <cstdint>
#include <cstdlib>

#include "PaletteFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RGBQUAD entries[kMaxPaletteEntries];
    const int count = ReadPaletteMemory(data, size, entries, kMaxPaletteEntries);
    if (count != -1 && (count < 1 || count > kMaxPaletteEntries || 24 + 4 * size_t(count) > size))
        std::abort();
    // Too small a buffer is never written.
    if (count > 1 && ReadPaletteMemory(data, size, entries, 1) != count) std::abort();
    return 0;
}
