#include "BrushTools.h"

#include <strings.h>
#include <algorithm>
#include <cmath>

#include "Effects.h"
#include "ImageData.h"
#include "ImageView.h"
#include "MessageBox.h"
#include "PaintToolFactory.h"
#include "ToolOptions.h"

namespace {

bool IsPaintableDirectly(const TLayer& l, bool gray) { return l.BitsPerPixel == 32 || gray; }

// A colour as the blends take it on this layer: the gray level itself on a gray layer.
COLORREF LayerColor(COLORREF c, bool gray) { return gray ? COLORREF(Lx_RGBtoGS(c)) : c; }

int Trunc(double v) { return int(std::trunc(v)); }

class TBrushPaintTool : public TInstantPaintTool {
public:
    TBrushPaintTool(const TPaintToolSetup& s, const TStrokeSettings& st)
        : TInstantPaintTool(s, st), color_(LayerColor(s.Foreground, Gray())) {
        // A palette layer has no levels between its entries for a soft edge to fade
        // through: the brush draws a crisp pen line there, in the nearest entry.
        if (!Layer() || IsPaintableDirectly(*Layer(), Gray())) return;
        dc_ = L_CreateLeadDC(Layer());
        if (!dc_) return; // the soft dabs still work
        HRGN rgn = nullptr;
        if (L_BitmapHasRgn(Layer()) > 0 &&
            L_GetBitmapRgnHandle(Layer(), nullptr, &rgn) == SUCCESS) {
            dc_->SelectClipRgn(rgn);
            L_DeleteRgn(rgn);
        }
        dc_->SelectPen(LPEN{PS_SOLID, Size(), color_});
    }
    ~TBrushPaintTool() override {
        if (dc_) L_DeleteLeadDC(dc_);
    }
    TBrushPaintTool(const TBrushPaintTool&) = delete;
    TBrushPaintTool& operator=(const TBrushPaintTool&) = delete;
    int GetKind() const override { return PAINT_BRUSH; }

protected:
    void Dab(double x, double y) override {
        AlphaBlendBmpWithColor(Layer(), x, y, Size(), Size(), color_, Mask(), Size());
    }
    bool Segment(POINT from, POINT to) override {
        if (!dc_) return false;
        if (from.x != to.x || from.y != to.y || Size() > 1) {
            dc_->MoveTo(from.x, from.y);
            dc_->LineTo(to.x, to.y); // a wide pen from a point to itself is a round dab
        }
        // A one-pixel line leaves its end out (and a point to itself draws nothing); the
        // pointer's pixel is painted all the same, so a click or the stroke's end shows.
        if (Size() == 1) dc_->SetPixel(to.x, to.y, color_);
        return true;
    }

private:
    COLORREF color_;
    HDC dc_ = nullptr;
};

class TAirbrushPaintTool : public TInstantPaintTool {
public:
    TAirbrushPaintTool(const TPaintToolSetup& s, const TStrokeSettings& st, bool dissolve)
        : TInstantPaintTool(s, st), color_(LayerColor(s.Foreground, Gray())) {
        // Spraying whole pixels is what a palette layer can take.
        useDissolve_ = dissolve || (Layer() && !IsPaintableDirectly(*Layer(), Gray()));
    }
    int GetKind() const override { return PAINT_AIRBRUSH; }

    // Paint keeps building up under a resting pointer: one dab a tick after the first.
    void Tick(bool released) override {
        if (sprayTicks_ != 0 && !released && Ready()) {
            SetFlushing(true);
            RestartPath();
            TrackLayerPoint(LastPoint().x, LastPoint().y);
            SetFlushing(false);
        }
        ++sprayTicks_;
    }

protected:
    void Dab(double x, double y) override {
        if (useDissolve_)
            DissolveBlendBmpWithColor(Layer(), Trunc(x), Trunc(y), Size(), Size(), color_, Mask(),
                                      Size());
        else
            AlphaBlendBmpWithColor(Layer(), x, y, Size(), Size(), color_, Mask(), Size());
        if (!Flushing()) sprayTicks_ = 0;
    }

private:
    COLORREF color_;
    bool useDissolve_ = false;
    int sprayTicks_ = 0;
};

// Carries the pixels under the brush along the path: a sample taken at the first dab is
// mixed with what lies under each later dab and laid back down.
class TSmudgePaintTool : public TInstantPaintTool {
public:
    TSmudgePaintTool(const TPaintToolSetup& s, const TStrokeSettings& st)
        : TInstantPaintTool(s, st), color_(LayerColor(s.Background, Gray())) {}
    ~TSmudgePaintTool() override {
        if (sample_.Flags.Allocated) L_FreeBitmap(&sample_);
    }
    int GetKind() const override { return PAINT_SMUDGE; }

protected:
    void Dab(double x, double y) override {
        if (firstDab_) {
            if (CopyBitmapRect(&sample_, Layer(), Lx_Round(x), Lx_Round(y), Size(), Size(),
                               color_) != SUCCESS)
                return;
            if (!Gray()) InsertAlpha(&sample_, Mask());
            firstDab_ = false;
            return;
        }
        const int ix = Trunc(x), iy = Trunc(y);
        AlphaBlendBitmaps(&sample_, Layer(), ix, iy, color_, Gray() ? Mask() : nullptr);
        InsertBitmapRect(Layer(), &sample_, ix, iy, sample_.Width, sample_.Height, 0, 0, 0);
    }

private:
    COLORREF color_;
    BITMAPHANDLE sample_{};
    bool firstDab_ = true;
};

// Paints back the picture the history brush was chosen over (the state after the last
// change, which choosing the tool undid).
class TEffectPaintTool : public TInstantPaintTool {
public:
    TEffectPaintTool(const TPaintToolSetup& s, const TStrokeSettings& st)
        : TInstantPaintTool(s, st), color_(LayerColor(s.Foreground, Gray())) {
        // The source only changes when the tool is chosen again, which ends this stroke
        // first, so the layer is read in place rather than copied for every stroke.
        if (TLayeredImage* source = Data ? Data->HistorySource() : nullptr) {
            TLayer* l = source->Layers.At(Data->Image.GetCurrentIndex());
            if (l && l->IsAllocated()) history_ = l;
        }
    }
    int GetKind() const override { return PAINT_HISTORY_BRUSH; }
    bool HasSource() const { return history_ != nullptr; }

protected:
    void Dab(double x, double y) override {
        const int ix = Lx_Round(x), iy = Lx_Round(y);
        BITMAPHANDLE patch{};
        if (CopyBitmapRect(&patch, history_, ix, iy, Size(), Size(), color_) != SUCCESS) return;
        AlphaBlendBitmapRects(Layer(), ix, iy, patch.Width, patch.Height, &patch, 0, 0, Mask(),
                              Gray());
        L_FreeBitmap(&patch);
    }

private:
    COLORREF color_;
    TLayer* history_ = nullptr;
};

bool SamePath(const std::string& a, const std::string& b) {
    return !a.empty() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

// The view the clone origin was set in, or another view of its document; null when the
// document is no longer open. An untitled document is only found through its own view.
TImageView* CloneSourceView() {
    const TCloneSource& src = CloneSource();
    if (src.Origin.x == kNoPoint) return nullptr;
    TImageView* v = TImageView::FindView(src.ViewId);
    if (v && v->GetImageData() &&
        (src.DocPath.empty() || SamePath(v->GetDocument().GetDocPath(), src.DocPath)))
        return v;
    for (TImageView* other : TImageView::AllViews())
        if (other->GetImageData() && SamePath(other->GetDocument().GetDocPath(), src.DocPath))
            return other;
    return nullptr;
}

// Half the length of the source marker's arms, in window pixels.
constexpr int kMarkerArm = 10;

// The source marker: a cross inverted over the picture, so drawing it twice removes it.
// m is in the scroller's content coordinates; only the part inside clip is drawn.
void InvertCross(HDC dc, POINT m, const RECT& clip) {
    TDCStateGuard guard(dc);
    dc->SetROP2(R2_NOT);
    dc->SelectPen(LPEN{PS_SOLID, 1, RGB(0, 0, 0)});
    auto arm = [&](int x0, int y0, int x1, int y1) { // half-open, horizontal or vertical
        x0 = std::max(x0, int(clip.left)), y0 = std::max(y0, int(clip.top));
        x1 = std::min(x1, int(clip.right)), y1 = std::min(y1, int(clip.bottom));
        if (x0 >= x1 || y0 >= y1) return;
        dc->MoveTo(x0, y0);
        if (x1 - x0 > 1)
            dc->LineTo(x1, y0);
        else
            dc->LineTo(x0, y1);
    };
    arm(m.x - kMarkerArm, m.y, m.x + kMarkerArm + 1, m.y + 1);
    // The vertical arm leaves the centre out, which the horizontal one already inverted.
    arm(m.x, m.y - kMarkerArm, m.x + 1, m.y);
    arm(m.x, m.y + 1, m.x + 1, m.y + kMarkerArm + 1);
}

class TClonePaintTool;
// The clone brush that drew the marker last (one stroke runs at a time).
TClonePaintTool* markerOwner = nullptr;

class TClonePaintTool : public TInstantPaintTool {
public:
    TClonePaintTool(const TPaintToolSetup& s, const TStrokeSettings& st, bool aligned)
        : TInstantPaintTool(s, st), aligned_(aligned) {}
    ~TClonePaintTool() override {
        // A stroke can end without IsFinished (another tool chosen, the window reset): the
        // marker must not stay behind in the source window.
        if (markerShown_) ToggleMarker();
        if (markerOwner == this) markerOwner = nullptr;
    }
    TClonePaintTool(const TClonePaintTool&) = delete;
    TClonePaintTool& operator=(const TClonePaintTool&) = delete;
    int GetKind() const override { return PAINT_CLONE; }

    bool IsFinished() override {
        if (markerShown_) ToggleMarker();
        return true;
    }
    // A repaint of the source window, whichever window the stroke is in, painted the
    // picture over the part of the marker inside rc: invert that part again, so that the
    // next inversion removes the whole marker instead of leaving half of it behind.
    void RepaintMarker(int viewNumber, HDC dc, const RECT& rc) const {
        if (markerShown_ && viewNumber == sourceId_) InvertCross(dc, marker_, rc);
    }

    bool Track(int x, int y, bool constrain, int button) override {
        if (!Ready()) return false;
        if (state_ == kNew) state_ = button == 2 ? kSettingOrigin : kPaintRequested;
        TCloneSource& src = CloneSource();
        if (offset_.x == kNoPoint && button == 0) {
            offset_ = POINT{x - Layer()->X, y - Layer()->Y};
            if (aligned_ && View) {
                if (View->CloneOffset.x != kNoPoint && View->CloneOffsetOrigin.x == src.Origin.x &&
                    View->CloneOffsetOrigin.y == src.Origin.y) {
                    offset_ = View->CloneOffset;
                } else {
                    View->CloneOffset = offset_;
                    View->CloneOffsetOrigin = src.Origin;
                }
            }
        }
        if (state_ == kSettingOrigin) {
            src.Origin = POINT{x, y};
            src.ViewId = View ? View->GetViewNumber() : -1;
            src.DocPath = View ? View->GetDocument().GetDocPath() : std::string();
            return true;
        }
        if (state_ == kPaintRequested) {
            TImageView* source = CloneSourceView();
            if (!source) {
                src.Origin = POINT{kNoPoint, kNoPoint};
                MessageBoxHost().Show("Please select an origin by right-clicking on the image",
                                      "Quillo", TMbButtons::Ok, TMbIcon::None);
                return false;
            }
            sourceId_ = source->GetViewNumber();
            // The source picture must show every change made so far, even in a window
            // that has not been painted since.
            TLayeredImage& image = source->GetImageData()->Image;
            if (TLayer* bg = image.GetBackground())
                image.Recompose(TPaintOptions{}, RECT{0, 0, bg->Width, bg->Height});
            state_ = kPainting;
        }
        return TInstantPaintTool::Track(x, y, constrain, button);
    }

protected:
    void Dab(double x, double y) override {
        // Looked up at each dab: the source window may have been closed meanwhile.
        TImageView* source = TImageView::FindView(sourceId_);
        if (!source || !source->GetImageData()) return;
        const BITMAPHANDLE& composite = source->GetImageData()->Image.Composite;
        const TCloneSource& src = CloneSource();
        const int ix = Lx_Round(x), iy = Lx_Round(y);
        const POINT from{ix + src.Origin.x - offset_.x, iy + src.Origin.y - offset_.y};
        AlphaBlendBitmapRects(Layer(), ix, iy, Size(), Size(), &composite, from.x, from.y, Mask(),
                              Gray());
        if (markerShown_) ToggleMarker();
        const int cx = from.x + Size() / 2, cy = from.y + Size() / 2;
        marker_ = POINT{int((cx + 0.5) * source->Zoom) + source->OriginX,
                        int((cy + 0.5) * source->Zoom) + source->OriginY};
        ToggleMarker();
    }

private:
    enum { kNew, kPaintRequested, kSettingOrigin, kPainting };
    bool aligned_;
    int state_ = kNew;
    POINT offset_{kNoPoint, kNoPoint};
    int sourceId_ = -1;
    bool markerShown_ = false;
    POINT marker_{}; // in the source window's content coordinates

    // Draws or removes the marker in the source window and shows the change.
    void ToggleMarker() {
        markerShown_ = !markerShown_;
        if (markerShown_) markerOwner = this;
        TImageView* source = TImageView::FindView(sourceId_);
        HDC dc = source ? source->Host().BackingDC() : nullptr;
        if (!dc) return;
        const TScrollState& sc = source->Host().Scroller();
        const int sx = sc.PosX * sc.UnitX, sy = sc.PosY * sc.UnitY;
        const RECT box{marker_.x - kMarkerArm, marker_.y - kMarkerArm, marker_.x + kMarkerArm + 1,
                       marker_.y + kMarkerArm + 1};
        {
            TDCStateGuard guard(dc);
            dc->SetViewportOrg(-sx, -sy);
            InvertCross(dc, marker_, box);
        }
        source->Host().ShowBackingStore(
            RECT{box.left - sx, box.top - sy, box.right - sx, box.bottom - sy});
    }
};

template <class T, class... A>
std::unique_ptr<TXPaintTool> Make(const TPaintToolSetup& s, const TStrokeSettings& st, A... a) {
    auto tool = std::make_unique<T>(s, st, a...);
    if (!tool->Ready()) return nullptr;
    return tool;
}

// The brush's width, soft edge and spacing, shared by the brush and the history brush.
TStrokeSettings BrushSettings(const TToolOptions& o) {
    TStrokeSettings st;
    st.Size = o.BrushWidth;
    st.SpacingPercent = o.BrushSpacing;
    st.Transparency = 2;
    st.Softness = o.BrushSoftEdge;
    return st;
}

const TToolOptions& OptionsOf(const TPaintToolSetup& s) {
    static const TToolOptions defaults;
    return s.Options ? *s.Options : defaults;
}

} // namespace

TCloneSource& CloneSource() {
    static TCloneSource source;
    return source;
}

void PaintCloneMarker(int viewNumber, HDC dc, const RECT& rc) {
    if (markerOwner) markerOwner->RepaintMarker(viewNumber, dc, rc);
}

void RegisterBrushTools() {
    SetPaintToolMaker(PAINT_BRUSH, [](const TPaintToolSetup& s) {
        const TToolOptions& o = OptionsOf(s);
        TStrokeSettings st = BrushSettings(o);
        st.Smooth = o.BrushSmooth;
        st.SubPixel = o.BrushAntialiased != 0;
        return Make<TBrushPaintTool>(s, st);
    });
    SetPaintToolMaker(PAINT_HISTORY_BRUSH,
                      [](const TPaintToolSetup& s) -> std::unique_ptr<TXPaintTool> {
                          const TToolOptions& o = OptionsOf(s);
                          TStrokeSettings st = BrushSettings(o);
                          st.Smooth = 3;
                          st.SubPixel = true;
                          // The smooth option shapes the edge here (an S-shaped fade).
                          st.Flag = o.BrushSmooth != 0;
                          auto tool = std::make_unique<TEffectPaintTool>(s, st);
                          if (!tool->Ready() || !tool->HasSource()) return nullptr;
                          return tool;
                      });
    SetPaintToolMaker(PAINT_AIRBRUSH, [](const TPaintToolSetup& s) {
        const TToolOptions& o = OptionsOf(s);
        TStrokeSettings st;
        st.Size = o.AirbrushWidth;
        st.SpacingPercent = o.AirbrushSpacing;
        st.Transparency = (100 - std::clamp(o.AirbrushPressure, 0, 100)) * 255 / 100;
        return Make<TAirbrushPaintTool>(s, st, o.AirbrushDissolve != 0);
    });
    SetPaintToolMaker(PAINT_SMUDGE, [](const TPaintToolSetup& s) -> std::unique_ptr<TXPaintTool> {
        const TToolOptions& o = OptionsOf(s);
        TStrokeSettings st;
        st.Size = o.SmudgeWidth;
        st.SpacingPercent = 1;
        st.Transparency = uint8_t(202 - 2 * std::clamp(o.SmudgePressure, 0, 100));
        st.Flag = 1;
        auto tool = std::make_unique<TSmudgePaintTool>(s, st);
        // Only whole bytes can be mixed; a palette layer has nothing to smudge between.
        if (!tool->Ready() || !IsPaintableDirectly(*s.Data->Image.GetCurrentLayer(), tool->Gray()))
            return nullptr;
        return tool;
    });
    SetPaintToolMaker(PAINT_CLONE, [](const TPaintToolSetup& s) {
        const TToolOptions& o = OptionsOf(s);
        TStrokeSettings st;
        st.Size = o.BrushWidth;
        st.SpacingPercent = o.CloneSpacing;
        st.Transparency = 1;
        return Make<TClonePaintTool>(s, st, o.CloneAligned != 0);
    });
}
