// Channel editing: each layer is handed out as an 8-bit grayscale view of one channel,
// and the views are written back when the mode ends or the stack is about to change.
//
// Only three views exist at a time: the current layer's, the background's, and one
// "other" view that moves from layer to layer when something reads a further layer.
#include "LayeredImage.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "Effects.h"
#include "PixelAccess.h"

namespace {

const RGBQUAD* GrayRamp() {
    static const auto* ramp = [] {
        static RGBQUAD pal[256];
        for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
        return pal;
    }();
    return ramp;
}

// Byte of a 32-bit pixel shown by modes 1-4 (alpha, red, green, blue); -1 otherwise.
int PlaneByte(int mode) {
    switch (mode) {
        case CHANNEL_ALPHA: return 3;
        case CHANNEL_RED: return 2;
        case CHANNEL_GREEN: return 1;
        case CHANNEL_BLUE: return 0;
        default: return -1;
    }
}

struct SeparationGroup {
    L_UINT code;
    int firstMode;
};

bool GroupOf(int mode, SeparationGroup* g) {
    if (mode >= CHANNEL_CMYK_CYAN && mode <= CHANNEL_CMYK_BLACK)
        *g = {COLORSEP_CMYK, CHANNEL_CMYK_CYAN};
    else if (mode >= CHANNEL_CMY_CYAN && mode <= CHANNEL_CMY_YELLOW)
        *g = {COLORSEP_CMY, CHANNEL_CMY_CYAN};
    else if (mode >= CHANNEL_HSV_HUE && mode <= CHANNEL_HSV_VALUE)
        *g = {COLORSEP_HSV, CHANNEL_HSV_HUE};
    else if (mode >= CHANNEL_HLS_HUE && mode <= CHANNEL_HLS_SATURATION)
        *g = {COLORSEP_HLS, CHANNEL_HLS_HUE};
    else
        return false;
    return true;
}

// Up to four separated planes, freed on scope exit.
struct Planes {
    BITMAPHANDLE p[4];
    ~Planes() {
        for (BITMAPHANDLE& b : p) L_FreeBitmap(&b);
    }
};

bool CanHoldPlane(const BITMAPHANDLE& layer, int byte) {
    if (!layer.Flags.Allocated || !layer.Addr) return false;
    return byte == 3 ? layer.BitsPerPixel == 32 : layer.BitsPerPixel >= 24;
}

// Makes the view an 8-bit bitmap whose pixel value is its gray level.
L_INT MakeGrayRamp(TLayer& view) {
    if (view.BitsPerPixel == 8 && L_IsGrayScaleBitmap(&view) == GRAY_ORDEREDNORMAL) return SUCCESS;
    view.GrayState = -1;
    L_INT rc = L_GrayScaleBitmap(&view, 8);
    if (rc == SUCCESS && view.LogicalBpp > 8) view.LogicalBpp = 8;
    return rc;
}

L_INT ExtractPlane(const TLayer& layer, TLayer& view, int byte) {
    if (!CanHoldPlane(layer, byte)) return ERROR_BITPERPIXEL;
    BITMAPHANDLE fresh;
    L_INT rc = L_CreateBitmap(&fresh, TYPE_CONV, layer.Width, layer.Height, 8, ORDER_BGR,
                              GrayRamp(), TOP_LEFT);
    if (rc != SUCCESS) return rc;
    view.Adopt(fresh);
    const int stride = layer.BitsPerPixel / 8;
    for (int y = 0; y < layer.Height; ++y) {
        const uint8_t* s = L_RowPtr(&layer, y) + byte;
        uint8_t* d = L_RowPtr(&view, y);
        for (int x = 0; x < layer.Width; ++x) d[x] = s[x * stride];
    }
    return SUCCESS;
}

L_INT InsertPlane(TLayer& layer, TLayer& view, int byte) {
    if (!CanHoldPlane(layer, byte) || !view.IsAllocated()) return ERROR_BITPERPIXEL;
    if (view.Width != layer.Width || view.Height != layer.Height) return ERROR_INV_RANGE;
    L_INT rc = MakeGrayRamp(view);
    if (rc != SUCCESS) return rc;
    const int stride = layer.BitsPerPixel / 8;
    for (int y = 0; y < layer.Height; ++y) {
        uint8_t* d = L_RowPtr(&layer, y) + byte;
        const uint8_t* s = L_RowPtr(&view, y);
        for (int x = 0; x < layer.Width; ++x) d[x * stride] = s[x];
    }
    layer.GrayState = -1;
    return SUCCESS;
}

// A separated view that remembers the plane it was made from, so that writing it back
// can find the edited part without separating the whole layer again.
class TChannelView final : public TLayer {
public:
    TLeadBitmap Original;

    // The smallest rectangle holding every pixel that differs from the original (empty
    // when nothing was edited; the whole view when the original is unusable).
    RECT EditedBounds() const {
        const RECT all{0, 0, Width, Height};
        if (!Original.IsAllocated() || Original.Width != Width || Original.Height != Height ||
            Original.BitsPerPixel != 8 || BitsPerPixel != 8)
            return all;
        RECT r{Width, Height, 0, 0};
        for (int y = 0; y < Height; ++y) {
            const uint8_t* a = L_RowPtr(this, y);
            const uint8_t* b = L_RowPtr(&Original, y);
            if (std::memcmp(a, b, size_t(Width)) == 0) continue;
            int x0 = 0, x1 = Width;
            while (a[x0] == b[x0]) ++x0;
            while (a[x1 - 1] == b[x1 - 1]) --x1;
            r.left = std::min(r.left, x0);
            r.right = std::max(r.right, x1);
            r.top = std::min(r.top, y);
            r.bottom = y + 1;
        }
        return r.left < r.right ? r : RECT{};
    }
};

// Writes plane k of an edited view back into a rectangle of the layer: the layer's part is
// separated, the plane replaced, the planes merged, and the merged colour written where the
// plane value changed. Colour models round, so writing every pixel would let unedited
// pixels drift a level each time a view is committed (the other view commits whenever it
// moves, which compositing a deep stack does on every repaint). Alpha is never touched.
L_INT MergePlaneRect(TLayer& layer, const TLayer& view, int k, L_UINT code, const RECT& rc) {
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    Planes planes;
    TLeadBitmap part, edited;
    L_INT status = part.CopyRect(layer, rc.left, rc.top, w, h);
    if (status == SUCCESS) status = edited.CopyRect(view, rc.left, rc.top, w, h);
    if (status != SUCCESS) return status;
    L_FreeBitmapRgn(&part);
    L_FreeBitmapRgn(&edited);
    if ((status = L_ColorSeparateBitmap(&part, planes.p, code)) != SUCCESS) return status;
    // planes.p[k] becomes the edited plane; `edited` keeps the plane as it was.
    std::swap(planes.p[k], static_cast<BITMAPHANDLE&>(edited));
    TLeadBitmap merged;
    if ((status = L_ColorMergeBitmap(&merged, planes.p, code)) != SUCCESS) return status;
    if (merged.Width != w || merged.Height != h || merged.BitsPerPixel < 24) return ERROR_INV_RANGE;
    const int ls = layer.BitsPerPixel / 8, ms = merged.BitsPerPixel / 8;
    for (int y = 0; y < h; ++y) {
        const uint8_t* was = L_RowPtr(&edited, y);
        const uint8_t* now = L_RowPtr(&planes.p[k], y);
        const uint8_t* m = L_RowPtr(&merged, y);
        uint8_t* d = L_RowPtr(&layer, rc.top + y) + size_t(rc.left) * size_t(ls);
        for (int x = 0; x < w; ++x)
            if (was[x] != now[x]) std::memcpy(d + x * ls, m + x * ms, 3);
    }
    layer.GrayState = -1;
    return SUCCESS;
}

} // namespace

int TLayeredImage::GetEffectiveChannelMode() const {
    if (channelMode_ == CHANNEL_AGGREGATED || Count() == 0) return CHANNEL_AGGREGATED;
    const TLayer* bg = Layers.At(0);
    if (!bg->IsAllocated()) return CHANNEL_AGGREGATED;
    // The planes come from the stored pixels: a layer the user sees at 24 bits is stored
    // at 32, so its alpha plane can be edited too. Palette images are edited whole.
    if (channelMode_ == CHANNEL_ALPHA)
        return bg->BitsPerPixel == 32 ? channelMode_ : CHANNEL_AGGREGATED;
    return bg->BitsPerPixel >= 24 ? channelMode_ : CHANNEL_AGGREGATED;
}

TLayer* TLayeredImage::ExistingViewOrLayer(int index) {
    if (index < 0 || index >= Count()) return nullptr;
    if (index == 0 && backgroundView_) return backgroundView_.get();
    if (currentView_ && currentViewIndex_ == index) return currentView_.get();
    if (otherView_ && otherViewIndex_ == index) return otherView_.get();
    return Layers.At(index);
}

void TLayeredImage::SettleCurrentView() {
    if (currentView_ && currentViewIndex_ != GetCurrentIndex()) {
        MergeChannel(currentViewIndex_, *currentView_);
        currentView_.reset();
        currentViewIndex_ = -1;
    }
}

void TLayeredImage::DiscardViews() {
    currentView_.reset();
    backgroundView_.reset();
    otherView_.reset();
    currentViewIndex_ = otherViewIndex_ = -1;
}

TLayer* TLayeredImage::GetBackground() {
    if (GetEffectiveChannelMode() == CHANNEL_AGGREGATED) return Layers.At(0);
    if (!backgroundView_) backgroundView_ = SeparateChannel(0);
    return backgroundView_.get();
}

TLayer* TLayeredImage::GetCurrentLayer() {
    if (GetEffectiveChannelMode() == CHANNEL_AGGREGATED) return Layers.Current();
    const int cur = GetCurrentIndex();
    if (cur == 0) return GetBackground();
    if (!Layers.At(cur)) return nullptr;
    SettleCurrentView();
    if (otherView_ && otherViewIndex_ == cur) {
        currentView_ = std::move(otherView_);
        currentViewIndex_ = cur;
        otherViewIndex_ = -1;
    }
    if (!currentView_) {
        currentView_ = SeparateChannel(cur);
        currentViewIndex_ = currentView_ ? cur : -1;
    }
    return currentView_.get();
}

TLayer* TLayeredImage::GetLayer(int index) {
    if (GetEffectiveChannelMode() == CHANNEL_AGGREGATED) return Layers.At(index);
    if (index < 0 || index >= Count()) return nullptr;
    if (index == 0) return GetBackground();
    if (index == GetCurrentIndex()) return GetCurrentLayer();
    SettleCurrentView();
    if (otherView_ && otherViewIndex_ == index) return otherView_.get();
    if (otherView_) {
        MergeChannel(otherViewIndex_, *otherView_);
        otherView_.reset();
        otherViewIndex_ = -1;
    }
    otherView_ = SeparateChannel(index);
    otherViewIndex_ = otherView_ ? index : -1;
    return otherView_.get();
}

L_INT TLayeredImage::SetChannelMode(int mode) {
    if (mode < CHANNEL_AGGREGATED || mode > CHANNEL_LAST) return ERROR_INV_PARAMETER;
    if (mode == channelMode_) return SUCCESS;
    if (GetEffectiveChannelMode() == CHANNEL_ALPHA) {
        // Leaving the alpha mode: what was painted transparent no longer belongs to the
        // layer, and what was painted opaque does.
        for (TLayer* view : {currentView_.get(), otherView_.get()}) {
            if (!view || !view->IsAllocated()) continue;
            BITMAPHANDLE mask;
            if (Lx_CreateMaskFromAlpha(view, &mask) != SUCCESS) continue;
            L_SetBitmapRgnFromMask(view, nullptr, &mask, L_RGN_SET);
            L_FreeBitmap(&mask);
            // A shape covering the whole rectangle is the same as no shape.
            RECT b{};
            if (view->pRgn && L_GetBitmapRgnBounds(view, nullptr, &b) == SUCCESS && b.left == 0 &&
                b.top == 0 && b.right == view->Width && b.bottom == view->Height) {
                size_t n = 0;
                for (const RgnSpan& s : lt::RegionSpans(view->pRgn)) n += size_t(s.x1 - s.x0);
                if (n == size_t(view->Width) * size_t(view->Height)) L_FreeBitmapRgn(view);
            }
        }
    }
    L_INT rc = CommitChannels(true);
    channelMode_ = mode;
    RecomposeAll = true;
    return rc;
}

L_INT TLayeredImage::CommitChannels(bool discard) {
    // Views exist only while a channel mode was in effect; write back whatever exists,
    // in the mode they were made in.
    L_INT status = SUCCESS;
    auto merge = [&](std::unique_ptr<TLayer>& view, int index) {
        if (!view) return;
        L_INT rc = MergeChannel(index, *view);
        if (rc != SUCCESS && status == SUCCESS) status = rc;
    };
    merge(currentView_, currentViewIndex_);
    merge(backgroundView_, 0);
    merge(otherView_, otherViewIndex_);
    if (discard) DiscardViews();
    return status;
}

std::unique_ptr<TLayer> TLayeredImage::SeparateChannel(int index) {
    const int mode = GetEffectiveChannelMode();
    const TLayer* layer = Layers.At(index);
    if (mode == CHANNEL_AGGREGATED || !layer || !layer->IsAllocated()) return nullptr;
    std::unique_ptr<TLayer> view;
    const int byte = PlaneByte(mode);
    if (byte >= 0) {
        view = std::make_unique<TLayer>();
        if (ExtractPlane(*layer, *view, byte) != SUCCESS) return nullptr;
    } else {
        SeparationGroup g{};
        if (!GroupOf(mode, &g)) return nullptr;
        Planes planes;
        if (L_ColorSeparateBitmap(layer, planes.p, g.code) != SUCCESS) return nullptr;
        auto cv = std::make_unique<TChannelView>();
        cv->Adopt(planes.p[mode - g.firstMode]);
        if (cv->NormalizeDepth() != SUCCESS ||
            L_ChangeBitmapViewPerspective(nullptr, cv.get(), 0) != SUCCESS)
            return nullptr;
        L_FreeBitmapRgn(cv.get());
        // Without the copy every commit would have to separate the whole layer again.
        if (cv->Original.Assign(*cv, true) != SUCCESS) cv->Original.Free();
        view = std::move(cv);
    }
    view->CopyAttributes(*layer);
    if (index >= 1 && layer->pRgn)
        L_SetBitmapRgnHandle(view.get(), nullptr, layer->pRgn, L_RGN_SET);
    return view;
}

L_INT TLayeredImage::MergeChannel(int index, TLayer& view) {
    TLayer* layer = Layers.At(index);
    if (!layer || !layer->IsAllocated() || !view.IsAllocated()) return ERROR_NO_BITMAP;
    // The undo history may hold the layer's pixel block as well.
    if (const L_INT rc = L_UnshareBitmap(layer); rc != SUCCESS) return rc;
    const int byte = PlaneByte(channelMode_);
    SeparationGroup g{};
    if (byte >= 0) {
        L_INT rc = InsertPlane(*layer, view, byte);
        if (rc != SUCCESS) return rc;
    } else if (GroupOf(channelMode_, &g)) {
        if (layer->BitsPerPixel < 24) return ERROR_BITPERPIXEL;
        if (view.Width != layer->Width || view.Height != layer->Height) return ERROR_INV_RANGE;
        L_INT rc = MakeGrayRamp(view);
        if (rc != SUCCESS) return rc;
        RECT changed{0, 0, layer->Width, layer->Height};
        if (auto* cv = dynamic_cast<TChannelView*>(&view)) changed = cv->EditedBounds();
        if (changed.left < changed.right) {
            rc = MergePlaneRect(*layer, view, channelMode_ - g.firstMode, g.code, changed);
            if (rc != SUCCESS) return rc;
        }
    } else {
        return ERROR_INV_PARAMETER;
    }
    layer->CopyAttributes(view);
    if (index >= 1 && view.pRgn)
        L_SetBitmapRgnHandle(layer, nullptr, view.pRgn, L_RGN_SET);
    else
        L_FreeBitmapRgn(layer);
    return SUCCESS;
}
