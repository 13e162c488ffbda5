// Arbitrary bytes through the fax decoder itself: the first two bytes choose the coding, the
// bit order, the EOL form and the row width, the rest is the coded data. Every row must stay
// within its width and the decoder within the data.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codecs/Ccitt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace lt::codec::ccitt;
    if (size < 2) return 0;
    Params p;
    p.coding = Coding(data[0] % 3);
    p.order = data[0] & 4 ? BitOrder::LsbFirst : BitOrder::MsbFirst;
    p.rowStart = RowStart((data[0] >> 3) % 4);
    p.k = 1 + (data[0] >> 5);
    const int width = 1 + data[1] * 13;
    const size_t rowBytes = (size_t(width) + 7) / 8;
    int rows = 0;
    const DecodeResult r =
        Decode(data + 2, size - 2, width, 4096, p, [&](int y, const uint8_t* bits) {
            if (y != rows++) std::abort();
            // Bits past the width stay clear.
            if (width % 8 && (bits[rowBytes - 1] & (0xFF >> (width % 8)))) std::abort();
            return true;
        });
    if (r.rows != rows) std::abort();
    return 0;
}
