// The dialogs that show a layer's original beside a preview of an adjustment or filter.
//
// How to write one:
//   1. Build its template: EffectDialogTemplate (the two panes and the hint), your own
//      controls below kEffectControlsTop (AddDialogControl, AddSliderRow), then
//      FinishEffectDialogTemplate (OK, Cancel, Help). Slider rows are placeholders: turn
//      them into sliders with ReplaceWithSliders before handing the template on.
//   2. Derive from TEffectsDialog (or TSliderDialog for one slider and nothing else; set
//      Minimum, Maximum, RulerStep and Initial in the constructor) and implement Apply: fill
//      dst from src with the current settings and return the toolkit status. Apply must
//      not change src, and it runs both on a small crop for the preview (preview true) and,
//      after OK, on the whole layer with the selection as its region (preview false).
//   3. Recompute the preview with SliderMoved(code) from EvHScroll, or UpdatePreview after
//      any other change of a setting.
//   4. Add a row to the command table in EffectCommands.cpp.
// The dialog never keeps a reference to the document: the constructor, Execute and Apply
// are its whole contract with the command that opens it.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>

#include "Dialog.h"
#include "LeadBitmap.h"

// Controls of the common upper block, and of TSliderDialog.
enum : int {
    IDC_ORIGINAL = 501, // the original pane
    IDC_PREVIEW = 502,  // the preview pane
    IDC_ORIGINALPLACE = 3101,
    IDC_PREVIEWPLACE = 3102,
    IDC_SLIDER = 103,
    IDC_SLIDERVALUE = 104,
    IDC_SLIDERMIN = 105,
    IDC_SLIDERMAX = 106,
};

// The help context of the adjustment and filter dialogs.
constexpr int kEffectHelpContext = 8;

// Template layout is written in dialog units, two pixels each way.
constexpr int kDialogUnit = 2;
RECT DialogUnitRect(int x, int y, int width, int height);
// Where a dialog's own controls start below the upper block (dialog units).
constexpr int kEffectControlsTop = 106;
// The upper block: a group box, "Original:" and "Preview:" with their placeholders
// (3101, 3102), and the hint under them. The panes 501 and 502 come from the placeholders
// when the dialog is built.
TDialogTemplate EffectDialogTemplate(int resourceId, const std::string& caption);
void AddDialogControl(TDialogTemplate& t, int id, TControlKind kind, const std::string& text, int x,
                      int y, int width, int height);
// A labelled slider placeholder with the texts of its two ends under it, 26 units high.
void AddSliderRow(TDialogTemplate& t, int y, const std::string& label, int sliderId,
                  const std::string& minText, const std::string& maxText);
// OK, Cancel and Help at `y` (dialog units), and the dialog's size.
void FinishEffectDialogTemplate(TDialogTemplate& t, int y);
// The placeholders with these ids become sliders in the same place and tab position.
TDialogTemplate ReplaceWithSliders(TDialogTemplate t, std::initializer_list<int> ids);

// One pane: shows a toolkit bitmap 1:1, centred, and turns clicks into bitmap points.
// The bitmap is not owned. A 32-bit bitmap is shown blended over the background colour,
// so transparent parts of a layer look as they do in the view.
class TImageControl {
public:
    TImageControl(TDialog& parent, int id, bool zoomCursor);
    ~TImageControl();
    TImageControl(const TImageControl&) = delete;
    TImageControl& operator=(const TImageControl&) = delete;

    int Id() const { return id_; }
    void SetBitmap(const BITMAPHANDLE* bitmap);
    const BITMAPHANDLE* Bitmap() const { return bitmap_; }
    // What the pane paints: the bitmap, or its blend over the background colour (or, with
    // Fit, a copy scaled into the pane). Null for an empty pane.
    const BITMAPHANDLE* Shown() const;
    // The client size; a new size recomputes the offsets.
    int ClientWidth() const { return width_; }
    int ClientHeight() const { return height_; }
    void Resize(int width, int height);
    // Where the bitmap's top left corner lies in the client area.
    POINT Offset() const { return offset_; }
    // The point of the last click on this pane in pixels of the bitmap; false when the
    // click was beside the bitmap or there is none.
    bool GetImagePoint(POINT& point) const;
    // The colour around and under the bitmap.
    static COLORREF BackgroundColor();

    // Drawn scaled to fit the client area with its aspect ratio instead of 1:1.
    bool Fit = false;

private:
    void Recompute();

    TDialog& parent_;
    int id_;
    int width_ = 0, height_ = 0;
    const BITMAPHANDLE* bitmap_ = nullptr;
    TLeadBitmap display_; // the blended or fitted copy, when one is needed
    POINT offset_{};
};

class TEffectsDialog : public TCenterDialog {
public:
    // source: the layer bitmap; it is shared, never changed, and must outlive the dialog.
    // A source deeper than 8 bits and not 32 is worked on as a 32-bit copy.
    TEffectsDialog(const TLeadBitmapX& source, TDialogTemplate tmpl, int helpContext);
    ~TEffectsDialog() override;

    // dst (empty) receives src processed with the current settings; src stays unchanged.
    // Returns 1 or a toolkit error code.
    virtual L_INT Apply(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) = 0;

    // The part of the source both panes show (image coordinates).
    RECT GetVisibleRect() const;
    double GetZoom() const { return zoom_; }
    int GetZoomLevel() const { return zoomLevel_; }
    POINT ViewOrigin() const { return POINT{originX_, originY_}; }
    const TLeadBitmapX& Source() const { return source_; }
    const TLeadBitmapX& ShownOriginal() const { return shown_; }
    // Empty while there is no valid preview.
    const TLeadBitmapX& PreviewBitmap() const { return preview_; }
    TImageControl* OriginalPane() const { return original_.get(); }
    TImageControl* PreviewPane() const { return previewPane_.get(); }
    // Forgets the shared source and the pane bitmaps (after Execute, before the source's
    // region changes); Apply still works on the bitmaps it is handed.
    void ReleaseSource();
    // How long the last preview took.
    double LastPreviewMs() const { return lastPreviewMs_; }

    // The hourglass shows while the preview is computed.
    bool BusyCursor = true;
    // A slider being dragged recomputes the preview on every move while the last preview
    // took less than this; otherwise only when it is let go.
    double LivePreviewLimitMs = 40.0;
    // For operations that treat each pixel on its own (no neighbourhood, no sizes in
    // pixels): a preview smaller than the visible crop is worked out on the crop shrunk to
    // the pane first.
    bool PreviewShrinksFirst = false;

protected:
    enum class TZoom { In, Out };
    enum class TPane { Original, Preview };
    enum class TRefresh { Preview, None };

    // Apply's starting point for functions that give a shared bitmap a block of its own
    // before they write into it (the point operations, the neighbourhood filters, the
    // underlay, Red Eye): dst shares src's block, which spares a copy of the whole layer. A
    // preview stays a copy: the pane's code may write into it.
    static L_INT ShareSource(TLeadBitmapX& dst, const TLeadBitmapX& src, bool preview) {
        return preview ? dst.AssignX(src, true) : dst.ShareX(src);
    }

    void SetupWindow() override;
    void EvCommand(int id, int notifyCode) override;
    // Creates the panes and shows the source at the fitted zoom; false (and the dialog
    // cancelled) when it cannot.
    virtual bool InitPanes();
    virtual void UpdatePreview();
    // Zooms about the clicked point of a pane; refused beyond the levels -2..5, when the
    // click missed the bitmap, or when fewer than 2 image pixels would be visible.
    void Zoom(TZoom direction, TPane pane, TRefresh refresh);
    // For the scroll events of sliders: the preview follows the release (SB_ENDSCROLL)
    // and, when it is fast, the drag.
    void SliderMoved(int code);

private:
    L_INT ShowCrop(int x, int y, int width, int height, int shownWidth, int shownHeight);

    TLeadBitmapX source_;
    L_INT sourceStatus_ = SUCCESS;
    TLeadBitmapX shown_;
    TLeadBitmapX preview_;
    std::unique_ptr<TImageControl> original_, previewPane_;
    double zoom_ = 1.0;
    int zoomLevel_ = 0;
    int originX_ = 0, originY_ = 0;
    int visibleWidth_ = 0, visibleHeight_ = 0;
    double lastPreviewMs_ = 0.0;
};

// One slider (103) with its position (104) and its two ends (105, 106) as numbers.
class TSliderDialog : public TEffectsDialog {
public:
    // tmpl holds a slider placeholder 103.
    TSliderDialog(const TLeadBitmapX& source, TDialogTemplate tmpl, int helpContext);

    int Position() const { return GetPosition(IDC_SLIDER); }

    int Minimum = 2;
    int Maximum = 50;
    int RulerStep = 1;
    int Initial = 3;

protected:
    bool InitPanes() override;
    void SetupWindow() override;
    void EvHScroll(int id, int code) override;
};
