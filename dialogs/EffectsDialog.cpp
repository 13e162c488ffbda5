#include "EffectsDialog.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>

#include "Effects.h"
#include "ErrorDisplay.h"
#include "ImageView.h"
#include "WaitCursor.h"

// ---------------------------------------------------------------------------
// Templates

RECT DialogUnitRect(int x, int y, int width, int height) {
    return RECT{x * kDialogUnit, y * kDialogUnit, (x + width) * kDialogUnit,
                (y + height) * kDialogUnit};
}

void AddDialogControl(TDialogTemplate& t, int id, TControlKind kind, const std::string& text, int x,
                      int y, int width, int height) {
    TControlTemplate c;
    c.Id = id;
    c.Kind = kind;
    c.Text = text;
    c.Rect = DialogUnitRect(x, y, width, height);
    t.Controls.push_back(c);
}

TDialogTemplate EffectDialogTemplate(int resourceId, const std::string& caption) {
    TDialogTemplate t;
    t.ResourceId = resourceId;
    t.Caption = caption;
    using K = TControlKind;
    AddDialogControl(t, IDC_STATIC, K::GroupBox, "", 4, 4, 208, 100);
    AddDialogControl(t, IDC_STATIC, K::Static, "Original:", 12, 4, 60, 10);
    AddDialogControl(t, IDC_ORIGINALPLACE, K::Static, "", 12, 16, 92, 76);
    AddDialogControl(t, IDC_STATIC, K::Static, "Preview:", 112, 4, 60, 10);
    AddDialogControl(t, IDC_PREVIEWPLACE, K::Static, "", 112, 16, 92, 76);
    AddDialogControl(t, IDC_STATIC, K::Static, "Zoom in - left click, zoom out - right click", 40,
                     92, 128, 8);
    return t;
}

void AddSliderRow(TDialogTemplate& t, int y, const std::string& label, int sliderId,
                  const std::string& minText, const std::string& maxText) {
    using K = TControlKind;
    AddDialogControl(t, IDC_STATIC, K::Static, label, 8, y + 2, 44, 10);
    AddDialogControl(t, sliderId, K::Static, "", 54, y, 154, 14);
    AddDialogControl(t, IDC_STATIC, K::Static, minText, 54, y + 15, 40, 9);
    AddDialogControl(t, IDC_STATIC, K::Static, maxText, 168, y + 15, 40, 9);
    // The right end label is right-aligned by the host only if it knows; keep it short.
}

void FinishEffectDialogTemplate(TDialogTemplate& t, int y) {
    using K = TControlKind;
    AddDialogControl(t, IDOK, K::PushButton, "OK", 40, y, 44, 14);
    AddDialogControl(t, IDCANCEL, K::PushButton, "Cancel", 88, y, 44, 14);
    AddDialogControl(t, IDHELP, K::PushButton, "&Help", 136, y, 44, 14);
    t.Width = 216 * kDialogUnit;
    t.Height = (y + 20) * kDialogUnit;
}

TDialogTemplate ReplaceWithSliders(TDialogTemplate t, std::initializer_list<int> ids) {
    for (TControlTemplate& c : t.Controls)
        if (std::find(ids.begin(), ids.end(), c.Id) != ids.end()) c.Kind = TControlKind::Slider;
    return t;
}

namespace {

// Each placeholder gets its pane right after it, 2 pixels inside on every side.
TDialogTemplate WithPanes(TDialogTemplate t) {
    for (size_t i = 0; i < t.Controls.size(); ++i) {
        const int place = t.Controls[i].Id;
        if (place != IDC_ORIGINALPLACE && place != IDC_PREVIEWPLACE) continue;
        TControlTemplate pane;
        pane.Id = place == IDC_ORIGINALPLACE ? IDC_ORIGINAL : IDC_PREVIEW;
        pane.Kind = TControlKind::ImagePane;
        const RECT r = t.Controls[i].Rect;
        pane.Rect = RECT{r.left + 2, r.top + 2, r.right - 2, r.bottom - 2};
        t.Controls.insert(t.Controls.begin() + std::ptrdiff_t(i) + 1, pane);
        ++i;
    }
    return t;
}

} // namespace

// ---------------------------------------------------------------------------
// TImageControl

TImageControl::TImageControl(TDialog& parent, int id, bool zoomCursor) : parent_(parent), id_(id) {
    if (const TControlTemplate* c = parent.Template().Find(id)) {
        width_ = std::max(0, c->Rect.right - c->Rect.left);
        height_ = std::max(0, c->Rect.bottom - c->Rect.top);
    }
    parent_.SetPaneZoomCursor(id, zoomCursor);
}

TImageControl::~TImageControl() {
    // The dialog may outlive its panes for a moment; it must not point at freed pixels.
    parent_.SetPaneBitmap(id_, nullptr);
}

COLORREF TImageControl::BackgroundColor() { return TImageView::ViewBackgroundColor(); }

void TImageControl::SetBitmap(const BITMAPHANDLE* bitmap) {
    bitmap_ = bitmap && bitmap->Addr ? bitmap : nullptr;
    Recompute();
}

void TImageControl::Resize(int width, int height) {
    width_ = std::max(0, width);
    height_ = std::max(0, height);
    Recompute();
}

const BITMAPHANDLE* TImageControl::Shown() const {
    if (!bitmap_) return nullptr;
    return display_.IsAllocated() ? &display_ : bitmap_;
}

void TImageControl::Recompute() {
    display_.Free();
    offset_ = POINT{};
    if (bitmap_) {
        if (bitmap_->BitsPerPixel == 32) {
            // Transparent parts show the background colour, as in the image view.
            BITMAPHANDLE blended;
            if (L_CreateBitmap(&blended, TYPE_CONV, bitmap_->Width, bitmap_->Height, 24, ORDER_BGR,
                               nullptr, TOP_LEFT) == SUCCESS) {
                display_.Adopt(blended);
                if (L_FillBitmap(&display_, BackgroundColor()) != SUCCESS ||
                    AlphaBlendBitmapRects32(&display_, 0, 0, bitmap_->Width, bitmap_->Height,
                                            bitmap_, 0, 0) != SUCCESS)
                    display_.Free();
            }
        }
        if (Fit && width_ > 0 && height_ > 0) {
            const BITMAPHANDLE& from = display_.IsAllocated() ? display_ : *bitmap_;
            int w = width_, h = int(int64_t(from.Height) * width_ / std::max(1, from.Width));
            if (h > height_) {
                h = height_;
                w = int(int64_t(from.Width) * height_ / std::max(1, from.Height));
            }
            TLeadBitmap fitted;
            if (fitted.Assign(from, true) == SUCCESS &&
                L_SizeBitmap(&fitted, std::max(1, w), std::max(1, h), SIZE_RESAMPLE) == SUCCESS)
                display_.Adopt(fitted);
        }
        const BITMAPHANDLE* shown = Shown();
        offset_.x = std::max(0, (width_ - shown->Width) / 2);
        offset_.y = std::max(0, (height_ - shown->Height) / 2);
    }
    parent_.SetPaneBitmap(id_, Shown());
}

bool TImageControl::GetImagePoint(POINT& point) const {
    if (!bitmap_ || !parent_.IsOpen()) return false;
    const POINT click = parent_.LastPanePoint();
    const POINT p{click.x - offset_.x, click.y - offset_.y};
    if (p.x < 0 || p.y < 0 || p.x >= bitmap_->Width || p.y >= bitmap_->Height) return false;
    point = p;
    return true;
}

// ---------------------------------------------------------------------------
// TEffectsDialog

TEffectsDialog::TEffectsDialog(const TLeadBitmapX& source, TDialogTemplate tmpl, int helpContext)
    : TCenterDialog(WithPanes(std::move(tmpl))) {
    HelpContext = helpContext;
    source_.Assign(source, false);
    source_.LogicalBpp = source.LogicalBpp;
    if (source_.IsAllocated() && source_.BitsPerPixel > 8 && source_.BitsPerPixel != 32) {
        // The conversion works on a copy of our own: the layer stays as it is.
        sourceStatus_ = source_.Assign(source, true);
        if (sourceStatus_ == SUCCESS) sourceStatus_ = source_.NormalizeDepth();
        if (sourceStatus_ != SUCCESS) source_.Free();
    }
}

TEffectsDialog::~TEffectsDialog() {
    // The panes point at the bitmaps; they go first.
    original_.reset();
    previewPane_.reset();
}

void TEffectsDialog::ReleaseSource() {
    original_.reset();
    previewPane_.reset();
    shown_.Free();
    preview_.Free();
    source_.Free();
}

void TEffectsDialog::SetupWindow() {
    TCenterDialog::SetupWindow();
    if (InitPanes()) UpdatePreview();
}

bool TEffectsDialog::InitPanes() {
    original_ = std::make_unique<TImageControl>(*this, IDC_ORIGINAL, true);
    previewPane_ = std::make_unique<TImageControl>(*this, IDC_PREVIEW, true);
    zoomLevel_ = 0;
    originX_ = originY_ = 0;
    const L_INT rc = sourceStatus_ != SUCCESS ? sourceStatus_ : shown_.AssignX(source_, true);
    if (rc != SUCCESS) {
        ShowToolkitError(rc, Caption());
        EndDialog(IDCANCEL);
        return false;
    }
    const int64_t cw = original_->ClientWidth(), ch = original_->ClientHeight();
    const int64_t W = std::max(1, source_.Width), H = std::max(1, source_.Height);
    int64_t sw, sh;
    if (cw * H <= ch * W) {
        zoom_ = double(cw) / double(W);
        sw = cw;
        sh = cw * H / W;
    } else {
        zoom_ = double(ch) / double(H);
        sw = ch * W / H;
        sh = ch;
    }
    const L_INT sized =
        L_SizeBitmap(&shown_, std::max<L_INT>(1, L_INT(sw)), std::max<L_INT>(1, L_INT(sh)), 0);
    if (sized != SUCCESS) {
        ShowToolkitError(sized, Caption());
        EndDialog(IDCANCEL);
        return false;
    }
    visibleWidth_ = source_.Width;
    visibleHeight_ = source_.Height;
    original_->SetBitmap(&shown_);
    return true;
}

// The rectangle is the crop the original pane was made from. Working it out again from the
// shown size and the zoom would truncate twice and could lose the last row or column.
RECT TEffectsDialog::GetVisibleRect() const {
    return RECT{originX_, originY_, std::min(originX_ + visibleWidth_, source_.Width),
                std::min(originY_ + visibleHeight_, source_.Height)};
}

void TEffectsDialog::UpdatePreview() {
    const auto start = std::chrono::steady_clock::now();
    preview_.Free();
    const RECT v = GetVisibleRect();
    // A point operation gives the same pixels whether the picture is shrunk to the pane
    // before or after it; before is far quicker on a big layer.
    const bool shrinkFirst = PreviewShrinksFirst &&
                             (v.right - v.left > shown_.Width || v.bottom - v.top > shown_.Height);
    // Our toolkit addresses rows from the top whatever order they are stored in, so a
    // bottom-up source needs no flipping of the rectangle here. When the whole layer is in
    // sight and is not shrunk, the effect reads the layer itself: copying it would cost as
    // much as a quick filter.
    TLeadBitmapX crop;
    const bool whole =
        v.left == 0 && v.top == 0 && v.right == source_.Width && v.bottom == source_.Height;
    L_INT rc = whole && !shrinkFirst
                   ? crop.AssignX(source_, false)
                   : crop.CopyRect(source_, v.left, v.top, v.right - v.left, v.bottom - v.top);
    crop.LogicalBpp = source_.LogicalBpp;
    if (rc == SUCCESS) {
        std::unique_ptr<TWaitCursor> wait;
        if (BusyCursor) wait = std::make_unique<TWaitCursor>();
        RECT bounds{};
        if (crop.pRgn && L_GetBitmapRgnBounds(&crop, nullptr, &bounds) == SUCCESS &&
            (bounds.left >= bounds.right || bounds.top >= bounds.bottom)) {
            // Nothing of the selection is in sight: the preview is the original.
            rc = preview_.AssignX(crop, true);
        } else {
            if (shrinkFirst) rc = L_SizeBitmap(&crop, shown_.Width, shown_.Height, 0);
            if (rc == SUCCESS) rc = Apply(preview_, crop, true);
        }
        // The preview is scaled as the original pane is, so the two can be compared point
        // for point. An effect that changes the size (a turn) keeps its own proportions
        // rather than being squeezed back into the original's.
        if (rc == SUCCESS && preview_.IsAllocated()) {
            const auto scaled = [](int64_t size, int64_t shown, int64_t processed) {
                return L_INT(std::max<int64_t>(1, (size * shown + processed / 2) / processed));
            };
            rc = L_SizeBitmap(&preview_, scaled(preview_.Width, shown_.Width, crop.Width),
                              scaled(preview_.Height, shown_.Height, crop.Height), 0);
        } else if (rc == SUCCESS)
            rc = ERROR_NO_BITMAP; // an Apply that reports success must deliver a bitmap
    }
    if (rc != SUCCESS) {
        preview_.Free();
        ShowToolkitError(rc, Caption());
    }
    if (previewPane_) previewPane_->SetBitmap(preview_.IsAllocated() ? &preview_ : nullptr);
    lastPreviewMs_ =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

L_INT TEffectsDialog::ShowCrop(int x, int y, int width, int height, int shownWidth,
                               int shownHeight) {
    TLeadBitmapX crop;
    L_INT rc = crop.CopyRect(source_, x, y, width, height);
    if (rc == SUCCESS) rc = L_SizeBitmap(&crop, shownWidth, shownHeight, 0);
    if (rc != SUCCESS) return rc;
    crop.LogicalBpp = source_.LogicalBpp;
    // The pane shows the old bitmap until it is handed the new one.
    original_->SetBitmap(nullptr);
    shown_.Adopt(crop);
    shown_.LogicalBpp = source_.LogicalBpp;
    original_->SetBitmap(&shown_);
    return SUCCESS;
}

void TEffectsDialog::Zoom(TZoom direction, TPane pane, TRefresh refresh) {
    TImageControl* clicked = pane == TPane::Original ? original_.get() : previewPane_.get();
    if (!clicked || !clicked->Bitmap()) return;
    const double newZoom = direction == TZoom::In ? zoom_ * 2 : zoom_ * 0.5;
    POINT pt;
    if (!clicked->GetImagePoint(pt)) return;
    if (direction == TZoom::In ? zoomLevel_ >= 5 : zoomLevel_ <= -2) return;
    TWaitCursor wait;
    const int W = source_.Width, H = source_.Height;
    const double cx = originX_ + pt.x / zoom_, cy = originY_ + pt.y / zoom_;
    const double cw = clicked->ClientWidth(), ch = clicked->ClientHeight();
    int w = int(cw / newZoom), h = int(ch / newZoom);
    int ox = int(cx - (cw / newZoom) / 2), oy = int(cy - (ch / newZoom) / 2);
    if (ox + w > W) ox = W - w;
    if (oy + h > H) oy = H - h;
    ox = std::max(0, ox);
    oy = std::max(0, oy);
    if (ox + w > W) {
        w = W - ox;
        h = int(int64_t(H) * w / W);
    }
    if (oy + h > H) {
        h = H - oy;
        w = int(int64_t(W) * h / H);
    }
    if (w < 2 || h < 2) return;
    const L_INT rc =
        ShowCrop(ox, oy, w, h, std::max(1, int(w * newZoom)), std::max(1, int(h * newZoom)));
    if (rc != SUCCESS) {
        ShowToolkitError(rc, Caption());
        EndDialog(IDCANCEL);
        return;
    }
    zoom_ = newZoom;
    zoomLevel_ += direction == TZoom::In ? 1 : -1;
    originX_ = ox;
    originY_ = oy;
    visibleWidth_ = w;
    visibleHeight_ = h;
    if (refresh == TRefresh::Preview) {
        UpdatePreview();
    } else {
        previewPane_->SetBitmap(nullptr);
        preview_.Free();
    }
}

void TEffectsDialog::SliderMoved(int code) {
    if (code == SB_ENDSCROLL || (code == SB_THUMBTRACK && lastPreviewMs_ < LivePreviewLimitMs))
        UpdatePreview();
}

void TEffectsDialog::EvCommand(int id, int notifyCode) {
    if ((id == IDC_ORIGINAL || id == IDC_PREVIEW) && (notifyCode == 1 || notifyCode == 2)) {
        Zoom(notifyCode == 1 ? TZoom::In : TZoom::Out,
             id == IDC_ORIGINAL ? TPane::Original : TPane::Preview, TRefresh::Preview);
        return;
    }
    TCenterDialog::EvCommand(id, notifyCode);
}

// ---------------------------------------------------------------------------
// TSliderDialog

TSliderDialog::TSliderDialog(const TLeadBitmapX& source, TDialogTemplate tmpl, int helpContext)
    : TEffectsDialog(source, ReplaceWithSliders(std::move(tmpl), {IDC_SLIDER}), helpContext) {}

bool TSliderDialog::InitPanes() {
    if (!TEffectsDialog::InitPanes()) return false;
    SetRange(IDC_SLIDER, Minimum, Maximum);
    SetRuler(IDC_SLIDER, RulerStep);
    SetPosition(IDC_SLIDER, Initial);
    return true;
}

void TSliderDialog::SetupWindow() {
    TEffectsDialog::SetupWindow();
    SetDlgItemInt(IDC_SLIDERVALUE, Position());
    SetDlgItemInt(IDC_SLIDERMIN, Minimum);
    SetDlgItemInt(IDC_SLIDERMAX, Maximum);
}

void TSliderDialog::EvHScroll(int id, int code) {
    if (id != IDC_SLIDER) return;
    SetDlgItemInt(IDC_SLIDERVALUE, Position());
    SliderMoved(code);
}
