#include "ModelessDialog.h"

#include "Dialog.h"

namespace {
THeadlessModelessHost g_headless;
IModelessHost* g_host = nullptr;
} // namespace

IModelessHost& ModelessHost() { return g_host ? *g_host : g_headless; }

IModelessHost* SetModelessHost(IModelessHost* host) {
    IModelessHost* old = g_host;
    g_host = host;
    return old;
}

void THeadlessModelessHost::Show(TDialog& dialog, IWindowHost*) {
    dialog.BeginExecute(nullptr);
    dialog.RunSetup();
    Current = &dialog;
}

void THeadlessModelessHost::Destroy(TDialog& dialog) {
    if (dialog.IsOpen()) dialog.EndDialog(IDCANCEL);
    dialog.FinishExecute();
    if (Current == &dialog) Current = nullptr;
}

void THeadlessModelessHost::PumpEvents() {
    ++Pumps;
    if (next_ < pumps_.size()) {
        // Taken out first: the action may queue more.
        std::function<void()> action = std::move(pumps_[next_++]);
        action();
    }
}

void THeadlessModelessHost::EnableOwner(IWindowHost*, bool enable) {
    OwnerStates.push_back(enable);
}
