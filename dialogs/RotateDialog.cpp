#include "RotateDialog.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "Effects.h"

namespace {

using K = TControlKind;

constexpr int kMaxTenths = 1800;

struct TPreset {
    int Id;
    double Degrees;
};
constexpr TPreset kPresets[] = {
    {IDC_ROTATE_PLUS45, 45},   {IDC_ROTATE_PLUS90, 90},   {IDC_ROTATE_180, 180},
    {IDC_ROTATE_MINUS45, -45}, {IDC_ROTATE_MINUS90, -90},
};

// Tenths of a degree from a number of degrees, truncated and kept within the spin's range;
// what is not a number turns by nothing.
int ToTenths(double degrees) {
    if (!std::isfinite(degrees)) return 0;
    const double t = std::trunc(degrees * 10);
    return t > kMaxTenths ? kMaxTenths : t < -kMaxTenths ? -kMaxTenths : int(t);
}

} // namespace

TDialogTemplate RotateDialogTemplate() {
    TDialogTemplate t = EffectDialogTemplate(IDD_ROTATE, "Rotate");
    // The panes only show: no zoom, so no hint about clicking them.
    std::erase_if(t.Controls,
                  [](const TControlTemplate& c) { return c.Text.starts_with("Zoom in"); });
    AddDialogControl(t, IDC_STATIC, K::GroupBox, "Angle", 4, 106, 208, 44);
    const struct {
        int Id;
        const char* Text;
        int X, Y;
    } radios[] = {
        {IDC_ROTATE_180, "1&80", 12, 118},     {IDC_ROTATE_MINUS45, "-4&5", 52, 118},
        {IDC_ROTATE_MINUS90, "-9&0", 92, 118}, {IDC_ROTATE_PLUS45, "+&45", 132, 118},
        {IDC_ROTATE_PLUS90, "+&90", 172, 118}, {IDC_ROTATE_CUSTOM, "", 12, 134},
    };
    for (const auto& r : radios) {
        AddDialogControl(t, r.Id, K::RadioButton, r.Text, r.X, r.Y,
                         r.Id == IDC_ROTATE_CUSTOM ? 10 : 36, 10);
        t.Controls.back().GroupStart = r.Id == IDC_ROTATE_180;
    }
    AddDialogControl(t, IDC_ROTATE_ANGLE, K::Edit, "", 26, 132, 40, 13);
    AddDialogControl(t, IDC_ROTATE_SPIN, K::SpinScrollBar, "", 66, 132, 8, 13);
    AddDialogControl(t, IDC_STATIC, K::Static, "degrees", 78, 134, 40, 10);
    FinishEffectDialogTemplate(t, 156);
    return t;
}

TRotateDialog::TRotateDialog(const TLeadBitmapX& source, COLORREF fill, double initialDegrees)
    : TEffectsDialog(source, RotateDialogTemplate(), kEffectHelpContext),
      fill_(fill),
      initial_(initialDegrees) {
    BusyCursor = int64_t(source.Width) * source.Height > 10000;
    // A turn of the picture shrunk to the pane looks the same as the shrunk turn of the
    // whole layer, and costs a fraction of it.
    PreviewShrinksFirst = true;
}

bool TRotateDialog::InitPanes() {
    if (!TEffectsDialog::InitPanes()) return false;
    ready_ = true;
    presetIdle_ = true;
    SetRange(IDC_ROTATE_SPIN, -kMaxTenths, kMaxTenths);
    SetLineStep(IDC_ROTATE_SPIN, 5);
    CheckRadioButton(IDC_ROTATE_PLUS45, IDC_ROTATE_CUSTOM, IDC_ROTATE_CUSTOM);
    SetFocusTo(IDC_ROTATE_ANGLE);
    SetAngle(initial_);
    SetPaneZoomCursor(IDC_ORIGINAL, false);
    SetPaneZoomCursor(IDC_PREVIEW, false);
    return true;
}

void TRotateDialog::SetAngle(double degrees) {
    if (!ready_) return;
    SetPosition(IDC_ROTATE_SPIN, -ToTenths(degrees));
    ShowAngle();
}

void TRotateDialog::ShowAngle() {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", GetAngle() * 0.1);
    ready_ = false;
    SetDlgItemText(IDC_ROTATE_ANGLE, text);
    ready_ = true;
    UpdatePreview();
}

void TRotateDialog::ReadAngleText() {
    if (presetIdle_) CheckRadioButton(IDC_ROTATE_PLUS45, IDC_ROTATE_CUSTOM, IDC_ROTATE_CUSTOM);
    const std::string text = GetDlgItemText(IDC_ROTATE_ANGLE, 63);
    SetPosition(IDC_ROTATE_SPIN, -ToTenths(std::atof(text.c_str())));
}

void TRotateDialog::EvCommand(int id, int notifyCode) {
    // The panes ignore clicks: there is nothing to zoom.
    if (id == IDC_ORIGINAL || id == IDC_PREVIEW) return;
    if (notifyCode == BN_CLICKED && IsDlgButtonChecked(id)) {
        for (const TPreset& p : kPresets) {
            if (p.Id != id) continue;
            presetIdle_ = false;
            SetAngle(p.Degrees);
            presetIdle_ = true;
            return;
        }
    }
    if (id == IDC_ROTATE_ANGLE && notifyCode == EN_KILLFOCUS && ready_) {
        ReadAngleText();
        ShowAngle();
        return;
    }
    TEffectsDialog::EvCommand(id, notifyCode);
}

void TRotateDialog::EvVScroll(int id, int) {
    if (id == IDC_ROTATE_SPIN) ShowAngle();
}

bool TRotateDialog::CanClose() {
    ReadAngleText();
    angle_ = GetAngle();
    return true;
}

L_INT TRotateDialog::Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool) {
    L_INT rc = dst.AssignX(src, true);
    const int tenths = GetAngle();
    // The toolkit turns by hundredths of a degree.
    if (rc == SUCCESS && tenths != 0)
        rc = Lx_RotateBitmapFine(&dst, tenths * 10, LX_ROTATE_GROW, fill_);
    if (rc != SUCCESS) dst.Free();
    return rc;
}
