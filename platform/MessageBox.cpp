#include "MessageBox.h"

namespace {

THeadlessMessageBoxes& DefaultHost() {
    static THeadlessMessageBoxes host;
    return host;
}

IMessageBoxHost* g_host = nullptr;

} // namespace

IMessageBoxHost& MessageBoxHost() { return g_host ? *g_host : DefaultHost(); }

IMessageBoxHost* SetMessageBoxHost(IMessageBoxHost* host) {
    IMessageBoxHost* old = g_host;
    g_host = host;
    return old;
}

TMbResult THeadlessMessageBoxes::Show(const std::string& text, const std::string& caption,
                                      TMbButtons buttons, TMbIcon icon) {
    TMbResult r = buttons == TMbButtons::YesNo ? TMbResult::No
                  : buttons == TMbButtons::YesNoCancel || buttons == TMbButtons::RecoverDiscardLater
                      ? TMbResult::Cancel
                      : TMbResult::Ok;
    if (!answers_.empty()) {
        r = answers_.front();
        answers_.pop_front();
    }
    // The default host would otherwise grow for the whole run.
    if (this == &DefaultHost() && Shown.size() >= 64) Shown.erase(Shown.begin());
    Shown.push_back(TShown{text, caption, buttons, icon, r});
    return r;
}
