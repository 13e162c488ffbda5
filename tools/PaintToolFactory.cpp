#include "PaintToolFactory.h"

#include <array>

namespace {

constexpr int kKinds = PAINT_AIRBRUSH + 1;

std::array<TPaintToolMaker, kKinds>& Makers() {
    static std::array<TPaintToolMaker, kKinds> makers;
    return makers;
}

} // namespace

TPaintToolMaker SetPaintToolMaker(int kind, TPaintToolMaker maker) {
    if (kind < 0 || kind >= kKinds) return {};
    TPaintToolMaker old = std::move(Makers()[size_t(kind)]);
    Makers()[size_t(kind)] = std::move(maker);
    return old;
}

std::unique_ptr<TXPaintTool> CreatePaintTool(int kind, const TPaintToolSetup& setup) {
    if (kind < 0 || kind >= kKinds || !Makers()[size_t(kind)]) return nullptr;
    return Makers()[size_t(kind)](setup);
}
