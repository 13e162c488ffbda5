// Arbitrary bytes through the native layered-file reader, as a damaged or hostile .qlx
// would arrive; whatever loads is saved again. Any outcome but a crash, a hang or a leak
// is fine, but a refusal must leave the image's layers as they were.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "FuzzBudget.h"
#include "LayeredImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::SetLimits();
    TLayeredImage image;
    BITMAPHANDLE b;
    if (L_CreateBitmap(&b, TYPE_CONV, 2, 2, 32, ORDER_BGR, nullptr, TOP_LEFT) != SUCCESS) return 0;
    auto keep = std::make_unique<TLayer>();
    keep->Adopt(b);
    keep->LogicalBpp = 24;
    image.Layers.Append(std::move(keep));

    fuzz::Budget budget(size);
    const L_INT rc = image.LoadNativeMemory(data, size);
    budget.Check();
    if (rc != SUCCESS) {
        if (image.Count() != 1 || image.GetLayer(0)->Width != 2) std::abort();
        return 0;
    }
    if (image.Count() > 0 &&
        (image.GetCurrentIndex() < 0 || image.GetCurrentIndex() >= image.Count()))
        std::abort();
    // Whatever loaded is an image the rest of the program can work with: it flattens.
    if (image.Count() > 0) image.Flatten();
    return 0;
}
