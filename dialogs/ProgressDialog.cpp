#include "ProgressDialog.h"

#include "MessageBox.h"
#include "ModelessDialog.h"

namespace {

TProgressDialog* g_current = nullptr;

L_INT ProgressCallback(L_INT percent, void* dialog) {
    return static_cast<TProgressDialog*>(dialog)->Report(percent);
}

} // namespace

TDialogTemplate ProgressDialogTemplate(int resourceId, const std::string& caption) {
    TDialogTemplate t;
    t.ResourceId = resourceId;
    t.Caption = caption;
    t.Width = 280;
    t.Height = 96;
    // The gauge fills the frame less 2 pixels on every side.
    t.Controls = {
        {IDC_PROGRESSFRAME, TControlKind::Static, "", {16, 16, 264, 40}},
        {IDC_PROGRESSGAUGE, TControlKind::Gauge, "", {18, 18, 262, 38}},
        {IDCANCEL, TControlKind::PushButton, "Cancel", {100, 56, 180, 80}},
    };
    return t;
}

TProgressDialog::TProgressDialog(TDialogTemplate tmpl) : TCenterDialog(std::move(tmpl)) {}

void TProgressDialog::SetupWindow() {
    TCenterDialog::SetupWindow();
    SetRange(IDC_PROGRESSGAUGE, 0, 100);
    SetLineStep(IDC_PROGRESSGAUGE, 5);
    SetPosition(IDC_PROGRESSGAUGE, 0);
}

void TProgressDialog::EvCommand(int id, int notifyCode) {
    if (id == IDCANCEL) {
        cancelRequested_ = true;
        return;
    }
    TCenterDialog::EvCommand(id, notifyCode);
}

L_INT TProgressDialog::Report(L_INT percent) {
    const int even = percent - percent % 2;
    if (even != shown_) {
        SetPosition(IDC_PROGRESSGAUGE, even);
        shown_ = even;
    }
    if (percent >= 100) shown_ = -1;
    ModelessHost().PumpEvents();
    if (!cancelRequested_) return SUCCESS;
    if (MessageBoxHost().Show("Are you sure you want to cancel the operation?", Caption(),
                              TMbButtons::YesNo, TMbIcon::Exclamation) == TMbResult::Yes)
        return ERROR_CANCELLED;
    cancelRequested_ = false;
    return SUCCESS;
}

bool ProgressRunning() { return g_current != nullptr; }

namespace {

// Everything RunWithProgress changes, put back however the operation ends.
class TProgressScope {
public:
    TProgressScope(IWindowHost* owner, TProgressDialog& dialog) : owner_(owner), dialog_(dialog) {
        host_.Show(dialog, owner);
        host_.EnableOwner(owner, false);
        g_current = &dialog;
        L_SetStatusCallBack(ProgressCallback, &dialog, &oldFn_, &oldData_);
    }
    ~TProgressScope() {
        L_SetStatusCallBack(oldFn_, oldData_);
        host_.EnableOwner(owner_, true);
        g_current = nullptr;
        host_.Destroy(dialog_);
    }
    TProgressScope(const TProgressScope&) = delete;
    TProgressScope& operator=(const TProgressScope&) = delete;

private:
    IModelessHost& host_ = ModelessHost();
    IWindowHost* owner_;
    TProgressDialog& dialog_;
    STATUSCALLBACK oldFn_ = nullptr;
    void* oldData_ = nullptr;
};

} // namespace

L_INT RunWithProgress(IWindowHost* owner, const TDialogTemplate& tmpl,
                      const std::function<L_INT()>& operation) {
    if (g_current) return ERROR_CANCELLED;
    TBusySection busy;
    TProgressDialog dialog(tmpl);
    TProgressScope scope(owner, dialog);
    return operation();
}
