#include "CommonDialogs.h"

namespace {
THeadlessCommonDialogs g_cancelAll;
ICommonDialogs* g_dialogs = nullptr;

template <class T>
bool Pop(std::deque<T>& queue, T& out) {
    if (queue.empty()) return false;
    out = std::move(queue.front());
    queue.pop_front();
    return true;
}
} // namespace

ICommonDialogs& CommonDialogs() { return g_dialogs ? *g_dialogs : g_cancelAll; }

ICommonDialogs* SetCommonDialogs(ICommonDialogs* dialogs) {
    ICommonDialogs* old = g_dialogs;
    g_dialogs = dialogs;
    return old;
}

bool THeadlessCommonDialogs::GetOpenFileNames(const TFileDialogRequest& request,
                                              TFileDialogResult& result) {
    OpenRequests.push_back(request);
    return Pop(open_, result);
}

bool THeadlessCommonDialogs::GetSaveFileName(const TFileDialogRequest& request,
                                             TFileDialogResult& result) {
    SaveRequests.push_back(request);
    return Pop(save_, result);
}

bool THeadlessCommonDialogs::ChooseColor(COLORREF& color, TCustomColors&) {
    ColorRequests.push_back(color);
    return Pop(colors_, color);
}
