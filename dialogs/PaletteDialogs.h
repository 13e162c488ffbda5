// The colour depth and palette dialogs: "Color Resolution" chooses a depth, a dithering
// method and a palette kind (or gray); "Edit Palette" changes single colour-table entries;
// "Apply Palette" maps the picture onto the colours of a palette file, or puts them into
// the colour table keeping every pixel's index. The colour table is shown as a 16 x 16
// grid (TPalControl).
#pragma once

#include <array>

#include "CommonDialogs.h"
#include "EffectsDialog.h"

enum : int {
    IDD_COLORRESOLUTION = 1505,
    IDD_EDITPALETTE = 1520,
    IDD_APPLYPALETTE = 1521,
};

enum : int {
    // "Color Resolution": six depths, eight dithering methods, five palette kinds.
    IDC_DEPTH_GROUP = 106,
    IDC_DEPTH_1 = 107, // 1, 4, 8, 16, 24, 32 bits: 107..112
    IDC_DEPTH_32 = 112,
    IDC_DITHER_GROUP = 113,
    IDC_DITHER_NONE = 114,  // none, Floyd-Steinberg, Stucki, Burkes, Sierra, Stevenson Arce,
    IDC_DITHER_FLOYD = 115, // Jarvis, ordered: 114..121
    IDC_DITHER_ORDERED = 121,
    IDC_PALETTE_GROUP = 122,
    IDC_PALETTE_FIXED = 123, // fixed, optimized, identity, Netscape, Sierra: 123..127
    IDC_PALETTE_OPTIMIZED = 124,
    IDC_PALETTE_IDENTITY = 125,
    IDC_PALETTE_NETSCAPE = 126,
    IDC_PALETTE_SIERRA = 127,
    IDC_GRAYSCALE = 128,
    // "Edit Palette" and "Apply Palette".
    IDC_PALETTE_LOAD = 101,
    IDC_MAINTAIN_INDEXES = 102,
    IDC_EDIT_COLOR = 104,
    IDC_PALETTE_GRID = 105,
    IDC_PALETTE_PLACE = 3103,
};

// The dithering flag of each button 114..121, in order.
L_UINT DitherFlag(int index);

// The colour table of a dialog as a 16 x 16 grid of cells over a grid control of the
// dialog: the entries are kept here, the control shows them.
class TPalControl {
public:
    TPalControl(TDialog& parent, int id);

    // Replaces the entries and the count (at most 256) unless they are what is shown.
    void SetColors(const RGBQUAD* entries, int count);
    // Copies the entries when capacity is at least the count; returns the count.
    int GetColors(RGBQUAD* entries, int capacity) const;
    int Count() const { return count_; }
    int Selected() const;
    RGBQUAD& Entry(int index) { return entries_[size_t(index & 0xFF)]; }
    // Shows a changed entry.
    void InvalidateCell(int index);

private:
    void Show();

    TDialog& parent_;
    int id_;
    std::array<RGBQUAD, 256> entries_{};
    int count_ = 256;
};

class TResolutionDialog : public TEffectsDialog {
public:
    explicit TResolutionDialog(const TLeadBitmapX& source);
    L_INT Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) override;

    // The choices, read from the controls as they stand.
    int GetChosenBitsPerPixel() const;
    bool IsGrayscaleChosen() const;
    L_UINT GetDitherFlags() const;  // 0 above 8 bits
    L_UINT GetPaletteFlags() const; // 0 above 8 bits
    const RGBQUAD* GetUserPalette() const;
    L_UINT GetUserPaletteCount() const;

protected:
    bool InitPanes() override;
    void EvCommand(int id, int notifyCode) override;
    // Enables what the chosen depth allows; a palette only 8 bits can have gives way to
    // the optimized one at fewer bits.
    void EnableControls();
};

class TEditPalDialog : public TEffectsDialog {
public:
    explicit TEditPalDialog(const TLeadBitmapX& source);
    L_INT Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) override;
    TPalControl& Grid() { return grid_; }

protected:
    bool InitPanes() override;
    void EvCommand(int id, int notifyCode) override;

private:
    void EditColor();
    TPalControl grid_;
};

// What "Apply Palette" remembers for the rest of the run: Floyd-Steinberg and no palette at
// first, then the palette and the choices last used.
struct TApplyPaletteSettings {
    bool MaintainIndexes = false;
    std::array<bool, 8> Dither{false, true};
    int Count = 0;
    std::array<RGBQUAD, 256> Entries{};
};
TApplyPaletteSettings& ApplyPaletteSettings();

class TApplyPalDialog : public TEffectsDialog {
public:
    explicit TApplyPalDialog(const TLeadBitmapX& source);
    L_INT Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) override;
    TPalControl& Grid() { return grid_; }

protected:
    bool InitPanes() override;
    void EvCommand(int id, int notifyCode) override;

private:
    void ReadControls();
    void MaintainIndexesRule();
    void Load();
    TPalControl grid_;
    TApplyPaletteSettings& settings_;
};

// The colour chooser's 16 custom colours, kept for the run.
TCustomColors& PaletteCustomColors();

// Save Palette: asks for a file name and writes the colour table of a bitmap of 8 bits or
// less. False for deeper bitmaps, on Cancel and when the file could not be written.
bool SavePaletteAs(const TLeadBitmapX& bitmap);

// The template of IDD_COLORRESOLUTION, IDD_EDITPALETTE or IDD_APPLYPALETTE.
TDialogTemplate PaletteDialogTemplate(int resourceId);
