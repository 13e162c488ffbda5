// The size dialogs: "Resize", "Resize Canvas", "New Image Properties" and "New Layer
// Properties". They only collect a width and a height (in the unit the user picks, converted
// with the image's resolution), optionally the canvas anchors or the bits per pixel; the
// commands read the answers from the dialog's transfer record after OK and do the work.
#pragma once

#include <array>
#include <string>

#include "Dialog.h"

// Dialog resources.
enum : int {
    IDD_RESIZE = 1,
    IDD_RESIZECANVAS = 1523,
    IDD_NEWIMAGE = 1524,
    IDD_NEWLAYER = 1525,
};

// Controls, the same ids in every size dialog.
enum : int {
    IDC_WIDTHSPIN = 101,
    IDC_HEIGHTSPIN = 102,
    IDC_WIDTH = 103,
    IDC_HEIGHT = 104,
    IDC_KEEPASPECT = 105,
    IDC_PRESET400 = 106,
    IDC_PRESET200 = 107,
    IDC_PRESET75 = 108,
    IDC_PRESET50 = 109,
    IDC_CUSTOM = 110,
    IDC_PRESET150 = 111,
    IDC_UNITS = 113,
    // "Resize Canvas"
    IDC_CANVASHORZ = 114,
    IDC_CANVASVERT = 115,
    // "New Image Properties": bits per pixel 1, 4, 8, 16, 24, 32
    IDC_BPP1 = 114,
    IDC_BPP32 = 119,
    // "Resize": how the pixels are resampled
    IDC_RESAMPLING = 120,
};

// Help context of every size dialog.
constexpr int kSizeDialogHelpContext = 8;

struct TListTransfer {
    std::vector<TListItem> Items;
    int Selection = -1;
};

// What a size dialog reads when it opens and writes back on OK. One record per dialog
// lives for the whole run; the commands reset it before each opening.
struct TResizeTransfer {
    std::array<bool, 5> Presets{}; // 400 %, 200 %, 150 %, 75 %, 50 %
    bool Custom = false;
    std::string Width, Height; // in the unit of the units list
    bool KeepAspect = false;
    TListTransfer Units;                // each item's data is its unit code
    TListTransfer Horizontal, Vertical; // "Resize Canvas": 0 left/top, 1 centre, 2 right/bottom
    std::array<bool, 6> Bits{};         // "New Image Properties": 1, 4, 8, 16, 24, 32
    TListTransfer Resampling;           // "Resize": each item's data is its SIZE_ flag
};

// The record of the dialog with this resource id (one of the IDD_ values).
TResizeTransfer& SizeDialogTransfer(int resourceId);

// The states the commands start each dialog in: nothing checked, the units list with the
// current unit selected; "Keep aspect ratio" for Resize and Resize Canvas, 24 bits for the
// two new-image dialogs, "Center" in both anchor lists of Resize Canvas.
void ResetResizeTransfer(TResizeTransfer& t);
void ResetResizeCanvasTransfer(TResizeTransfer& t);
void ResetNewImageTransfer(TResizeTransfer& t);
void ResetNewLayerTransfer(TResizeTransfer& t);

// The templates IDD_RESIZE, IDD_RESIZECANVAS, IDD_NEWIMAGE and IDD_NEWLAYER (an unknown id
// gives IDD_RESIZE's).
TDialogTemplate SizeDialogTemplate(int resourceId);

// A resolution the unit conversions can use: images without one (0 or negative dots per
// inch) are measured at 72 dots per inch, the resolution new images get.
int EffectiveResolution(int dpi);

// The size the user chose: each text of the record through ToPixels (current unit, the
// effective resolution) and truncated. False when either is below 1 pixel or too large
// to represent; the outputs are then unchanged.
bool ReadSizeTransfer(const TResizeTransfer& t, int xRes, int yRes, int& widthPx, int& heightPx);
// The toolkit's sizing flag chosen in the record (SIZE_RESAMPLE when none is chosen).
L_UINT ReadResamplingTransfer(const TResizeTransfer& t);
// The bits per pixel checked in the record; 24 when none is.
int ReadBitsTransfer(const TResizeTransfer& t);
// Where the old image goes on a new canvas along one axis, for anchor index 0, 1 or 2.
int CanvasOffset(int anchorIndex, int newSize, int oldSize);

class TResizeDialog : public TCenterDialog {
public:
    // Sizes in pixels and resolutions in dots per inch of the image (or layer) being sized.
    TResizeDialog(int widthPx, int heightPx, int xRes, int yRes, int resourceId,
                  TResizeTransfer& transfer);

    // The size being edited, in pixels.
    double Width() const { return width_; }
    double Height() const { return height_; }

protected:
    void SetupWindow() override;
    void TransferData(TTransfer direction) override;
    void EvCommand(int id, int notifyCode) override;
    void EvVScroll(int id, int code) override;

    // Rewrites the chosen texts from the pixel sizes, optionally checks "Custom" instead of
    // a preset, and moves the spins to match the texts.
    void Refresh(bool widthText, bool heightText, bool resetPresets);
    void SyncSpins();
    // The edits take whole numbers in pixels, two decimals in the other units.
    void LimitInputToUnit();

    TResizeTransfer& transfer_;
    int xRes_, yRes_;

private:
    std::string FormatUnits(double pixels, int resolution) const;

    double aspect_;
    double originalWidth_, originalHeight_;
    double width_, height_;
    bool widthEditedLast_ = true;
    // Set while the dialog rewrites its own controls.
    bool updating_ = false;
};

class TResizeCanvasDialog : public TResizeDialog {
public:
    TResizeCanvasDialog(int widthPx, int heightPx, int xRes, int yRes, int resourceId,
                        TResizeTransfer& transfer)
        : TResizeDialog(widthPx, heightPx, xRes, yRes, resourceId, transfer) {}

protected:
    void TransferData(TTransfer direction) override;
};

class TNewFilePropsDialog : public TResizeDialog {
public:
    TNewFilePropsDialog(int widthPx, int heightPx, int xRes, int yRes, int resourceId,
                        TResizeTransfer& transfer)
        : TResizeDialog(widthPx, heightPx, xRes, yRes, resourceId, transfer) {}

protected:
    void TransferData(TTransfer direction) override;
    // OK with a size below one pixel (0, or nothing typed) keeps the dialog open with a
    // message and the texts as typed.
    bool CanClose() override;
};

// File New's question: runs "New Image Properties" for a 100 x 100 image at 72 dots per
// inch, starting from 24 bits and the current unit. On OK gives the size in pixels and the
// bits per pixel chosen; false on Cancel or a size no image can have.
bool RunNewImageDialog(int& widthPx, int& heightPx, int& bitsPerPixel);
