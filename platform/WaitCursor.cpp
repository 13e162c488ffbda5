#include "WaitCursor.h"

namespace {
int g_depth = 0;
TWaitCursor::THook g_hook = nullptr;
} // namespace

TWaitCursor::TWaitCursor() {
    if (g_depth++ == 0 && g_hook) g_hook(true);
}

TWaitCursor::~TWaitCursor() {
    if (--g_depth == 0 && g_hook) g_hook(false);
}

int TWaitCursor::Depth() { return g_depth; }
void TWaitCursor::SetHook(THook hook) { g_hook = hook; }
