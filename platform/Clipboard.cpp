#include "Clipboard.h"

namespace {
IClipboard* current = nullptr;
} // namespace

IClipboard& Clipboard() {
    static TMemoryClipboard memory;
    return current ? *current : memory;
}

IClipboard* SetClipboard(IClipboard* clipboard) {
    IClipboard* previous = current;
    current = clipboard;
    return previous;
}
