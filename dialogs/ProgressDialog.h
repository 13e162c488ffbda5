// The progress window of a long toolkit operation: a gauge and a Cancel button, shown
// modeless while the operation runs on the user-interface thread. The operation's status
// callback moves the gauge, keeps the windows alive and asks before it gives up.
#pragma once

#include <functional>
#include <string>

#include "Dialog.h"
#include "Toolkit.h"

enum : int {
    IDD_WATERCOLORPROGRESS = 1519,
    IDC_PROGRESSFRAME = 101, // the gauge lies inside this frame
    IDC_PROGRESSGAUGE = 102,
};

// The template of a progress window with this caption.
TDialogTemplate ProgressDialogTemplate(int resourceId, const std::string& caption);

class TProgressDialog : public TCenterDialog {
public:
    explicit TProgressDialog(TDialogTemplate tmpl);

    // Cancel and the window's close box only ask: the operation decides at its next report.
    bool CancelRequested() const { return cancelRequested_; }
    void ClearCancelRequest() { cancelRequested_ = false; }

    // The status callback's work for one report: the gauge (even percentages, set only when
    // they change), the pending events, and on a Cancel the question. SUCCESS to go on,
    // ERROR_CANCELLED to stop.
    L_INT Report(L_INT percent);

protected:
    void SetupWindow() override;
    void EvCommand(int id, int notifyCode) override;

private:
    bool cancelRequested_ = false;
    int shown_ = -1; // the gauge's value, -1 before the first report and after 100
};

// Runs the operation with a progress window over owner (null: the main window): the window
// shows, the owner is disabled and no command starts until the operation returns; the
// status callback in place before is restored afterwards. A second call while one runs is
// refused with ERROR_CANCELLED. Returns the operation's status.
L_INT RunWithProgress(IWindowHost* owner, const TDialogTemplate& tmpl,
                      const std::function<L_INT()>& operation);
// Whether a progress window is up.
bool ProgressRunning();
