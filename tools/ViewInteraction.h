// The view's mouse, keyboard and timer dispatch: the interaction modes and the commands
// that choose them, the selection gestures, the zoom, move and hand tools, the paint
// tool's press-to-release path, cursors and status hints.
#pragma once

#include <memory>
#include <string>

#include "PaintTool.h"
#include "Selection.h"
#include "ViewTools.h"

class TImageView;
class TLayer;

// Interaction modes (TImageView::Mode).
enum : int {
    MODE_RECT_SELECTION = 0,
    MODE_ELLIPSE_SELECTION = 1,
    MODE_FREEHAND_SELECTION = 2,
    MODE_RETOUCHER = 3,
    MODE_MAGIC_WAND = 4,
    MODE_DEFORMATION = 5,
    MODE_PAINT = 6,
    MODE_MOVE = 7,
    MODE_ZOOM = 8,
    MODE_HAND = 9,
};

// The view's timers besides the marching ants.
inline constexpr int kStrokeTimer = 9997;
inline constexpr int kStrokePeriodMs = 200;
inline constexpr int kRetouchCursorTimer = 9998;
inline constexpr int kRetouchCursorPeriodMs = 100;

// The most a zoomed canvas may measure in either direction.
inline constexpr int kMaxZoomedCanvas = 25000;

class TViewInteraction : public IViewTools {
public:
    explicit TViewInteraction(TImageView& view);
    ~TViewInteraction() override;
    TViewInteraction(const TViewInteraction&) = delete;
    TViewInteraction& operator=(const TViewInteraction&) = delete;

    void OnButtonDown(TMouseButton button, unsigned keys, POINT client) override;
    void OnButtonUp(TMouseButton button, unsigned keys, POINT client) override;
    void OnMouseMove(unsigned keys, POINT client) override;
    bool OnKeyDown(int key, unsigned keys) override;
    void OnKeyUp(int key, unsigned keys) override;
    bool OnTimer(int id) override;
    void OnCancelMode() override;
    void OnKillFocus() override;
    void OnCaptureChanged() override;
    bool Notify(int code) override;
    void TextOptionsChanged() override;
    void TextColorChanged() override;
    void Paint(HDC dc, const RECT& rc) override;
    bool StatusText(std::string* text) const override;
    void Reset() override;

    void CommandEnable(TCommandEnabler& ce) override;
    bool Command(int id) override;

    // The paint tool object and the selection shape of the gesture, or null.
    TXPaintTool* PaintTool() const { return tool_.get(); }
    TXSelection* Selection() const { return selection_.get(); }
    // The combine operation the modifier keys choose now.
    int SelectCombine() const;
    // The status hint of the current mode and keys.
    std::string Hint() const;
    // The cursor of the current mode, keys and pointer position.
    int CursorId() const;
    // Zooms so that an image rectangle fills the window (the zoom tool's drag), by powers
    // of two and never past kMaxZoomedCanvas; an empty rectangle doubles the zoom. Then
    // centres the view on the rectangle.
    void ZoomToRect(const RECT& r);

private:
    void EndGesture();
    void SetMode(int mode);
    void ToggleMode(int mode);
    void ChoosePaintTool(int kind);
    void AfterModeChange();
    void UpdateModifier();
    void UpdateCursor();
    void ShowHint();
    void ShowOptions();

    void PressSelection(int button, POINT q);
    void PressMove(POINT q);
    void PressPaint(int button, POINT q);
    void MoveSelection(POINT q);
    void MoveLayer(POINT q);
    // Ends whatever gesture runs; release: give the mouse capture back.
    void Finish(int combine, bool release);
    bool EnsureMask();
    void ApplyShape(int combine);
    void DestroyTool();
    // Puts back every pixel outside the selection from the stroke's snapshot.
    void ConfineStroke();
    // The snapshot of the stroke's start still matches the current layer (only layers of
    // more than 8 bits per pixel qualify unless anyDepth).
    bool HistoryCheck(bool anyDepth = false) const;
    void ZoomOutAt(POINT q);
    void SelectWholeLayer();

    void DrawRetouchCursor();
    void EraseRetouchCursor();

    TLayer* CurrentLayer() const;

    TImageView& view_;
    std::unique_ptr<TXPaintTool> tool_;
    std::unique_ptr<TXSelection> selection_;
    int selectionKind_ = 0; // 1 rectangle, 2 ellipse, 3 free hand, 4 retoucher, 5 wand
    unsigned keys_ = 0;     // the modifier keys of the newest event
    bool finishing_ = false;
    bool ownCapture_ = false; // we are giving the capture back ourselves
    // The retoucher's outline circle, in content coordinates.
    bool circleShown_ = false;
    POINT circleCentre_{};
    int circleRadius_ = 0;
};

// The smallest rectangle (right and bottom exclusive) holding every selected pixel of a
// 1-bit mask; false when none is selected.
bool SelectionBounds(const BITMAPHANDLE& mask, RECT* bounds);

// Gives a view its tools.
void AttachTools(TImageView& view);
