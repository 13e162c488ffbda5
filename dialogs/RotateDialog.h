// "Rotate": the angle to turn the current layer by, chosen from presets or typed (in tenths
// of a degree, -180.0 to 180.0), with the original beside a preview of the turned layer.
#pragma once

#include "EffectsDialog.h"

enum : int {
    IDD_ROTATE = 1506,
    IDC_ROTATE_PLUS45 = 107,
    IDC_ROTATE_PLUS90 = 108,
    IDC_ROTATE_180 = 109,
    IDC_ROTATE_MINUS45 = 110,
    IDC_ROTATE_MINUS90 = 111,
    IDC_ROTATE_CUSTOM = 112,
    IDC_ROTATE_ANGLE = 113,
    IDC_ROTATE_SPIN = 114,
};

class TRotateDialog : public TEffectsDialog {
public:
    // fill: the colour of the corners the turn uncovers; initialDegrees: the angle shown
    // when the dialog opens.
    TRotateDialog(const TLeadBitmapX& source, COLORREF fill, double initialDegrees = 0.0);

    // The angle chosen, in tenths of a degree (clockwise), once the dialog has closed.
    int Angle() const { return angle_; }

    L_INT Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) override;

protected:
    bool InitPanes() override;
    void EvCommand(int id, int notifyCode) override;
    void EvVScroll(int id, int code) override;
    bool CanClose() override;

private:
    // The angle in tenths of a degree: the spin runs against it.
    int GetAngle() const { return -GetPosition(IDC_ROTATE_SPIN); }
    void SetAngle(double degrees);
    void ShowAngle();
    void ReadAngleText();

    int angle_ = 0;
    bool ready_ = false;
    bool presetIdle_ = true;
    COLORREF fill_;
    double initial_;
};

TDialogTemplate RotateDialogTemplate();
