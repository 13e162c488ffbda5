#include "ImageView.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Options.h"
#include "Rect.h"
#include "SelectionOutline.h"

namespace {

int g_viewCounter = 0;

// Views are looked up by number (the clone brush keeps its source that way).
std::vector<TImageView*>& LiveViews() {
    static std::vector<TImageView*> views;
    return views;
}

int Trunc(double v) { return static_cast<int>(std::trunc(v)); }
// Nearest integer, halves away from zero.
int Round(double v) { return static_cast<int>(std::lround(v)); }

std::string Format(const char* format, int a, int b) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

} // namespace

TImageView::TImageView(TImageDoc& doc, IWindowHost& host)
    : doc_(doc),
      host_(host),
      viewNumber_(g_viewCounter++),
      self_(std::make_shared<TImageView*>(this)) {
    LiveViews().push_back(this);
    data_ = doc_.IsOpen() ? static_cast<TImageData*>(&doc_) : nullptr;
    // The listener outlives this view inside the document, so it checks that the view
    // is still there before calling it.
    doc_.AddListener([weak = std::weak_ptr<TImageView*>(self_)](TDocument&, TDocEvent event) {
        const auto self = weak.lock();
        if (!self || !*self) return;
        if (event == TDocEvent::Opened)
            (*self)->OnDocumentOpened();
        else if (event == TDocEvent::Closed)
            (*self)->OnDocumentClosed();
    });
    host_.SetClient(this);
    if (data_) data_->RebuildPalette();
    UpdateScrollRanges();
    host_.SetTimer(kAntsTimer, kAntsPeriodMs);
}

TImageView::~TImageView() {
    *self_ = nullptr;
    std::erase(LiveViews(), this);
    host_.KillTimer(kAntsTimer);
    host_.SetClient(nullptr);
}

const std::vector<TImageView*>& TImageView::AllViews() { return LiveViews(); }

TImageView* TImageView::FindView(int number) {
    for (TImageView* v : LiveViews())
        if (v->viewNumber_ == number) return v;
    return nullptr;
}

TLayer* TImageView::Canvas() const {
    if (!data_ || data_->Image.Count() == 0) return nullptr;
    TLayer* bg = data_->Image.GetBackground();
    return bg && bg->IsAllocated() ? bg : nullptr;
}

int TImageView::PanelColors(RGBQUAD colors[256]) const {
    if (const TLayer* canvas = Canvas(); canvas && canvas->BitsPerPixel <= 8) {
        const int n = 1 << canvas->BitsPerPixel;
        if (L_GetBitmapColors(canvas, 0, n, colors) == SUCCESS) return n;
    }
    return L_GetFixedPalette(colors, 8) == SUCCESS ? 256 : 0;
}

bool TImageView::CanvasSize(int* w, int* h) const {
    const TLayer* canvas = Canvas();
    if (!canvas || canvas->Width <= 0 || canvas->Height <= 0) return false;
    *w = canvas->Width;
    *h = canvas->Height;
    return true;
}

// ---------------------------------------------------------------------------
// Zoom and scrolling.

void TImageView::UpdateScrollRanges() {
    int cw, ch;
    if (!CanvasSize(&cw, &ch)) return;
    // One scroll unit per screen pixel of an image pixel keeps positions small at high
    // zoom; the margin stays about 15 pixels whatever the unit.
    const int u = Zoom >= 1.0 ? std::max(1, Round(Zoom)) : 1;
    const int m = Round(15.0 / u);
    // Redraw off so that changing units and ranges costs one repaint, not three.
    host_.SetRedraw(false);
    host_.SetUnits(u, u);
    host_.SetRange(Round(cw * Zoom / u) + 2 * m, Round(ch * Zoom / u) + 2 * m);
    host_.SetRedraw(true);
    host_.InvalidateAll();

    const TSize client = host_.GetClientSize();
    const int w = Trunc(cw * Zoom), h = Trunc(ch * Zoom);
    OriginX = std::max((client.cx - w) / 2, m * u);
    OriginY = std::max((client.cy - h) / 2, m * u);
}

void TImageView::ZoomIn() {
    // A tool may take the zoom keys for itself.
    if (tools_ && tools_->Notify(180)) return;
    int cw, ch;
    if (!CanvasSize(&cw, &ch)) return;
    const TSize client = host_.GetClientSize();
    const RECT seen = ClientToImageRect(RECT{0, 0, client.cx, client.cy}, true, true);
    const POINT centre{(seen.left + seen.right) / 2, (seen.top + seen.bottom) / 2};
    Zoom *= 2.0;
    if (Zoom > 0.5 && Zoom < 1.5) Zoom = 1.0;
    UpdateScrollRanges();
    InvalidateAll();
    CentreOn(centre);
}

void TImageView::ZoomOut() {
    // A tool may take the zoom keys for itself.
    if (tools_ && tools_->Notify(180)) return;
    int cw, ch;
    if (!CanvasSize(&cw, &ch)) return;
    const TSize client = host_.GetClientSize();
    const RECT seen = ClientToImageRect(RECT{0, 0, client.cx, client.cy}, true, true);
    const POINT centre{(seen.left + seen.right) / 2, (seen.top + seen.bottom) / 2};
    Zoom *= 0.5;
    if (Zoom > 0.5 && Zoom < 1.5) Zoom = 1.0;
    UpdateScrollRanges();
    InvalidateAll();
    CentreOn(centre);
}

void TImageView::ZoomToFit() {
    int cw, ch;
    if (!CanvasSize(&cw, &ch)) return;
    // Fit as if no scroll bars were shown: they go away when the image fits.
    TSize client = host_.GetClientSize();
    if (host_.IsScrollBarShown(TScrollBar::Horizontal))
        client.cy += host_.ScrollBarThickness(TScrollBar::Horizontal);
    if (host_.IsScrollBarShown(TScrollBar::Vertical))
        client.cx += host_.ScrollBarThickness(TScrollBar::Vertical);
    const double r = std::min(double(client.cx) / cw, double(client.cy) / ch);
    if (!(r > 0)) return;
    // The largest power of two below the ratio (an exact power of two of 1 or less steps
    // down once more).
    const int k = Round(std::log2(r) - 0.5);
    Zoom = std::ldexp(1.0, k);
    UpdateScrollRanges();
    InvalidateAll();
}

void TImageView::ZoomToOriginal() {
    Zoom = 1.0;
    UpdateScrollRanges();
    InvalidateAll();
}

void TImageView::CentreOn(POINT q) {
    const TScrollState& s = host_.Scroller();
    const TSize client = host_.GetClientSize();
    const int x =
        Trunc(q.x * Zoom / s.UnitX + 0.5) + OriginX / s.UnitX - Trunc(client.cx * 0.5 / s.UnitX);
    const int y =
        Trunc(q.y * Zoom / s.UnitY + 0.5) + OriginY / s.UnitY - Trunc(client.cy * 0.5 / s.UnitY);
    host_.ScrollTo(x, y);
}

void TImageView::OwnCommandState(TCommandEnabler& ce) const {
    int cw = 0, ch = 0;
    const bool image = CanvasSize(&cw, &ch);
    switch (ce.Id) {
        case CM_ZOOM_IN:
            ce.Enable(image && !Dragging && std::max(cw, ch) * Zoom * 2.0 < 25000.0);
            break;
        case CM_ZOOM_OUT:
            ce.Enable(image && !Dragging && std::min(cw, ch) * Zoom * 0.5 > 10.0);
            break;
        case CM_ZOOM_FIT: {
            if (!image) {
                ce.Enable(false);
                break;
            }
            const TSize client = host_.GetClientSize();
            const double r = std::min(double(client.cx) / cw, double(client.cy) / ch);
            ce.Enable(Trunc(std::max(cw, ch) * r) < 25000 && Trunc(std::min(cw, ch) * r) > 10);
            break;
        }
        case CM_ZOOM_ORIGINAL: ce.Enable(true); break;
        case CM_OUTLINE_ACTIVE:
            ce.Enable(true);
            ce.SetCheck(ShowActiveOutline);
            break;
        case CM_OUTLINE_INACTIVE:
            ce.Enable(true);
            ce.SetCheck(ShowInactiveOutlines);
            break;
        case CM_EDITUNDO:
        case CM_EDITREDO: {
            TMenuItemState item{ce.Id == CM_EDITUNDO ? "Undo" : "Redo", false};
            if (data_) item = ce.Id == CM_EDITUNDO ? UndoMenuItem(*data_) : RedoMenuItem(*data_);
            ce.Enable(item.enabled);
            ce.SetText(item.text);
            break;
        }
        default: break;
    }
}

void TImageView::CommandEnable(TCommandEnabler& ce) {
    OwnCommandState(ce);
    if (!ce.Handled) layers_.CommandEnable(ce);
    if (!ce.Handled) selectionCommands_.CommandEnable(ce);
    if (!ce.Handled) clipboardCommands_.CommandEnable(ce);
    if (!ce.Handled) imageCommands_.CommandEnable(ce);
    if (!ce.Handled && dialogCommands_) dialogCommands_->CommandEnable(ce);
    if (!ce.Handled && tools_) tools_->CommandEnable(ce);
}

TCommandEnabler TImageView::CommandState(int id) const {
    TCommandEnabler ce(id);
    OwnCommandState(ce);
    if (!ce.Handled) layers_.QueryCommand(ce);
    if (!ce.Handled) selectionCommands_.QueryCommand(ce);
    if (!ce.Handled) clipboardCommands_.QueryCommand(ce);
    if (!ce.Handled) imageCommands_.QueryCommand(ce);
    if (!ce.Handled && dialogCommands_) dialogCommands_->CommandEnable(ce);
    if (!ce.Handled && tools_) tools_->CommandEnable(ce);
    return ce;
}

bool TImageView::Command(int id) {
    switch (id) {
        case CM_ZOOM_IN: ZoomIn(); return true;
        case CM_ZOOM_OUT: ZoomOut(); return true;
        case CM_ZOOM_FIT: ZoomToFit(); return true;
        case CM_ZOOM_ORIGINAL: ZoomToOriginal(); return true;
        case CM_OUTLINE_ACTIVE:
            ShowActiveOutline = !ShowActiveOutline;
            InvalidateAll();
            return true;
        case CM_OUTLINE_INACTIVE:
            ShowInactiveOutlines = !ShowInactiveOutlines;
            InvalidateAll();
            return true;
        case CM_EDITUNDO: UndoCommand(); return true;
        case CM_EDITREDO: RedoCommand(); return true;
        default:
            return layers_.Command(id) || selectionCommands_.Command(id) ||
                   clipboardCommands_.Command(id) || imageCommands_.Command(id) ||
                   (dialogCommands_ && dialogCommands_->Command(id)) ||
                   (tools_ && tools_->Command(id));
    }
}

bool TImageView::DoCommand(int id) {
    const TCommandEnabler ce = CommandState(id);
    return ce.Handled && ce.Enabled && Command(id);
}

bool TImageView::UndoCommand() {
    if (!data_ || !data_->CanUndo()) return false;
    // Undoing "Text" while its frame is open takes the typed text back too (the private
    // message 1692 cancels it); committed later, it would be a change no Undo reaches.
    if (tools_) tools_->Notify(1692);
    Deselect();
    data_->Undo();
    UpdateScrollRanges();
    InvalidateAll();
    layers_.Notify(TLayerChange::Rebuild);
    return true;
}

bool TImageView::RedoCommand() {
    if (!data_ || !data_->CanRedo()) return false;
    Deselect();
    data_->Redo();
    UpdateScrollRanges();
    InvalidateAll();
    layers_.Notify(TLayerChange::Rebuild);
    return true;
}

// ---------------------------------------------------------------------------
// Coordinates.

POINT TImageView::ClientToImage(POINT p, bool scrolled) const {
    const TScrollState& s = host_.Scroller();
    const int dx = scrolled ? s.PosX * s.UnitX : 0, dy = scrolled ? s.PosY * s.UnitY : 0;
    return POINT{Trunc((p.x + dx - OriginX) / Zoom), Trunc((p.y + dy - OriginY) / Zoom)};
}

RECT TImageView::ClientToImageRect(const RECT& rc, bool scrolled, bool clamp) const {
    const POINT a = ClientToImage(POINT{rc.left, rc.top}, scrolled);
    const POINT b = ClientToImage(POINT{rc.right, rc.bottom}, scrolled);
    RECT r{a.x, a.y, b.x, b.y};
    int cw, ch;
    if (clamp && CanvasSize(&cw, &ch)) {
        r.left = std::clamp(r.left, 0, cw);
        r.right = std::clamp(r.right, 0, cw);
        r.top = std::clamp(r.top, 0, ch);
        r.bottom = std::clamp(r.bottom, 0, ch);
    }
    return r;
}

POINT TImageView::ImageToClient(POINT q, bool scrolled) const {
    const TScrollState& s = host_.Scroller();
    const int dx = scrolled ? s.PosX * s.UnitX : 0, dy = scrolled ? s.PosY * s.UnitY : 0;
    return POINT{Round(q.x * Zoom) + OriginX - dx, Round(q.y * Zoom) + OriginY - dy};
}

RECT TImageView::ImageToClientRect(const RECT& rc, bool scrolled) const {
    const POINT a = ImageToClient(POINT{rc.left, rc.top}, scrolled);
    const POINT b = ImageToClient(POINT{rc.right, rc.bottom}, scrolled);
    return RECT{a.x, a.y, b.x, b.y};
}

RECT TImageView::CanvasClientRect() const {
    int cw, ch;
    if (!CanvasSize(&cw, &ch)) return RECT{};
    return RECT{OriginX, OriginY, OriginX + Round(cw * Zoom), OriginY + Round(ch * Zoom)};
}

RECT TImageView::ClipToCanvas(const RECT& rc) const {
    return IntersectRect(rc, CanvasClientRect());
}

bool TImageView::GetCursorImagePoint(POINT* q) const {
    int cw, ch;
    if (host_.IsMinimized() || !host_.IsUnderCursor() || !CanvasSize(&cw, &ch)) return false;
    *q = ClientToImage(host_.GetCursorPos(), true);
    return q->x >= 0 && q->x < cw && q->y >= 0 && q->y < ch;
}

// ---------------------------------------------------------------------------
// Invalidation and painting.

void TImageView::InvalidateClientRect(const RECT& rc) {
    if (data_) {
        // Widen to every image pixel the rectangle touches: truncating the far edge would
        // leave a partly covered pixel stale in the composite when zoomed in.
        const TScrollState& s = host_.Scroller();
        const double dx = s.PosX * s.UnitX - OriginX, dy = s.PosY * s.UnitY - OriginY;
        const RECT image{
            int(std::floor((rc.left + dx) / Zoom)), int(std::floor((rc.top + dy) / Zoom)),
            int(std::ceil((rc.right + dx) / Zoom)), int(std::ceil((rc.bottom + dy) / Zoom))};
        data_->Image.Invalidate(image);
    }
    host_.Invalidate(rc);
}

void TImageView::InvalidateLayer(const TLayer& layer) {
    RECT rc = ImageToClientRect(layer.GetRect(), true);
    rc.left -= 2;
    rc.top -= 2;
    rc.right += 2;
    rc.bottom += 2;
    InvalidateClientRect(rc);
}

void TImageView::InvalidateAll() {
    if (data_) data_->Image.InvalidateAll();
    host_.InvalidateAll();
}

COLORREF TImageView::ViewBackgroundColor() {
    const TOptions& o = Options();
    return o.OverrideBkgndColor ? o.BackgroundColor : RGB(255, 255, 255);
}

TPaintOptions TImageView::PaintOptions() const {
    TPaintOptions o;
    o.SuppressOverlays = false;
    o.PaintImage = true;
    o.ShowTransformFrame = Mode == 5;
    o.ShowCurrentOutline = ShowActiveOutline && !Capturing;
    o.ShowOtherOutlines = ShowInactiveOutlines;
    o.FrameStyle = AntsPhase;
    o.BackgroundPalette = !host_.HasFocus();
    o.CurrentLayerAlone = false;
    o.Palette = data_ ? data_->GetPalette() : nullptr;
    return o;
}

void TImageView::Paint(const RECT& rc) {
    HDC dc = host_.BackingDC();
    if (!dc) return;
    const TScrollState& s = host_.Scroller();
    const int sx = s.PosX * s.UnitX, sy = s.PosY * s.UnitY;
    TDCStateGuard guard(dc);
    // Draw in content coordinates, as a scrolled window's paint does.
    dc->SetViewportOrg(-sx, -sy);
    const RECT paint{rc.left + sx, rc.top + sy, rc.right + sx, rc.bottom + sy};
    const COLORREF background = ViewBackgroundColor();
    if (!Canvas()) {
        // Nothing to show: clear rather than leave the last picture standing.
        dc->FillRect(paint, LBRUSH{BS_SOLID, background});
        return;
    }
    TLayeredImage& image = data_->Image;
    if (image.ViewBackground != background) {
        image.ViewBackground = background;
        image.InvalidateAll(); // transparent parts of the composite show the old colour
    }
    const RECT dest = CanvasClientRect();
    image.Paint(dc, paint, dest, PaintOptions());
    if (HasSelection && SelectionOutline.IsAllocated())
        L_PaintDC(dc, &SelectionOutline, nullptr, nullptr, &dest, &paint, SRCINVERT);
    DrawOutlines(dc);
    if (tools_) tools_->Paint(dc, paint);
}

void TImageView::DrawOutlines(HDC dc) {
    if (!ShowActiveOutline || Capturing || !Canvas()) return;
    const TScrollState& s = host_.Scroller();
    const int sx = s.PosX * s.UnitX, sy = s.PosY * s.UnitY;
    const TSize client = host_.GetClientSize();
    const RECT clientRect{sx, sy, sx + client.cx, sy + client.cy};
    TPaintOptions o = PaintOptions();
    o.PaintImage = false;
    o.ShowTransformFrame = false;
    o.ShowCurrentOutline = true;
    o.ShowOtherOutlines = false;
    if (dc) {
        data_->Image.Paint(dc, clientRect, CanvasClientRect(), o);
        return;
    }
    dc = host_.BackingDC();
    if (!dc) return;
    {
        TDCStateGuard guard(dc);
        dc->SetViewportOrg(-sx, -sy);
        data_->Image.Paint(dc, clientRect, CanvasClientRect(), o);
    }
    host_.ShowBackingStore(RECT{0, 0, client.cx, client.cy});
}

// ---------------------------------------------------------------------------
// Selection.

bool TImageView::Deselect() {
    if (!HasSelection) return false;
    HasSelection = false;
    SelectionMask.Free();
    SelectionOutline.Free();
    InvalidateAll();
    return true;
}

void TImageView::ClipSelectionToLayer() {
    if (!HasSelection || !SelectionMask.IsAllocated() || !data_) return;
    TLayer* target = data_->Image.GetCurrentLayer();
    if (!target || !target->IsAllocated()) return;

    // The target's own shape is borrowed for the intersection and given back after.
    HRGN saved = nullptr;
    const bool hadRegion = L_BitmapHasRgn(target) > 0;
    if (hadRegion && L_GetBitmapRgnHandle(target, nullptr, &saved) != SUCCESS) return;
    RGNXFORM xf;
    xf.nXOffset = -target->X;
    xf.nYOffset = -target->Y;
    RECT bounds{};
    bool empty = L_SetBitmapRgnFromMask(target, &xf, &SelectionMask,
                                        hadRegion ? L_RGN_AND : L_RGN_SET) != SUCCESS ||
                 L_BitmapHasRgn(target) <= 0 ||
                 L_GetBitmapRgnBounds(target, nullptr, &bounds) != SUCCESS ||
                 bounds.left >= bounds.right || bounds.top >= bounds.bottom;
    if (!empty) {
        TLeadBitmap inside;
        empty = L_CreateMaskFromBitmapRgn(target, &inside) != SUCCESS;
        if (!empty) {
            for (int y = 0; y < SelectionMask.Height; ++y)
                std::memset(L_RowPtr(&SelectionMask, y), 0, size_t(SelectionMask.BytesPerLine));
            // Only the part of the layer that lies on the canvas.
            const RECT on = IntersectRect(
                RECT{target->X, target->Y, target->X + inside.Width, target->Y + inside.Height},
                RECT{0, 0, SelectionMask.Width, SelectionMask.Height});
            if (on.right > on.left)
                L_CombineBitmap(&SelectionMask, on.left, on.top, on.right - on.left,
                                on.bottom - on.top, &inside, on.left - target->X,
                                on.top - target->Y, CB_OP_COPY);
        }
    }
    if (hadRegion) {
        L_SetBitmapRgnHandle(target, nullptr, saved, L_RGN_SET);
        L_DeleteRgn(saved);
    } else {
        L_FreeBitmapRgn(target);
    }
    if (empty) {
        Deselect();
        return;
    }
    UpdateSelectionOutline();
    InvalidateAll();
}

L_INT TImageView::UpdateSelectionOutline() {
    if (!SelectionMask.IsAllocated() || SelectionMask.BitsPerPixel != 1) {
        SelectionOutline.Free();
        return ERROR_INV_PARAMETER;
    }
    const int w = SelectionMask.Width, h = SelectionMask.Height;
    if (!SelectionOutline.IsAllocated() || SelectionOutline.BitsPerPixel != 1 ||
        SelectionOutline.Width != w || SelectionOutline.Height != h) {
        SelectionOutline.Free();
        BITMAPHANDLE out;
        L_INT rc = L_CreateBitmap(&out, TYPE_CONV, w, h, 1, ORDER_BGR, nullptr, TOP_LEFT);
        if (rc != SUCCESS) return rc;
        SelectionOutline.Adopt(out);
    }
    return MakeOutline(SelectionMask, SelectionOutline, nullptr);
}

// ---------------------------------------------------------------------------
// Notifications and events.

void TImageView::OnDocumentOpened() {
    if (tools_) tools_->Reset();
    data_ = doc_.IsOpen() ? static_cast<TImageData*>(&doc_) : nullptr;
    UpdateScrollRanges();
    if (data_) data_->RebuildPalette();
    InvalidateAll();
    layers_.Notify(TLayerChange::Rebuild);
}

void TImageView::OnDocumentClosed() {
    if (tools_) tools_->Reset();
    data_ = nullptr;
    host_.InvalidateAll();
    layers_.Notify(TLayerChange::Rebuild);
}

void TImageView::OnSize() {
    const int x = OriginX, y = OriginY;
    UpdateScrollRanges();
    if (x != OriginX || y != OriginY) InvalidateAll();
}

void TImageView::OnTimer(int id) {
    if (id != kAntsTimer) {
        if (tools_) tools_->OnTimer(id);
        return;
    }
    if (!data_ || data_->Image.Count() == 0) return;
    if (data_->Image.GetCurrentIndex() == 0) return; // the background has no outline
    AntsPhase = (AntsPhase + 3) % 8;
    DrawOutlines(nullptr);
}

void TImageView::OnMouseWheel(int delta, unsigned keys, POINT) {
    if (delta == 0) return;
    if (keys & MK_CONTROL) {
        DoCommand(delta > 0 ? CM_ZOOM_IN : CM_ZOOM_OUT);
        return;
    }
    // Three lines of 16 pixels per notch; at least one unit for any turn of the wheel.
    if (tools_) tools_->Notify(181);
    const TScrollState& s = host_.Scroller();
    const int pixels = -delta * 48 / 120;
    if (keys & MK_SHIFT) {
        const int units = pixels / s.UnitX != 0 ? pixels / s.UnitX : (pixels > 0 ? 1 : -1);
        host_.ScrollTo(s.PosX + units, s.PosY);
    } else {
        const int units = pixels / s.UnitY != 0 ? pixels / s.UnitY : (pixels > 0 ? 1 : -1);
        host_.ScrollTo(s.PosX, s.PosY + units);
    }
}

namespace {
int ButtonNumber(TMouseButton b) {
    return b == TMouseButton::Left ? 1 : b == TMouseButton::Middle ? 2 : 3;
}
} // namespace

void TImageView::OnButtonDown(TMouseButton button, unsigned keys, POINT client) {
    if (tools_) {
        tools_->OnButtonDown(button, keys, client);
        return;
    }
    if (!data_ || MouseButton != 0) return;
    MouseButton = ButtonNumber(button);
    DownPoint = client;
    const TScrollState& s = host_.Scroller();
    DownScroll = POINT{s.PosX, s.PosY};
}

void TImageView::OnButtonUp(TMouseButton button, unsigned keys, POINT client) {
    if (tools_) {
        tools_->OnButtonUp(button, keys, client);
        return;
    }
    if (ButtonNumber(button) == MouseButton) MouseButton = 0;
}

void TImageView::OnMouseMove(unsigned keys, POINT client) {
    if (tools_) tools_->OnMouseMove(keys, client);
}

void TImageView::OnKeyUp(int key, unsigned keys) {
    if (tools_) tools_->OnKeyUp(key, keys);
}

void TImageView::OnKillFocus() {
    if (tools_) tools_->OnKillFocus();
}

void TImageView::OnCaptureChanged() {
    if (tools_) tools_->OnCaptureChanged();
}

void TImageView::OnCancelMode() {
    if (tools_) tools_->OnCancelMode();
}

void TImageView::OnKeyDown(int key, unsigned keys) {
    if (tools_ && tools_->OnKeyDown(key, keys)) return;
    if (keys & MK_SHIFT) return;
    const bool ctrl = (keys & MK_CONTROL) != 0;
    const TScrollState& s = host_.Scroller();
    const TSize client = host_.GetClientSize();
    const int pageX = std::max(1, client.cx / s.UnitX), pageY = std::max(1, client.cy / s.UnitY);
    const int stepX = std::max(1, pageX / 8), stepY = std::max(1, pageY / 8);
    if (tools_) tools_->Notify(181);
    // Positions past the ends are brought back by the scroller.
    switch (key) {
        case VK_NEXT: host_.ScrollTo(s.PosX, ctrl ? s.RangeY : s.PosY + pageY); break;
        case VK_PRIOR: host_.ScrollTo(s.PosX, ctrl ? 0 : s.PosY - pageY); break;
        case VK_END: host_.ScrollTo(ctrl ? s.RangeX : s.PosX + pageX, s.PosY); break;
        case VK_HOME: host_.ScrollTo(ctrl ? 0 : s.PosX - pageX, s.PosY); break;
        case VK_LEFT:
            if (!ctrl) host_.ScrollTo(s.PosX - stepX, s.PosY);
            break;
        case VK_RIGHT:
            if (!ctrl) host_.ScrollTo(s.PosX + stepX, s.PosY);
            break;
        case VK_UP:
            if (!ctrl) host_.ScrollTo(s.PosX, s.PosY - stepY);
            break;
        case VK_DOWN:
            if (!ctrl) host_.ScrollTo(s.PosX, s.PosY + stepY);
            break;
        case VK_ESCAPE:
            if (!ctrl && HasSelection) Deselect();
            break;
        default: break;
    }
}

// ---------------------------------------------------------------------------
// Status texts.

std::string TImageView::StatusSize() const {
    int cw, ch;
    return CanvasSize(&cw, &ch) ? Format("W,H: %i,%i", cw, ch) : std::string();
}

std::string TImageView::StatusBpp() const {
    const TLayer* canvas = Canvas();
    if (!canvas) return {};
    // Channel views carry no logical depth; they show what they store.
    const int bpp =
        canvas->GetBitsPerPixel() > 0 ? canvas->GetBitsPerPixel() : canvas->BitsPerPixel;
    char text[32];
    std::snprintf(text, sizeof text, "%i BPP", bpp);
    return text;
}

std::string TImageView::StatusLayerRect() const {
    if (!Canvas() || data_->Image.GetCurrentIndex() == 0) return {};
    const TLayer* layer = data_->Image.GetCurrentLayer();
    if (!layer) return {};
    const RECT r = layer->GetRect();
    char text[96];
    std::snprintf(text, sizeof text, "(%i,%i) - (%i,%i)", r.left, r.top, r.right, r.bottom);
    return text;
}

std::string TImageView::StatusSelection() const {
    std::string text;
    if (tools_ && tools_->StatusText(&text)) return text;
    return StatusLayerRect();
}

std::string TImageView::StatusCursor() const {
    POINT q;
    return GetCursorImagePoint(&q) ? Format("(%i,%i)", q.x, q.y) : std::string();
}

