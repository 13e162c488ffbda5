#include "ViewInteraction.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "BrushTools.h"
#include "CommandIds.h"
#include "ImageDocManager.h"
#include "ImageView.h"
#include "PaintToolFactory.h"
#include "ShapeTools.h"
#include "TextTool.h"

namespace {

struct TPaintKindInfo {
    int Command;
    const char* UndoName; // null: the tool records nothing
    int Cursor;
};

// By kind.
constexpr TPaintKindInfo kPaintKinds[] = {
    {CM_LINE_TOOL, "Line", 23},         {CM_RECTANGLE_TOOL, "Rectangle", 24},
    {CM_ELLIPSE_TOOL, "Ellipse", 25},   {CM_BRUSH_TOOL, "Brush", 26},
    {CM_SMUDGE_TOOL, "Smudge", 27},     {CM_EYEDROPPER_TOOL, nullptr, 28},
    {CM_CLONE_TOOL, "Clone Brush", 35}, {CM_HISTORY_BRUSH_TOOL, "History Brush", 38},
    {CM_FILL_TOOL, "Fill", 36},         {CM_TEXT_TOOL, "Text", 37},
    {CM_AIRBRUSH_TOOL, "Airbrush", 39},
};
constexpr int kPaintKindCount = int(std::size(kPaintKinds));

// By mode; the paint mode's command depends on the kind.
constexpr int kModeCommands[] = {
    CM_RECT_SELECTION,
    CM_ELLIPSE_SELECTION,
    CM_FREEHAND_SELECTION,
    CM_SELECTION_RETOUCHER,
    CM_MAGIC_WAND,
    CM_DEFORMATION,
    0,
    CM_MOVE_TOOL,
    CM_ZOOM_TOOL,
    CM_HAND_TOOL,
};

enum : int {
    CURSOR_HAND = 15,
    CURSOR_DEFORM = 16,
    CURSOR_ZOOM = 18,
    CURSOR_RETOUCH = 29,
    CURSOR_RETOUCH_SUBTRACT = 30,
};
// By SelectModifier.
constexpr int kShapeCursors[] = {19, 21, 20, 22};
constexpr int kWandCursors[] = {34, 32, 33, 31};
// SelectModifier to combine operation: none replaces, Ctrl subtracts, Shift adds, both
// select outside.
constexpr int kCombines[] = {SELECT_REPLACE, SELECT_SUBTRACT, SELECT_ADD, SELECT_OUTSIDE};

int ButtonNumber(TMouseButton b) {
    return b == TMouseButton::Left ? 1 : b == TMouseButton::Middle ? 2 : 3;
}

bool IsSelectionMode(int mode) { return mode >= MODE_RECT_SELECTION && mode <= MODE_MAGIC_WAND; }

// The power of two 2^trunc(log2 r): ratios below 1 are taken toward 1.
double PowerOfTwo(double r) { return std::exp2(std::trunc(std::log2(r))); }

COLORREF GrayLevel(COLORREF c) {
    const int r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
    const int l = (r * 299 + g * 587 + b * 114 + 500) / 1000;
    return RGB(l, l, l);
}

RECT Intersect(const RECT& a, const RECT& b) {
    return RECT{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                std::min(a.bottom, b.bottom)};
}

// Draws with dc in content coordinates straight into the backing store, then shows it.
template <class F>
void DrawIntoView(TImageView& view, F draw) {
    IWindowHost& host = view.Host();
    HDC dc = host.BackingDC();
    if (!dc) return;
    const TScrollState& s = host.Scroller();
    {
        TDCStateGuard guard(dc);
        dc->SetViewportOrg(-s.PosX * s.UnitX, -s.PosY * s.UnitY);
        draw(dc);
    }
    const TSize client = host.GetClientSize();
    host.ShowBackingStore(RECT{0, 0, client.cx, client.cy});
}

} // namespace

TViewInteraction::TViewInteraction(TImageView& view) : view_(view) {}

// A text frame still open when the view goes, or when its image is replaced (Undo, Revert,
// a new document), is dropped: committing it would draw into an image that is going or
// into the one that replaced it.
TViewInteraction::~TViewInteraction() {
    if (auto* text = dynamic_cast<TTextPaintTool*>(tool_.get())) text->Cancel();
}

TLayer* TViewInteraction::CurrentLayer() const {
    TImageData* data = view_.GetImageData();
    if (!data || data->Image.Count() == 0) return nullptr;
    TLayer* layer = data->Image.GetCurrentLayer();
    return layer && layer->IsAllocated() ? layer : nullptr;
}

// ---------------------------------------------------------------------------
// Modes and commands.

void TViewInteraction::UpdateModifier() {
    int m = ((keys_ & MK_SHIFT) ? 2 : 0) + ((keys_ & MK_CONTROL) ? 1 : 0);
    // The retoucher only adds or subtracts.
    if (view_.Mode == MODE_RETOUCHER && m != 1 && m != 2) m = 2;
    view_.SelectModifier = m;
}

int TViewInteraction::SelectCombine() const { return kCombines[view_.SelectModifier & 3]; }

void TViewInteraction::EndGesture() {
    // A drag left running under another mode would never end: its release goes to the
    // new mode, and Dragging would keep the zoom commands off for good.
    if (view_.Dragging || view_.Capturing) Finish(SELECT_REPLACE, true);
}

void TViewInteraction::SetMode(int mode) {
    EndGesture();
    if (view_.Mode == MODE_DEFORMATION || mode == MODE_DEFORMATION) view_.InvalidateAll();
    view_.Mode = mode;
    if (IsSelectionMode(mode)) UpdateModifier();
    if (mode == MODE_RETOUCHER) {
        view_.SelectModifier = 2;
        view_.Host().SetTimer(kRetouchCursorTimer, kRetouchCursorPeriodMs);
    }
    AfterModeChange();
}

void TViewInteraction::AfterModeChange() {
    UpdateCursor();
    ShowHint();
    ShowOptions();
}

void TViewInteraction::ShowOptions() {
    if (view_.OnToolChanged) view_.OnToolChanged();
}

void TViewInteraction::ToggleMode(int mode) {
    EndGesture();
    if (view_.Mode != mode) {
        view_.PrevMode = view_.Mode;
        SetMode(mode);
        return;
    }
    const int prev = view_.PrevMode;
    if (prev == MODE_PAINT)
        ChoosePaintTool(view_.PaintToolKind);
    else if (prev != mode && prev >= 0 && prev <= MODE_HAND)
        Command(kModeCommands[prev]);
}

void TViewInteraction::ChoosePaintTool(int kind) {
    const bool same = view_.Mode == MODE_PAINT && view_.PaintToolKind == kind;
    // The history brush paints back what the last change made, so it needs a last change
    // whose picture matches the current layer.
    if (kind == PAINT_HISTORY_BRUSH && !same && !HistoryCheck()) return;
    if (!same) EndGesture();
    if (view_.Mode == MODE_DEFORMATION) view_.InvalidateAll();
    view_.Mode = MODE_PAINT;
    view_.PaintToolKind = kind;
    if (same) {
        ShowOptions();
        return;
    }
    UpdateCursor(); // drops the object of the previous kind
    if (kind == PAINT_EYEDROPPER && !tool_) {
        // It reports the colour under the pointer before any press.
        TPaintToolSetup setup;
        setup.Zoom = view_.Zoom;
        setup.OriginX = view_.OriginX;
        setup.OriginY = view_.OriginY;
        setup.Data = view_.GetImageData();
        setup.View = &view_;
        setup.Options = &view_.ToolOptions;
        tool_ = CreatePaintTool(kind, setup);
    }
    if (kind == PAINT_HISTORY_BRUSH) {
        // Keep the picture after the last change as the source, then step back before it:
        // the brush paints the change back where it passes. Without a source nothing is
        // undone, so no work is lost.
        view_.Deselect();
        TImageData* data = view_.GetImageData();
        if (data && data->TakeHistorySource() == SUCCESS) view_.UndoCommand();
    }
    ShowHint();
    ShowOptions();
}

void TViewInteraction::CommandEnable(TCommandEnabler& ce) {
    const int id = ce.Id;
    if (id == CM_SELECT_WHOLE_LAYER) {
        TImageData* data = view_.GetImageData();
        ce.Enable(CurrentLayer() && (data->Image.GetCurrentIndex() != 0 || view_.HasSelection));
        return;
    }
    for (int mode = 0; mode <= MODE_HAND; ++mode) {
        if (kModeCommands[mode] == id) {
            ce.Enable(true);
            ce.SetCheck(view_.Mode == mode);
            return;
        }
    }
    for (int kind = 0; kind < kPaintKindCount; ++kind) {
        if (kPaintKinds[kind].Command == id) {
            ce.Enable(true);
            ce.SetCheck(view_.Mode == MODE_PAINT && view_.PaintToolKind == kind);
            return;
        }
    }
}

bool TViewInteraction::Command(int id) {
    switch (id) {
        case CM_MOVE_TOOL: ToggleMode(MODE_MOVE); return true;
        case CM_ZOOM_TOOL: ToggleMode(MODE_ZOOM); return true;
        case CM_HAND_TOOL: ToggleMode(MODE_HAND); return true;
        case CM_SELECT_WHOLE_LAYER: SelectWholeLayer(); return true;
        default: break;
    }
    for (int mode = 0; mode <= MODE_DEFORMATION; ++mode) {
        if (kModeCommands[mode] == id) {
            SetMode(mode);
            return true;
        }
    }
    for (int kind = 0; kind < kPaintKindCount; ++kind) {
        if (kPaintKinds[kind].Command == id) {
            ChoosePaintTool(kind);
            return true;
        }
    }
    return false;
}

void TViewInteraction::SelectWholeLayer() {
    SetMode(MODE_RECT_SELECTION);
    const TLayer* layer = CurrentLayer();
    if (!layer) return;
    view_.Deselect();
    view_.Dragging = true;
    selection_ = std::make_unique<TRectSelection>(view_.Zoom, view_.OriginX, view_.OriginY);
    selectionKind_ = 1;
    const RECT r = layer->GetRect();
    selection_->AddPoint(r.left, r.top, true);
    selection_->AddPoint(r.right, r.bottom, false);
    Finish(SELECT_REPLACE, false);
    view_.ClipSelectionToLayer();
    ShowHint();
}

// ---------------------------------------------------------------------------
// Cursors and hints.

int TViewInteraction::CursorId() const {
    const int mode = view_.Mode, m = view_.SelectModifier & 3;
    if (view_.Capturing || mode == MODE_HAND) return CURSOR_HAND;
    switch (mode) {
        case MODE_ZOOM: return CURSOR_ZOOM;
        case MODE_DEFORMATION: return CURSOR_DEFORM;
        case MODE_RECT_SELECTION:
        case MODE_ELLIPSE_SELECTION:
        case MODE_FREEHAND_SELECTION: return kShapeCursors[m];
        case MODE_MAGIC_WAND: return kWandCursors[m];
        case MODE_RETOUCHER: return m == 1 ? CURSOR_RETOUCH_SUBTRACT : CURSOR_RETOUCH;
        case MODE_PAINT:
            return view_.PaintToolKind >= 0 && view_.PaintToolKind < kPaintKindCount
                       ? kPaintKinds[view_.PaintToolKind].Cursor
                       : CURSOR_ARROW;
        case MODE_MOVE: {
            TImageData* data = view_.GetImageData();
            if (!data) return CURSOR_NO;
            const POINT q = view_.ClientToImage(view_.Host().GetCursorPos(), true);
            TLayeredImage& image = data->Image;
            const TLayer* current = CurrentLayer();
            int hit = current && current->HitTest(q) ? image.GetCurrentIndex() : -1;
            for (int i = image.Count() - 1; i >= 0 && hit < 0; --i)
                if (const TLayer* l = image.GetLayer(i); l && l->HitTest(q)) hit = i;
            if (hit < 0) return CURSOR_NO;
            return hit == 0 ? int(CURSOR_ARROW) : int(CURSOR_HAND);
        }
        default: return CURSOR_ARROW;
    }
}

void TViewInteraction::UpdateCursor() {
    // Switching tools discards a pending tool object.
    if (tool_ && (view_.Mode != MODE_PAINT || tool_->GetKind() != view_.PaintToolKind))
        DestroyTool();
    UpdateModifier();
    view_.Host().SetCursor(CursorId());
}

std::string TViewInteraction::Hint() const {
    switch (view_.Mode) {
        case MODE_ZOOM:
            return "Select area by left mouse button to zoom in or click right mouse button to "
                   "zoom out";
        case MODE_MOVE: return "Click on layer to drag it";
        case MODE_HAND: return "Click on image to scroll it";
        case MODE_RECT_SELECTION:
        case MODE_ELLIPSE_SELECTION:
        case MODE_FREEHAND_SELECTION:
        case MODE_RETOUCHER:
            if (keys_ & MK_SHIFT) return "Add to selection";
            if (keys_ & MK_CONTROL) return "Subtract from selection";
            if ((keys_ & MK_ALT) && view_.Mode == MODE_FREEHAND_SELECTION)
                return "Polygonal selection";
            return "Shift, Ctrl and Alt change selection mode";
        default: return {};
    }
}

void TViewInteraction::ShowHint() {
    if (view_.OnStatusHint) view_.OnStatusHint(Hint());
}

bool TViewInteraction::StatusText(std::string* text) const {
    RECT r;
    if (view_.HasSelection && SelectionBounds(view_.SelectionMask, &r)) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "(%i,%i) - (%i,%i)", int(r.left), int(r.top), int(r.right),
                      int(r.bottom));
        if (text) *text = buf;
        return true;
    }
    if (!tool_) return false;
    std::string s;
    tool_->GetStatusText(s);
    if (s.size() > 63) s.resize(63);
    if (text) *text = s;
    return true;
}

// ---------------------------------------------------------------------------
// Press.

void TViewInteraction::OnButtonDown(TMouseButton button, unsigned keys, POINT client) {
    keys_ = keys;
    if (!view_.GetImageData() || !view_.Canvas() || view_.MouseButton != 0) return;
    const int b = ButtonNumber(button);
    view_.MouseButton = b;
    view_.DownPoint = client;
    const TScrollState& s = view_.Host().Scroller();
    view_.DownScroll = POINT{s.PosX, s.PosY};
    const POINT q = view_.ClientToImage(client, true);
    EraseRetouchCursor();
    switch (view_.Mode) {
        case MODE_HAND:
            view_.Capturing = true;
            view_.Host().SetCapture();
            UpdateCursor();
            if (const TLayer* layer = CurrentLayer()) view_.InvalidateLayer(*layer);
            break;
        case MODE_MOVE: PressMove(q); break;
        case MODE_PAINT: PressPaint(b, q); break;
        case MODE_DEFORMATION: break;
        default: PressSelection(b, q); break;
    }
}

void TViewInteraction::PressMove(POINT q) {
    view_.Deselect();
    TLayeredImage& image = view_.GetImageData()->Image;
    const TLayer* current = CurrentLayer();
    bool hit = current && current->HitTest(q);
    for (int i = image.Count() - 1; i >= 0 && !hit; --i) {
        if (const TLayer* l = image.GetLayer(i); l && l->HitTest(q)) {
            view_.LayerHandler().Select(i);
            hit = true;
        }
    }
    // The background does not move.
    if (!hit || image.GetCurrentIndex() == 0) return;
    view_.Capturing = true;
    view_.MoveUndoDone = false;
    view_.MoveAnchor = q;
    view_.Host().SetCapture();
    if (const TLayer* layer = CurrentLayer()) view_.InvalidateLayer(*layer);
}

void TViewInteraction::ZoomOutAt(POINT q) {
    int cw = 0, ch = 0;
    if (const TLayer* canvas = view_.Canvas()) {
        cw = canvas->Width;
        ch = canvas->Height;
    }
    const double h = view_.Zoom * 0.5 * ch, w = view_.Zoom * 0.5 * cw;
    if (std::min(h, w) <= 10.0 || view_.Dragging) return;
    double zoom = view_.Zoom * 0.5;
    if (zoom > 0.5 && zoom < 1.5) zoom = 1.0;
    view_.Zoom = zoom;
    view_.UpdateScrollRanges();
    view_.InvalidateAll();
    view_.CentreOn(q);
}

void TViewInteraction::PressSelection(int button, POINT q) {
    const int mode = view_.Mode;
    if (mode == MODE_ZOOM && button == 3) {
        ZoomOutAt(q);
        return;
    }
    if (button != 1) return;
    if (mode == MODE_FREEHAND_SELECTION && selection_ && (keys_ & MK_ALT)) {
        selection_->AddPoint(q.x, q.y, false); // a polygon corner
        return;
    }
    selection_.reset();
    const double zoom = view_.Zoom;
    const int ox = view_.OriginX, oy = view_.OriginY;
    switch (mode) {
        case MODE_ELLIPSE_SELECTION:
            selection_ = std::make_unique<TEllipseSelection>(zoom, ox, oy);
            selectionKind_ = 2;
            break;
        case MODE_FREEHAND_SELECTION:
            selection_ = std::make_unique<TFreeHandSelection>(zoom, ox, oy);
            selectionKind_ = 3;
            break;
        case MODE_RETOUCHER:
            selection_ =
                std::make_unique<TBrushSelection>(view_.ToolOptions.RetouchWidth, zoom, ox, oy);
            selectionKind_ = 4;
            break;
        case MODE_MAGIC_WAND:
            selection_ = std::make_unique<TMagicWandSelection>(
                *view_.GetImageData(), view_.ToolOptions.Tolerance, zoom, ox, oy);
            selectionKind_ = 5;
            break;
        default: // rectangle, and the zoom tool's rectangle
            selection_ = std::make_unique<TRectSelection>(zoom, ox, oy);
            selectionKind_ = 1;
            break;
    }
    selection_->AddPoint(q.x, q.y, true);
    if (mode == MODE_RETOUCHER) {
        // The first dab lands at once, and adds even when nothing was selected before.
        if (!EnsureMask()) {
            selection_.reset();
            return;
        }
        RECT dirty{};
        if (selection_->Apply(view_.SelectionMask, view_.SelectionOutline, SelectCombine(),
                              &dirty) == SUCCESS)
            view_.InvalidateClientRect(view_.ImageToClientRect(dirty, true));
    }
    if (mode == MODE_FREEHAND_SELECTION) {
        auto* fh = static_cast<TFreeHandSelection*>(selection_.get());
        DrawIntoView(view_, [&](HDC dc) { fh->DrawSegment(dc); });
    }
    view_.Dragging = true;
    view_.Host().SetCapture();
}

void TViewInteraction::PressPaint(int button, POINT q) {
    if (button == 2) return;
    TImageData* data = view_.GetImageData();
    TLayer* layer = CurrentLayer();
    if (!layer) return;
    const int kind = view_.PaintToolKind;
    if (kind == PAINT_HISTORY_BRUSH && !HistoryCheck()) return;
    if (kind == PAINT_FILL && !layer->HitTest(q)) return;

    TImageDocManager* manager = TImageDocManager::Instance();
    COLORREF fg = manager && manager->ForegroundColor ? manager->ForegroundColor() : RGB(0, 0, 0);
    COLORREF bg =
        manager && manager->BackgroundColor ? manager->BackgroundColor() : RGB(255, 255, 255);
    // The right button paints with the background colour.
    if (button == 3) std::swap(fg, bg);
    if (!tool_) {
        if (layer->IsGrayscale()) {
            fg = GrayLevel(fg);
            bg = GrayLevel(bg);
        }
        TPaintToolSetup setup;
        setup.Zoom = view_.Zoom;
        setup.OriginX = view_.OriginX;
        setup.OriginY = view_.OriginY;
        setup.Data = data;
        setup.View = &view_;
        setup.Options = &view_.ToolOptions;
        setup.Foreground = fg;
        setup.Background = bg;
        tool_ = CreatePaintTool(kind, setup);
        if (!tool_) return; // a kind not built
        const char* undo =
            kind >= 0 && kind < kPaintKindCount ? kPaintKinds[kind].UndoName : nullptr;
        if (undo && !data->CheckpointCurrentLayer(undo)) {
            // No memory for the snapshot: the stroke could not be undone, so none happens.
            tool_.reset();
            return;
        }
        view_.Host().SetTimer(kStrokeTimer, kStrokePeriodMs);
        view_.StrokeTimerOn = true;
    }
    // The step shares the other layers' pixels with the image; a stroke that goes on after
    // the current layer changed must not paint into a block the history holds.
    if (L_UnshareBitmap(data->Image.Layers.Current()) != SUCCESS) {
        DestroyTool();
        return;
    }
    tool_->Begin();
    if (!tool_->Track(q.x, q.y, false, button - 1)) {
        DestroyTool();
        return;
    }
    data->RebuildPalette();
    view_.Host().SetCapture();
}

// ---------------------------------------------------------------------------
// Move.

void TViewInteraction::OnMouseMove(unsigned keys, POINT client) {
    keys_ = keys;
    if (!view_.GetImageData() || !view_.Canvas()) return;
    const POINT q = view_.ClientToImage(client, true);
    UpdateCursor();
    const int mode = view_.Mode;
    if (mode == MODE_HAND && view_.Capturing) {
        const TScrollState& s = view_.Host().Scroller();
        view_.Host().ScrollTo(view_.DownScroll.x + (view_.DownPoint.x - client.x) / s.UnitX,
                              view_.DownScroll.y + (view_.DownPoint.y - client.y) / s.UnitY);
        return;
    }
    if (!view_.Capturing && (IsSelectionMode(mode) || mode == MODE_ZOOM)) {
        DrawRetouchCursor();
        MoveSelection(q);
        return;
    }
    if (mode == MODE_PAINT && tool_) {
        tool_->Track(q.x, q.y, (keys & MK_SHIFT) != 0, view_.MouseButton - 1);
        return;
    }
    if (mode == MODE_MOVE && view_.Capturing) MoveLayer(q);
}

void TViewInteraction::MoveSelection(POINT q) {
    const bool polygon = selectionKind_ == 3 && (keys_ & MK_ALT);
    if (view_.MouseButton != 1 && !(polygon && selection_)) return;
    if (!view_.Dragging || !selection_) return;
    if (polygon) {
        auto* fh = static_cast<TFreeHandSelection*>(selection_.get());
        DrawIntoView(view_, [&](HDC dc) {
            fh->DrawSegment(dc); // erase the rubber corner
            fh->AddPoint(q.x, q.y, true);
            fh->DrawSegment(dc);
        });
        return;
    }
    if (!selection_->AcceptPoint(q.x, q.y)) return;
    if (selectionKind_ == 3) {
        auto* fh = static_cast<TFreeHandSelection*>(selection_.get());
        if (fh->AddPoint(q.x, q.y, false))
            DrawIntoView(view_, [&](HDC dc) { fh->DrawSegment(dc); });
        return;
    }
    if (selectionKind_ == 4) {
        selection_->AddPoint(q.x, q.y, false);
        RECT dirty{};
        if (EnsureMask() && selection_->Apply(view_.SelectionMask, view_.SelectionOutline,
                                              SelectCombine(), &dirty) == SUCCESS)
            view_.InvalidateClientRect(view_.ImageToClientRect(dirty, true));
        return;
    }
    // The band is XOR: drawing it again erases it, and nothing is recomposed.
    DrawIntoView(view_, [&](HDC dc) {
        selection_->Draw(dc);
        selection_->AddPoint(q.x, q.y, false);
        selection_->Draw(dc);
    });
}

void TViewInteraction::MoveLayer(POINT q) {
    TImageData* data = view_.GetImageData();
    const int index = data->Image.GetCurrentIndex();
    TLayer* layer = data->Image.Layers.At(index);
    if (!layer || index == 0) return;
    view_.InvalidateLayer(*layer);
    if (q.x == view_.MoveAnchor.x && q.y == view_.MoveAnchor.y) return;
    if (!view_.MoveUndoDone) {
        // One step for the whole drag.
        if (!data->Checkpoint(true, "Move Layer", TImageData::TWrites::NewBlocks)) return;
        view_.MoveUndoDone = true;
        layer = data->Image.Layers.At(index);
    }
    const int dx = q.x - view_.MoveAnchor.x, dy = q.y - view_.MoveAnchor.y;
    layer->X += dx;
    layer->Y += dy;
    // A channel view in front of the layer goes along.
    if (TLayer* shown = data->Image.GetCurrentLayer(); shown && shown != layer) {
        shown->X = layer->X;
        shown->Y = layer->Y;
    }
    view_.MoveAnchor = q;
    view_.InvalidateLayer(*layer);
}

// ---------------------------------------------------------------------------
// Release and the end of a gesture.

void TViewInteraction::OnButtonUp(TMouseButton button, unsigned keys, POINT) {
    keys_ = keys;
    const int b = ButtonNumber(button);
    if (b != view_.MouseButton) return;
    const int mode = view_.Mode;
    if (mode == MODE_HAND) {
        Finish(SELECT_REPLACE, true);
    } else if (IsSelectionMode(mode) || mode == MODE_MOVE || mode == MODE_ZOOM) {
        UpdateModifier();
        if (selectionKind_ == 3 && selection_ && (keys & MK_ALT)) {
            // The polygon goes on until Alt is let go.
            view_.MouseButton = 0;
            return;
        }
        Finish(SelectCombine(), true);
    } else if (mode == MODE_PAINT) {
        TImageData* data = view_.GetImageData();
        if (tool_ && (b == 1 || b == 3)) {
            tool_->Tick(true);
            if (tool_->IsFinished()) {
                DestroyTool();
                ConfineStroke();
            }
        }
        if (view_.StrokeTimerOn) {
            view_.Host().KillTimer(kStrokeTimer);
            view_.StrokeTimerOn = false;
        }
        if (data) data->RebuildPalette();
        ownCapture_ = true;
        view_.Host().ReleaseCapture();
        ownCapture_ = false;
    }
    UpdateCursor();
    view_.MouseButton = 0;
}

bool TViewInteraction::EnsureMask() {
    if (view_.HasSelection && view_.SelectionMask.IsAllocated() &&
        view_.SelectionOutline.IsAllocated())
        return true;
    const TLayer* canvas = view_.Canvas();
    if (!canvas) return false;
    for (TLeadBitmap* b : {&view_.SelectionMask, &view_.SelectionOutline}) {
        b->Free();
        BITMAPHANDLE bm;
        if (L_CreateBitmap(&bm, TYPE_CONV, canvas->Width, canvas->Height, 1, ORDER_BGR, nullptr,
                           TOP_LEFT) != SUCCESS) {
            view_.SelectionMask.Free();
            view_.SelectionOutline.Free();
            return false;
        }
        b->Adopt(bm);
        for (int y = 0; y < b->Height; ++y) std::memset(L_RowPtr(b, y), 0, size_t(b->BytesPerLine));
    }
    view_.HasSelection = true;
    return true;
}

void TViewInteraction::ApplyShape(int combine) {
    const bool had = view_.HasSelection;
    if (!EnsureMask()) return;
    RECT dirty{};
    if (selection_->Apply(view_.SelectionMask, view_.SelectionOutline, combine, &dirty) !=
            SUCCESS &&
        !had) {
        view_.Deselect();
        return;
    }
    view_.ClipSelectionToLayer();
}

void TViewInteraction::Finish(int combine, bool release) {
    if (finishing_) return;
    finishing_ = true;
    IWindowHost& host = view_.Host();
    const int mode = view_.Mode;
    const auto releaseCapture = [&] {
        if (!release) return;
        ownCapture_ = true;
        host.ReleaseCapture();
        ownCapture_ = false;
    };
    if (mode == MODE_PAINT) {
        if (tool_ && tool_->IsFinished()) {
            DestroyTool();
            ConfineStroke();
        }
        if (view_.StrokeTimerOn) {
            host.KillTimer(kStrokeTimer);
            view_.StrokeTimerOn = false;
        }
        releaseCapture();
    } else if (mode == MODE_HAND) {
        releaseCapture();
        if (view_.Capturing) {
            view_.Capturing = false;
            view_.InvalidateAll();
        }
    } else {
        if (mode == MODE_ZOOM && view_.Dragging && selection_) {
            RECT r = selection_->GetBounds();
            if (!selection_->IsValid()) {
                // A click: the point alone.
                r = RECT{selection_->PointAt(0).x, selection_->PointAt(0).y,
                         selection_->PointAt(0).x, selection_->PointAt(0).y};
            }
            selection_.reset();
            int cw = 0, ch = 0;
            if (const TLayer* canvas = view_.Canvas()) {
                cw = canvas->Width;
                ch = canvas->Height;
            }
            ZoomToRect(Intersect(r, RECT{0, 0, cw, ch}));
        } else if (view_.Dragging && selection_ && selection_->IsValid()) {
            ApplyShape(combine);
            view_.InvalidateAll();
        }
        selection_.reset();
        selectionKind_ = 0;
        view_.Dragging = false;
        releaseCapture();
        if (view_.Capturing) {
            view_.Capturing = false;
            view_.MoveUndoDone = false;
            view_.InvalidateAll();
            view_.LayerHandler().Notify(TLayerChange::Repaint);
        }
    }
    finishing_ = false;
}

void TViewInteraction::ZoomToRect(const RECT& r) {
    const TLayer* canvas = view_.Canvas();
    if (!canvas) return;
    const int w = r.right - r.left, h = r.bottom - r.top;
    double zoom;
    if (w <= 0 || h <= 0) {
        zoom = view_.Zoom * 2.0;
    } else {
        const TSize client = view_.Host().GetClientSize();
        zoom = std::min(PowerOfTwo(double(client.cx) / w), PowerOfTwo(double(client.cy) / h));
    }
    for (const int size : {canvas->Width, canvas->Height}) {
        if (size > 0 && size * zoom > kMaxZoomedCanvas) {
            // 25000 div size is 0 for a canvas wider than the cap itself: the largest
            // power of two that still fits is below 1 then.
            const int q = kMaxZoomedCanvas / size;
            zoom = q > 0 ? PowerOfTwo(q)
                         : std::exp2(std::floor(std::log2(double(kMaxZoomedCanvas) / size)));
        }
    }
    view_.Zoom = zoom;
    view_.UpdateScrollRanges();
    view_.InvalidateAll();
    view_.CentreOn(POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
}

void TViewInteraction::DestroyTool() {
    tool_.reset();
    if (view_.StrokeTimerOn) {
        view_.Host().KillTimer(kStrokeTimer);
        view_.StrokeTimerOn = false;
    }
}

bool TViewInteraction::HistoryCheck(bool anyDepth) const {
    TImageData* data = view_.GetImageData();
    if (!data || !data->LastSnapshot) return false;
    TLayeredImage& image = data->Image;
    TImageData::TUndoItem& snap = *data->LastSnapshot;
    if (image.GetEffectiveChannelMode() != snap.GetEffectiveChannelMode()) return false;
    const TLayer* layer = CurrentLayer();
    if (!layer || (!anyDepth && layer->BitsPerPixel <= 8)) return false;
    if (snap.Count() != image.Count() || snap.GetCurrentIndex() != image.GetCurrentIndex())
        return false;
    const TLayer* old = snap.Layers.At(snap.GetCurrentIndex());
    return old && old->IsAllocated() && old->BitsPerPixel == layer->BitsPerPixel &&
           old->Width == layer->Width && old->Height == layer->Height && old->X == layer->X &&
           old->Y == layer->Y;
}

void TViewInteraction::ConfineStroke() {
    // Paint on palette and gray layers stays inside the selection too.
    if (!view_.HasSelection || !view_.SelectionMask.IsAllocated() || !HistoryCheck(true)) return;
    TImageData* data = view_.GetImageData();
    TLayer* layer = CurrentLayer();
    TImageData::TUndoItem& snap = *data->LastSnapshot;
    TLayer* old = snap.Layers.At(snap.GetCurrentIndex());

    HRGN saved = nullptr;
    const bool hadRegion = L_BitmapHasRgn(layer) > 0;
    if (hadRegion && L_GetBitmapRgnHandle(layer, nullptr, &saved) != SUCCESS) return;
    RGNXFORM xf;
    xf.nXOffset = -layer->X;
    xf.nYOffset = -layer->Y;
    // The region outside the selection (and inside the layer's own shape).
    if (L_SetBitmapRgnFromMask(layer, &xf, &view_.SelectionMask,
                               hadRegion ? L_RGN_ANDNOTBITMAP : L_RGN_SETNOT) == SUCCESS &&
        L_BitmapHasRgn(layer) > 0)
        L_CombineBitmap(layer, 0, 0, layer->Width, layer->Height, old, 0, 0, CB_OP_COPY);
    if (hadRegion) {
        L_SetBitmapRgnHandle(layer, nullptr, saved, L_RGN_SET);
        L_DeleteRgn(saved);
    } else {
        L_FreeBitmapRgn(layer);
    }
    view_.InvalidateLayer(*layer);
}

// ---------------------------------------------------------------------------
// Keys, timers and the cancel paths.

bool TViewInteraction::OnKeyDown(int key, unsigned keys) {
    keys_ = keys;
    UpdateCursor();
    if (key == VK_SHIFT || key == VK_CONTROL || key == VK_MENU)
        ShowHint();
    else
        EraseRetouchCursor();
    if (keys & MK_SHIFT) return false;
    const bool ctrl = (keys & MK_CONTROL) != 0;
    switch (key) {
        case VK_ESCAPE:
            if (ctrl) return true;
            if (view_.Mode == MODE_DEFORMATION) {
                ownCapture_ = true;
                view_.Host().ReleaseCapture();
                ownCapture_ = false;
            } else if (view_.Dragging && selection_) {
                Finish(SELECT_REPLACE, true);
            } else if (view_.HasSelection) {
                view_.Deselect();
            }
            return true;
        case VK_SPACE:
            if (!ctrl && view_.Mode != MODE_HAND) Command(CM_HAND_TOOL);
            return true;
        case VK_DELETE:
            if (!ctrl) view_.DoCommand(CM_SELECTION_REMOVE);
            return true;
        default: return false;
    }
}

void TViewInteraction::OnKeyUp(int key, unsigned keys) {
    keys_ = keys;
    if (key == VK_SHIFT || key == VK_CONTROL || key == VK_MENU) ShowHint();
    if (!view_.Capturing) UpdateCursor();
    if (key == VK_SPACE && view_.Mode == MODE_HAND && !(keys & (MK_SHIFT | MK_CONTROL | MK_ALT)))
        Command(CM_HAND_TOOL);
    if (key == VK_MENU && selection_ && selectionKind_ == 3 && view_.MouseButton != 1) {
        UpdateModifier();
        Finish(SelectCombine(), true);
    }
}

bool TViewInteraction::OnTimer(int id) {
    if (id == kStrokeTimer) {
        if (tool_) tool_->Tick(false);
        return true;
    }
    if (id == kRetouchCursorTimer) {
        DrawRetouchCursor();
        return true;
    }
    return false;
}

void TViewInteraction::OnCancelMode() {
    Finish(SELECT_REPLACE, true);
    // The release will not come: the next press must not be ignored.
    view_.MouseButton = 0;
}

void TViewInteraction::OnKillFocus() {
    EraseRetouchCursor();
    OnCancelMode();
}

void TViewInteraction::OnCaptureChanged() {
    if (ownCapture_ || finishing_) return;
    Finish(SELECT_REPLACE, false);
    view_.MouseButton = 0;
}

bool TViewInteraction::Notify(int code) {
    if (code == NOTIFY_SCROLL) EraseRetouchCursor();
    const bool answer = tool_ && tool_->Notify(code);
    if (code == NOTIFY_EDIT_ESCAPE && answer) {
        DestroyTool();
        view_.Host().Update();
    }
    return answer;
}

void TViewInteraction::TextOptionsChanged() {
    auto* text = dynamic_cast<TTextPaintTool*>(tool_.get());
    if (!text) return;
    const TToolOptions& o = view_.ToolOptions;
    text->SetFont(o.TextFace, o.TextSize, o.TextStyle);
    text->SetAlign(o.TextAlign);
    text->SetStyle(o.TextStyle);
}

void TViewInteraction::TextColorChanged() {
    auto* text = dynamic_cast<TTextPaintTool*>(tool_.get());
    if (!text) return;
    TImageDocManager* manager = TImageDocManager::Instance();
    COLORREF fg = manager && manager->ForegroundColor ? manager->ForegroundColor() : RGB(0, 0, 0);
    if (TLayer* layer = CurrentLayer(); layer && layer->IsGrayscale()) fg = GrayLevel(fg);
    text->SetColor(fg);
}

void TViewInteraction::Reset() {
    if (auto* text = dynamic_cast<TTextPaintTool*>(tool_.get())) text->Cancel();
    selection_.reset();
    selectionKind_ = 0;
    DestroyTool();
    view_.Dragging = false;
    view_.Capturing = false;
    view_.MouseButton = 0;
    circleShown_ = false;
}

// ---------------------------------------------------------------------------
// Painting and the retoucher's outline circle.

void TViewInteraction::Paint(HDC dc, const RECT& rc) {
    if (circleShown_) {
        // The repaint wiped the part of the circle inside rc: put it back there, so that
        // the next XOR erases the whole circle cleanly.
        TDCStateGuard guard(dc);
        dc->IntersectClipRect(rc);
        dc->SetROP2(R2_XORPEN);
        dc->SelectPen(kWhitePen);
        dc->SelectBrush(kHollowBrush);
        dc->Ellipse(circleCentre_.x - circleRadius_, circleCentre_.y - circleRadius_,
                    circleCentre_.x + circleRadius_, circleCentre_.y + circleRadius_);
    }
    PaintCloneMarker(view_.GetViewNumber(), dc, rc);
    if (tool_) tool_->Paint(dc, rc);
}

void TViewInteraction::EraseRetouchCursor() {
    if (!circleShown_) return;
    circleShown_ = false;
    DrawIntoView(view_, [&](HDC dc) {
        dc->SetROP2(R2_XORPEN);
        dc->SelectPen(kWhitePen);
        dc->SelectBrush(kHollowBrush);
        dc->Ellipse(circleCentre_.x - circleRadius_, circleCentre_.y - circleRadius_,
                    circleCentre_.x + circleRadius_, circleCentre_.y + circleRadius_);
    });
}

void TViewInteraction::DrawRetouchCursor() {
    IWindowHost& host = view_.Host();
    EraseRetouchCursor();
    if (view_.Mode != MODE_RETOUCHER) {
        host.KillTimer(kRetouchCursorTimer);
        return;
    }
    if (!host.IsUnderCursor() || view_.Dragging || host.HasCapture() || !host.HasFocus() ||
        !view_.Canvas())
        return;
    const TScrollState& s = host.Scroller();
    const POINT p = host.GetCursorPos();
    circleCentre_ = POINT{p.x + s.PosX * s.UnitX, p.y + s.PosY * s.UnitY};
    circleRadius_ = int(view_.ToolOptions.RetouchWidth * view_.Zoom / 2);
    circleShown_ = true;
    DrawIntoView(view_, [&](HDC dc) {
        dc->SetROP2(R2_XORPEN);
        dc->SelectPen(kWhitePen);
        dc->SelectBrush(kHollowBrush);
        dc->Ellipse(circleCentre_.x - circleRadius_, circleCentre_.y - circleRadius_,
                    circleCentre_.x + circleRadius_, circleCentre_.y + circleRadius_);
    });
}

bool SelectionBounds(const BITMAPHANDLE& mask, RECT* bounds) {
    if (!mask.Flags.Allocated || !mask.Addr || mask.BitsPerPixel != 1) return false;
    RECT r{mask.Width, mask.Height, -1, -1};
    for (int y = 0; y < mask.Height; ++y) {
        const uint8_t* row = L_RowPtr(&mask, y);
        for (int x = 0; x < mask.Width; ++x) {
            if (!row[x >> 3]) {
                x |= 7; // a clear byte: on to the next
                continue;
            }
            if (!(row[x >> 3] & (0x80 >> (x & 7)))) continue;
            r.left = std::min(r.left, x);
            r.right = std::max(r.right, x);
            r.top = std::min(r.top, y);
            r.bottom = y;
        }
    }
    if (r.right < 0) return false;
    *bounds = RECT{r.left, r.top, r.right + 1, r.bottom + 1};
    return true;
}

void AttachTools(TImageView& view) {
    RegisterShapeTools();
    RegisterBrushTools();
    RegisterTextTool();
    view.SetTools(std::make_unique<TViewInteraction>(view));
}
