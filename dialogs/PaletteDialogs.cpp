#include "PaletteDialogs.h"

#include <algorithm>
#include <vector>

#include "ErrorDisplay.h"
#include "PaletteFile.h"
#include "WaitCursor.h"

namespace {

using K = TControlKind;

constexpr int kDepths[6] = {1, 4, 8, 16, 24, 32};
constexpr L_UINT kPaletteFlags[5] = {CRF_FIXEDPALETTE, CRF_OPTIMIZEDPALETTE, CRF_IDENTITYPALETTE,
                                     CRF_NETSCAPEPALETTE, CRF_USERPALETTE};
const char* const kDitherNames[8] = {"&No dithering", "&Floyd-Steinberg", "St&ucki", "Bur&kes",
                                     "&Sierra",       "S&tevenson Arce",  "&Jarvis", "O&rdered"};

void AddRadio(TDialogTemplate& t, int id, const char* text, int x, int y, int w, bool first) {
    AddDialogControl(t, id, K::RadioButton, text, x, y, w, 10);
    t.Controls.back().GroupStart = first;
}

void AddDitherGroup(TDialogTemplate& t, int x, int y) {
    AddDialogControl(t, IDC_DITHER_GROUP, K::GroupBox, "&Dithering method", x, y, 68, 108);
    for (int i = 0; i < 8; ++i)
        AddRadio(t, IDC_DITHER_NONE + i, kDitherNames[i], x + 6, y + 12 + 12 * i, 60, i == 0);
}

// The grid takes the place of its placeholder, 2 pixels inside it, right after it in the
// tab order.
void AddPaletteGrid(TDialogTemplate& t, int x, int y, int size) {
    AddDialogControl(t, IDC_PALETTE_PLACE, K::Static, "", x, y, size, size);
    TControlTemplate grid = t.Controls.back();
    grid.Id = IDC_PALETTE_GRID;
    grid.Kind = K::ColorGrid;
    grid.Rect =
        RECT{grid.Rect.left + 2, grid.Rect.top + 2, grid.Rect.right - 2, grid.Rect.bottom - 2};
    grid.GroupStart = true;
    t.Controls.push_back(grid);
}

int FirstChecked(const TDialog& d, int first, int count) {
    for (int i = 0; i < count; ++i)
        if (d.IsDlgButtonChecked(first + i)) return i;
    return 0;
}

COLORREF ColorOf(const RGBQUAD& q) { return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue); }

} // namespace

L_UINT DitherFlag(int index) { return L_UINT(std::clamp(index, 0, 7)) << 16; }

TDialogTemplate PaletteDialogTemplate(int resourceId) {
    TDialogTemplate t;
    switch (resourceId) {
        case IDD_EDITPALETTE:
            t = EffectDialogTemplate(IDD_EDITPALETTE, "Edit Palette");
            AddPaletteGrid(t, 8, 106, 128);
            AddDialogControl(t, IDC_EDIT_COLOR, K::PushButton, "&Edit Color...", 144, 106, 64, 14);
            FinishEffectDialogTemplate(t, 240);
            return t;
        case IDD_APPLYPALETTE:
            t = EffectDialogTemplate(IDD_APPLYPALETTE, "Apply Palette");
            AddDialogControl(t, IDC_PALETTE_LOAD, K::PushButton, "&Load...", 144, 106, 64, 14);
            AddDialogControl(t, IDC_MAINTAIN_INDEXES, K::CheckBox, "&Maintain indexes", 144, 124,
                             68, 10);
            AddPaletteGrid(t, 8, 106, 128);
            AddDitherGroup(t, 144, 138);
            FinishEffectDialogTemplate(t, 250);
            return t;
        default: {
            t = EffectDialogTemplate(IDD_COLORRESOLUTION, "Color Resolution");
            AddDialogControl(t, IDC_DEPTH_GROUP, K::GroupBox, "&Bits per pixel", 8, 106, 56, 86);
            const char* depths[6] = {"&1", "&4", "&8", "1&6", "&24", "&32"};
            for (int i = 0; i < 6; ++i)
                AddRadio(t, IDC_DEPTH_1 + i, depths[i], 14, 118 + 12 * i, 44, i == 0);
            AddDitherGroup(t, 70, 106);
            AddDialogControl(t, IDC_PALETTE_GROUP, K::GroupBox, "&Palette", 144, 106, 64, 74);
            const char* kinds[5] = {"Fi&xed", "Opti&mized", "Id&entity", "Nets&cape", "S&ierra"};
            for (int i = 0; i < 5; ++i)
                AddRadio(t, IDC_PALETTE_FIXED + i, kinds[i], 150, 118 + 12 * i, 54, i == 0);
            AddDialogControl(t, IDC_GRAYSCALE, K::CheckBox, "&Grayscale", 146, 186, 60, 10);
            FinishEffectDialogTemplate(t, 220);
            return t;
        }
    }
}

// ---------------------------------------------------------------------------
// TPalControl

TPalControl::TPalControl(TDialog& parent, int id) : parent_(parent), id_(id) { Show(); }

void TPalControl::Show() {
    std::vector<COLORREF> colors(static_cast<size_t>(count_));
    for (int i = 0; i < count_; ++i) colors[size_t(i)] = ColorOf(entries_[size_t(i)]);
    parent_.SetGridColors(id_, colors);
}

void TPalControl::SetColors(const RGBQUAD* entries, int count) {
    count = std::clamp(count, 0, 256);
    if (count > 0 && !entries) return;
    bool same = count == count_;
    for (int i = 0; same && i < count; ++i)
        same = ColorOf(entries[i]) == ColorOf(entries_[size_t(i)]);
    if (same) return;
    std::copy(entries, entries + count, entries_.begin());
    for (int i = 0; i < count; ++i) entries_[size_t(i)].rgbReserved = 0;
    count_ = count;
    Show();
}

int TPalControl::GetColors(RGBQUAD* entries, int capacity) const {
    if (entries && capacity >= count_)
        std::copy(entries_.begin(), entries_.begin() + count_, entries);
    return count_;
}

int TPalControl::Selected() const { return std::max(0, parent_.GetSelIndex(id_)); }

void TPalControl::InvalidateCell(int index) {
    if (index >= 0 && index < count_)
        parent_.SetGridColor(id_, index, ColorOf(entries_[size_t(index)]));
}

// ---------------------------------------------------------------------------
// TResolutionDialog

TResolutionDialog::TResolutionDialog(const TLeadBitmapX& source)
    : TEffectsDialog(source, PaletteDialogTemplate(IDD_COLORRESOLUTION), kEffectHelpContext) {}

bool TResolutionDialog::InitPanes() {
    if (!TEffectsDialog::InitPanes()) return false;
    const int bpp = Source().GetBitsPerPixel();
    const int depth = bpp < 2 ? 0 : bpp < 5 ? 1 : bpp < 9 ? 2 : bpp < 17 ? 3 : bpp < 25 ? 4 : 5;
    CheckRadioButton(IDC_DEPTH_1, IDC_DEPTH_32, IDC_DEPTH_1 + depth);
    CheckRadioButton(IDC_DITHER_NONE, IDC_DITHER_ORDERED, IDC_DITHER_FLOYD);
    CheckRadioButton(IDC_PALETTE_FIXED, IDC_PALETTE_SIERRA, IDC_PALETTE_OPTIMIZED);
    EnableControls();
    return true;
}

void TResolutionDialog::EnableControls() {
    const int b = GetChosenBitsPerPixel();
    const bool dither = b < 8 || (b == 8 && !IsDlgButtonChecked(IDC_GRAYSCALE));
    EnableControl(IDC_DITHER_GROUP, dither);
    for (int id = IDC_DITHER_NONE; id <= IDC_DITHER_ORDERED; ++id) EnableControl(id, dither);
    for (int id = IDC_PALETTE_FIXED; id <= IDC_PALETTE_IDENTITY; ++id) EnableControl(id, dither);
    EnableControl(IDC_PALETTE_GROUP, b <= 8);
    EnableControl(IDC_GRAYSCALE, b <= 8);
    EnableControl(IDC_PALETTE_NETSCAPE, b == 8 && dither);
    EnableControl(IDC_PALETTE_SIERRA, b == 8 && dither);
    if (b < 8 &&
        (IsDlgButtonChecked(IDC_PALETTE_NETSCAPE) || IsDlgButtonChecked(IDC_PALETTE_SIERRA)))
        CheckRadioButton(IDC_PALETTE_FIXED, IDC_PALETTE_SIERRA, IDC_PALETTE_OPTIMIZED);
}

void TResolutionDialog::EvCommand(int id, int notifyCode) {
    if (notifyCode == BN_CLICKED && ((id >= IDC_DEPTH_1 && id <= IDC_DEPTH_32) ||
                                     (id >= IDC_PALETTE_FIXED && id <= IDC_GRAYSCALE))) {
        EnableControls();
        UpdatePreview();
    } else if (notifyCode == BN_CLICKED && id >= IDC_DITHER_NONE && id <= IDC_DITHER_ORDERED) {
        UpdatePreview();
    } else {
        TEffectsDialog::EvCommand(id, notifyCode);
    }
}

int TResolutionDialog::GetChosenBitsPerPixel() const {
    return kDepths[FirstChecked(*this, IDC_DEPTH_1, 6)];
}

bool TResolutionDialog::IsGrayscaleChosen() const {
    return GetChosenBitsPerPixel() <= 8 && IsDlgButtonChecked(IDC_GRAYSCALE);
}

L_UINT TResolutionDialog::GetDitherFlags() const {
    return GetChosenBitsPerPixel() > 8 ? 0 : DitherFlag(FirstChecked(*this, IDC_DITHER_NONE, 8));
}

L_UINT TResolutionDialog::GetPaletteFlags() const {
    return GetChosenBitsPerPixel() > 8 ? 0
                                       : kPaletteFlags[FirstChecked(*this, IDC_PALETTE_FIXED, 5)];
}

const RGBQUAD* TResolutionDialog::GetUserPalette() const {
    return GetPaletteFlags() == CRF_USERPALETTE ? SierraPalette() : nullptr;
}

L_UINT TResolutionDialog::GetUserPaletteCount() const { return GetUserPalette() ? 256 : 0; }

L_INT TResolutionDialog::Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool) {
    TWaitCursor wait;
    const int b = GetChosenBitsPerPixel();
    const int storage = b > 8 ? 32 : b;
    const L_UINT flags = GetDitherFlags() | GetPaletteFlags();
    L_INT rc;
    if (!IsGrayscaleChosen()) {
        rc = L_ColorResBitmap(&src, &dst, storage, b <= 8 ? flags : L_UINT(CRF_BYTEORDERBGR),
                              GetUserPalette(), GetUserPaletteCount());
        dst.LogicalBpp = b;
        dst.GrayState = -1;
        if (rc == SUCCESS &&
            ((storage == 32 && src.BitsPerPixel != 32) || (b == 32 && src.GetBitsPerPixel() != 32)))
            rc = dst.MakeAlphaOpaque();
    } else {
        rc = dst.AssignX(src, true);
        if (rc == SUCCESS) rc = L_GrayScaleBitmap(&dst, 8);
        dst.LogicalBpp = dst.BitsPerPixel;
        dst.GrayState = -1;
        if (rc == SUCCESS && b < 8) {
            rc = L_ColorResBitmap(&dst, &dst, b, flags, GetUserPalette(), GetUserPaletteCount());
            dst.LogicalBpp = b;
        }
    }
    if (rc != SUCCESS) dst.Free();
    return rc;
}

// ---------------------------------------------------------------------------
// TEditPalDialog

TEditPalDialog::TEditPalDialog(const TLeadBitmapX& source)
    : TEffectsDialog(source, PaletteDialogTemplate(IDD_EDITPALETTE), kEffectHelpContext),
      grid_(*this, IDC_PALETTE_GRID) {}

bool TEditPalDialog::InitPanes() {
    if (!TEffectsDialog::InitPanes()) return false;
    const TLeadBitmapX& src = Source();
    if (src.BitsPerPixel <= 8 && src.pPalette) {
        const int n = 1 << src.BitsPerPixel;
        RGBQUAD colors[256];
        if (L_GetBitmapColors(&src, 0, n, colors) == SUCCESS) grid_.SetColors(colors, n);
    }
    return true;
}

void TEditPalDialog::EvCommand(int id, int notifyCode) {
    if ((id == IDC_EDIT_COLOR && notifyCode == BN_CLICKED) ||
        (id == IDC_PALETTE_GRID && notifyCode == 1))
        EditColor();
    else
        TEffectsDialog::EvCommand(id, notifyCode);
}

void TEditPalDialog::EditColor() {
    const int index = grid_.Selected();
    if (index >= grid_.Count()) return;
    RGBQUAD& entry = grid_.Entry(index);
    COLORREF color = ColorOf(entry);
    if (!CommonDialogs().ChooseColor(color, PaletteCustomColors())) return;
    entry = RGBQUAD{GetBValue(color), GetGValue(color), GetRValue(color), 0};
    grid_.InvalidateCell(index);
    UpdatePreview();
}

L_INT TEditPalDialog::Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool) {
    L_INT rc = dst.AssignX(src, true);
    if (rc != SUCCESS || dst.BitsPerPixel > 8) return rc;
    RGBQUAD colors[256];
    const int n = std::min(1 << dst.BitsPerPixel, grid_.GetColors(nullptr, 0));
    grid_.GetColors(colors, 256);
    dst.GrayState = -1;
    rc = L_PutBitmapColors(&dst, 0, n, colors);
    if (rc != SUCCESS) dst.Free();
    return rc;
}

// ---------------------------------------------------------------------------
// TApplyPalDialog

TApplyPaletteSettings& ApplyPaletteSettings() {
    static TApplyPaletteSettings settings;
    return settings;
}

TCustomColors& PaletteCustomColors() {
    static TCustomColors colors{};
    return colors;
}

TApplyPalDialog::TApplyPalDialog(const TLeadBitmapX& source)
    : TEffectsDialog(source, PaletteDialogTemplate(IDD_APPLYPALETTE), kEffectHelpContext),
      grid_(*this, IDC_PALETTE_GRID),
      settings_(ApplyPaletteSettings()) {}

bool TApplyPalDialog::InitPanes() {
    if (!TEffectsDialog::InitPanes()) return false;
    CheckDlgButton(IDC_MAINTAIN_INDEXES, settings_.MaintainIndexes);
    for (int i = 0; i < 8; ++i) CheckDlgButton(IDC_DITHER_NONE + i, settings_.Dither[size_t(i)]);
    grid_.SetColors(settings_.Entries.data(), settings_.Count);
    MaintainIndexesRule();
    return true;
}

void TApplyPalDialog::ReadControls() {
    settings_.MaintainIndexes = IsDlgButtonChecked(IDC_MAINTAIN_INDEXES);
    for (int i = 0; i < 8; ++i)
        settings_.Dither[size_t(i)] = IsDlgButtonChecked(IDC_DITHER_NONE + i);
    settings_.Count = grid_.GetColors(settings_.Entries.data(), 256);
}

void TApplyPalDialog::MaintainIndexesRule() {
    ReadControls();
    if (Source().GetBitsPerPixel() <= 8) {
        const bool dither = !IsDlgButtonChecked(IDC_MAINTAIN_INDEXES);
        EnableControl(IDC_DITHER_GROUP, dither);
        for (int id = IDC_DITHER_NONE; id <= IDC_DITHER_ORDERED; ++id) EnableControl(id, dither);
    } else {
        // A true-colour picture has no colour table whose entries could be replaced.
        CheckDlgButton(IDC_MAINTAIN_INDEXES, false);
        EnableControl(IDC_MAINTAIN_INDEXES, false);
        ReadControls();
    }
}

void TApplyPalDialog::Load() {
    TFileDialogRequest request;
    request.Caption = "Open";
    request.Filters = {{"Microsoft PAL files", "*.pal", "pal"}, {"All files", "*.*", ""}};
    request.DefaultExt = "pal";
    TFileDialogResult result;
    if (!CommonDialogs().GetOpenFileNames(request, result) || result.Paths.empty()) return;
    RGBQUAD entries[256];
    const int count = ReadPaletteFile(result.Paths.front().c_str(), entries, 256);
    if (count < 1) {
        // What was shown and remembered stays as it was.
        ShowToolkitError(ERROR_FILE_FORMAT, Caption());
        return;
    }
    grid_.SetColors(entries, count);
    ReadControls();
    UpdatePreview();
}

void TApplyPalDialog::EvCommand(int id, int notifyCode) {
    if (notifyCode == BN_CLICKED && id == IDC_MAINTAIN_INDEXES) {
        MaintainIndexesRule();
        UpdatePreview();
    } else if (notifyCode == BN_CLICKED && id >= IDC_DITHER_NONE && id <= IDC_DITHER_ORDERED) {
        ReadControls();
        UpdatePreview();
    } else if (notifyCode == BN_CLICKED && id == IDC_PALETTE_LOAD) {
        Load();
    } else {
        if (notifyCode == BN_CLICKED && id == IDOK) ReadControls();
        TEffectsDialog::EvCommand(id, notifyCode);
    }
}

L_INT TApplyPalDialog::Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool) {
    TWaitCursor wait;
    L_INT rc = dst.AssignX(src, true);
    if (rc != SUCCESS || settings_.Count == 0) return rc;
    dst.GrayState = -1;
    if (!settings_.MaintainIndexes) {
        const int depth = settings_.Count < 3 ? 1 : settings_.Count < 17 ? 4 : 8;
        int dither = 0;
        for (int i = 0; i < 8; ++i)
            if (settings_.Dither[size_t(i)]) dither = i;
        dst.LogicalBpp = depth;
        rc = L_ColorResBitmap(&dst, &dst, depth, DitherFlag(dither) | CRF_USERPALETTE,
                              settings_.Entries.data(), L_UINT(settings_.Count));
    } else if (dst.BitsPerPixel <= 8) {
        const int n = std::min(settings_.Count, 1 << dst.BitsPerPixel);
        rc = L_PutBitmapColors(&dst, 0, n, settings_.Entries.data());
    }
    if (rc != SUCCESS) dst.Free();
    return rc;
}

// ---------------------------------------------------------------------------

bool SavePaletteAs(const TLeadBitmapX& bitmap) {
    if (bitmap.GetBitsPerPixel() > 8 || bitmap.BitsPerPixel > 8 || !bitmap.pPalette) return false;
    TFileDialogRequest request;
    request.Caption = "Save Palette";
    request.Filters = {{"Microsoft PAL files", "*.pal", "pal"}, {"All files", "*.*", ""}};
    request.DefaultExt = "pal";
    request.OverwritePrompt = true;
    TFileDialogResult result;
    if (!CommonDialogs().GetSaveFileName(request, result) || result.Paths.empty()) return false;
    return WritePaletteFile(result.Paths.front().c_str(), bitmap.pPalette,
                            1 << bitmap.BitsPerPixel);
}
