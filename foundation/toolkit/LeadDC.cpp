// The software device context: GDI drawing rules on toolkit bitmaps of every depth.
//
// Every primitive is first rasterised into coverage: sorted horizontal spans in device
// coordinates, with the brush's pixels, the pen's pixels and (for styled pens drawn
// OPAQUE) the gap pixels made disjoint. Only then is it painted through the clip. A
// painted coverage touches each pixel once, which is what lets XOR drawing (rubber bands,
// the selection outline) erase itself exactly when drawn a second time, whatever the
// shape's corners, joins and self-crossings do.
//
// All sixteen ROP2 modes reduce, for a fixed pen colour, to d = (d AND keep) XOR flip on
// the colour bits, so one span painter serves every mode at every depth and never touches
// an alpha byte.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <utility>

#include "Rasterize.h"
#include "TextRender.h"

struct LDEVICE::State {
    LPEN pen = kBlackPen; // GDI's defaults
    LBRUSH brush = kWhiteBrush;
    int rop2 = R2_COPYPEN;
    int fillMode = ALTERNATE;
    COLORREF bkColor = RGB(255, 255, 255);
    int bkMode = OPAQUE;
    COLORREF textColor = RGB(0, 0, 0);
    HFONT font = nullptr; // not owned
    POINT org;
    POINT pos; // logical
    bool hasClip = false;
    LRegion clip; // device coordinates
};

struct LDEVICE::Impl {
    State cur;
    std::vector<State> saved;
};

using namespace lt::raster;

// ---------------------------------------------------------------------------
// The context.

namespace {

// Paints a coverage in one colour with a ROP2 through the context's clip.
void PaintSpans(const LDEVICE& dc, const Spans& spans, COLORREF color, int rop2) {
    if (spans.empty()) return;
    BITMAPHANDLE* t = dc.Target();
    if (!lt::IsDrawable(t)) return;
    const int bpp = t->BitsPerPixel;
    uint32_t keep, flip;
    Rop2Masks(rop2, lt::ColorToValue(t, color), lt::ColorMask(bpp), &keep, &flip);
    lt::ForEachClipped(spans, lt::DrawableBounds(&dc), dc.ClipRegion(), [&](int y, int x0, int x1) {
        lt::ApplySpan(bpp, L_RowPtr(t, y), x0, x1, keep, flip);
    });
}

P64 ToDevice(const LDEVICE::State& s, int64_t x, int64_t y) {
    return P64{x + s.org.x, y + s.org.y};
}

// Points in device coordinates; false when one is out of range.
bool DevicePoints(const LDEVICE::State& s, const POINT* pts, int count, std::vector<P64>& out) {
    out.resize(size_t(count));
    for (int i = 0; i < count; ++i) {
        out[size_t(i)] = ToDevice(s, pts[i].x, pts[i].y);
        if (!InLimits(out[size_t(i)])) return false;
    }
    return true;
}

// A rectangle from two corners in either order, in device coordinates.
Box DeviceBox(const LDEVICE::State& s, int left, int top, int right, int bottom) {
    const P64 a = ToDevice(s, left, top), b = ToDevice(s, right, bottom);
    return Box{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
}

// A device rectangle in logical coordinates, grown by (mx, my) on every side.
RECT ToLogical(const LDEVICE::State& s, const RECT& r, int64_t mx, int64_t my) {
    auto c = [](int64_t v) {
        return int(std::clamp<int64_t>(v, -(int64_t(1) << 30), int64_t(1) << 30));
    };
    return RECT{c(int64_t(r.left) - s.org.x - mx), c(int64_t(r.top) - s.org.y - my),
                c(int64_t(r.right) - s.org.x + mx), c(int64_t(r.bottom) - s.org.y + my)};
}

bool BoxInLimits(const Box& b) { return InLimits(P64{b.l, b.t}) && InLimits(P64{b.r, b.b}); }

// Pens wider than this are taken as this wide; it keeps the ellipse arithmetic in range.
constexpr int kMaxPenWidth = 1 << 16;
int PenWidth(const LPEN& p) { return std::clamp(p.width, 1, kMaxPenWidth); }
bool PenVisible(const LPEN& p) { return p.style != PS_NULL; }
// Cosmetic styles apply to one-pixel pens; wider pens draw solid, as in GDI.
int PenPattern(const LPEN& p) {
    return PenWidth(p) == 1 && (p.style == PS_DOT || p.style == PS_DASH) ? p.style : PS_SOLID;
}

Stroke NewStroke(const LDEVICE::State& s) {
    Stroke st;
    st.style = PenPattern(s.pen);
    st.keepGaps = st.style != PS_SOLID && s.bkMode == OPAQUE;
    return st;
}

// Strokes a path with the pen. Thin pens leave out the last point of every segment (so a
// closed path visits each vertex once); wide pens join round capsules.
void StrokePath(const LDEVICE::State& s, const std::vector<P64>& pts, bool closed,
                const RECT& bounds, Stroke& st) {
    const size_t n = pts.size();
    const size_t segments = closed ? n : n - 1;
    const int w = PenWidth(s.pen);
    for (size_t i = 0; i < segments; ++i) {
        const P64 a = pts[i], b = pts[(i + 1) % n];
        if (w == 1)
            ThinLine(a, b, bounds, st);
        else
            Capsule(a, b, w, bounds, st.on);
    }
    Normalize(st.on.spans);
    Normalize(st.gaps.spans);
}

// Paints a shape: the brush over its interior less the pen's pixels, then the gaps, then
// the pen, so that no pixel is painted twice.
void PaintShape(const LDEVICE& dc, const LDEVICE::State& s, const Spans* fill, Stroke& st) {
    Spans gaps = Subtract(st.gaps.spans, st.on.spans);
    if (fill && s.brush.style != BS_HOLLOW)
        PaintSpans(dc, Subtract(*fill, Union(st.on.spans, gaps)), s.brush.color, s.rop2);
    PaintSpans(dc, gaps, s.bkColor, s.rop2);
    PaintSpans(dc, st.on.spans, s.pen.color, s.rop2);
}

template <class F>
void Guarded(F&& f) {
    try {
        f();
    } catch (const std::bad_alloc&) {
        // Drawing is best effort, as on a screen: out of memory leaves the picture as it was.
    }
}

} // namespace

LDEVICE::LDEVICE(BITMAPHANDLE* target) : target_(target), impl_(std::make_unique<Impl>()) {}

// The unique_ptr is emptied before it is destroyed and Impl deleted here, where it is
// complete: the deleter's instantiation is then never asked to delete anything.
LDEVICE::~LDEVICE() = default;

LPEN LDEVICE::SelectPen(const LPEN& pen) { return std::exchange(impl_->cur.pen, pen); }
LBRUSH LDEVICE::SelectBrush(const LBRUSH& brush) { return std::exchange(impl_->cur.brush, brush); }

int LDEVICE::SetROP2(int rop2) {
    if (rop2 < 1 || rop2 > 16) return 0;
    return std::exchange(impl_->cur.rop2, rop2);
}

int LDEVICE::SetPolyFillMode(int mode) {
    if (mode != ALTERNATE && mode != WINDING) return 0;
    return std::exchange(impl_->cur.fillMode, mode);
}

COLORREF LDEVICE::SetBkColor(COLORREF color) { return std::exchange(impl_->cur.bkColor, color); }

int LDEVICE::SetBkMode(int mode) {
    if (mode != TRANSPARENT && mode != OPAQUE) return 0;
    return std::exchange(impl_->cur.bkMode, mode);
}

COLORREF LDEVICE::SetTextColor(COLORREF color) {
    return std::exchange(impl_->cur.textColor, color);
}
HFONT LDEVICE::SelectFont(HFONT font) { return std::exchange(impl_->cur.font, font); }
HFONT LDEVICE::Font() const { return impl_->cur.font ? impl_->cur.font : lt::DefaultFont(); }

bool LDEVICE::GetTextExtentPoint(std::string_view text, SIZE* size) const {
    lt::TextLine line;
    if (!size || !lt::MeasureText(Font(), text, &line)) return false;
    *size = SIZE{line.width, line.ascent + line.descent};
    return true;
}

bool LDEVICE::GetTextMetrics(TEXTMETRIC* tm) const {
    HFONT font = Font();
    if (!tm || !font) return false;
    *tm = GetFontMetrics(font);
    return true;
}

bool LDEVICE::TextOut(int x, int y, std::string_view text) {
    const State& s = impl_->cur;
    HFONT font = Font();
    lt::TextLine line;
    if (!lt::MeasureText(font, text, &line)) return false;
    const P64 d = ToDevice(s, x, y);
    const int64_t w = line.width, h = line.ascent + line.descent;
    if (!InLimits(d) || !InLimits(P64{d.x + w, d.y + h})) return false;
    Guarded([&] {
        const RECT bounds = lt::DrawableBounds(this);
        if (s.bkMode == OPAQUE) {
            SpanSink cell;
            for (int64_t row = d.y; row < d.y + h; ++row)
                cell.AddClamped(row, d.x, d.x + w, bounds);
            PaintSpans(*this, cell.spans, s.bkColor, R2_COPYPEN);
        }
        lt::BlendGlyphs(*this, font, int(d.x), int(d.y + line.ascent), text, s.textColor);
        if (line.underline) {
            SpanSink bar;
            const int64_t top = d.y + line.ascent + line.underlineOffset;
            for (int64_t row = top; row < top + line.underlineThickness; ++row)
                bar.AddClamped(row, d.x, d.x + w, bounds);
            PaintSpans(*this, bar.spans, s.textColor, R2_COPYPEN);
        }
    });
    return true;
}

const LPEN& LDEVICE::Pen() const { return impl_->cur.pen; }
const LBRUSH& LDEVICE::Brush() const { return impl_->cur.brush; }
int LDEVICE::ROP2() const { return impl_->cur.rop2; }

POINT LDEVICE::SetViewportOrg(int x, int y) { return std::exchange(impl_->cur.org, POINT{x, y}); }
POINT LDEVICE::GetViewportOrg() const { return impl_->cur.org; }

void LDEVICE::SelectClipRgn(HRGN rgn) {
    State& s = impl_->cur;
    Guarded([&] {
        if (!rgn) {
            s.hasClip = false;
            s.clip = LRegion{};
            return;
        }
        s.clip = *rgn;
        s.hasClip = true;
    });
}

void LDEVICE::IntersectClipRect(const RECT& rc) {
    State& s = impl_->cur;
    const P64 a = ToDevice(s, rc.left, rc.top), b = ToDevice(s, rc.right, rc.bottom);
    auto clampi = [](int64_t v) {
        return int(std::clamp<int64_t>(v, -lt::kDcCoordLimit, lt::kDcCoordLimit));
    };
    const RECT dev{clampi(a.x), clampi(a.y), clampi(b.x), clampi(b.y)};
    Guarded([&] {
        if (!s.hasClip) {
            const RECT full = target_ ? lt::FullRect(target_) : RECT{};
            s.clip = LRegion::FromRect(IntersectRect(dev, full));
            s.hasClip = true;
        } else {
            s.clip = s.clip.Intersected(dev);
        }
    });
}

void LDEVICE::ExcludeClipRect(const RECT& rc) {
    State& s = impl_->cur;
    const P64 a = ToDevice(s, rc.left, rc.top), b = ToDevice(s, rc.right, rc.bottom);
    auto clampi = [](int64_t v) {
        return int(std::clamp<int64_t>(v, -lt::kDcCoordLimit, lt::kDcCoordLimit));
    };
    const RECT dev{clampi(a.x), clampi(a.y), clampi(b.x), clampi(b.y)};
    Guarded([&] {
        if (!s.hasClip) {
            s.clip = LRegion::FromRect(target_ ? lt::FullRect(target_) : RECT{});
            s.hasClip = true;
        }
        s.clip = LRegion::Combine(s.clip, LRegion::FromRect(dev), L_RGN_ANDNOTRGN);
    });
}

const LRegion* LDEVICE::ClipRegion() const {
    return impl_->cur.hasClip ? &impl_->cur.clip : nullptr;
}

int LDEVICE::SaveDC() {
    impl_->saved.push_back(impl_->cur);
    return int(impl_->saved.size());
}

bool LDEVICE::RestoreDC(int saved) {
    const int64_t depth = int64_t(impl_->saved.size());
    // A positive value is a depth SaveDC returned; a negative one counts back from the last.
    const int64_t index = saved > 0 ? int64_t(saved) - 1 : depth + saved;
    if (saved == 0 || index < 0 || index >= depth) return false;
    impl_->cur = std::move(impl_->saved[size_t(index)]);
    impl_->saved.resize(size_t(index));
    return true;
}

POINT LDEVICE::MoveTo(int x, int y) { return std::exchange(impl_->cur.pos, POINT{x, y}); }

void LDEVICE::LineTo(int x, int y) {
    const State& s = impl_->cur;
    const POINT from = s.pos;
    impl_->cur.pos = POINT{x, y};
    Polyline(std::array<POINT, 2>{from, POINT{x, y}}.data(), 2);
}

void LDEVICE::Polyline(const POINT* pts, int count) {
    const State& s = impl_->cur;
    if (!pts || count < 2 || !PenVisible(s.pen)) return;
    const RECT bounds = lt::DrawableBounds(this);
    if (IsEmptyRect(bounds)) return;
    Guarded([&] {
        std::vector<P64> dev;
        if (!DevicePoints(s, pts, count, dev)) return;
        Stroke st = NewStroke(s);
        StrokePath(s, dev, false, bounds, st);
        PaintShape(*this, s, nullptr, st);
    });
}

void LDEVICE::Rectangle(int left, int top, int right, int bottom) {
    const State& s = impl_->cur;
    const Box box = DeviceBox(s, left, top, right, bottom);
    const RECT bounds = lt::DrawableBounds(this);
    if (box.Empty() || !BoxInLimits(box) || IsEmptyRect(bounds)) return;
    Guarded([&] {
        Stroke st = NewStroke(s);
        const int w = PenWidth(s.pen);
        if (PenVisible(s.pen)) {
            if (w > 1 && s.pen.style == PS_INSIDEFRAME) {
                // A square frame w wide just inside the box.
                const Box inner = box.Inflated(-w);
                const int64_t y0 = std::max<int64_t>(box.t, bounds.top),
                              y1 = std::min<int64_t>(box.b, bounds.bottom);
                for (int64_t y = y0; y < y1; ++y) {
                    if (inner.Empty() || y < inner.t || y >= inner.b) {
                        st.on.AddClamped(y, box.l, box.r, bounds);
                    } else {
                        st.on.AddClamped(y, box.l, inner.l, bounds);
                        st.on.AddClamped(y, inner.r, box.r, bounds);
                    }
                }
            } else {
                // Thin pens: the border pixels of the filled area, walked clockwise. Wide
                // pens: round-joined strokes centred on them.
                const std::vector<P64> corners{
                    {box.l, box.t}, {box.r - 1, box.t}, {box.r - 1, box.b - 1}, {box.l, box.b - 1}};
                StrokePath(s, corners, true, bounds, st);
            }
        }
        SpanSink fill;
        if (s.brush.style != BS_HOLLOW) FillBox(box, bounds, fill);
        PaintShape(*this, s, &fill.spans, st);
    });
}

void LDEVICE::Ellipse(int left, int top, int right, int bottom) {
    const State& s = impl_->cur;
    const Box box = DeviceBox(s, left, top, right, bottom);
    const RECT bounds = lt::DrawableBounds(this);
    if (box.Empty() || !BoxInLimits(box) || IsEmptyRect(bounds)) return;
    Guarded([&] {
        Stroke st = NewStroke(s);
        const int w = PenWidth(s.pen);
        if (PenVisible(s.pen)) {
            if (w == 1) {
                if (st.style == PS_SOLID) {
                    EllipseOutline(box, bounds, st.on);
                } else {
                    // The pattern runs around the whole outline so that it does not shift
                    // with the clip; only a huge ellipse is cut to the visible part first.
                    const bool whole = box.r - box.l <= 65536 && box.b - box.t <= 65536;
                    RECT rows = bounds;
                    if (whole) rows = RECT{int(box.l), int(box.t), int(box.r), int(box.b)};
                    SpanSink outline;
                    EllipseOutline(box, rows, outline);
                    Normalize(outline.spans);
                    Stroke all = st;
                    StyleEllipseOutline(outline.spans, box, all);
                    auto cut = [&](const Spans& in, SpanSink& out) {
                        for (const RgnSpan& sp : in) out.AddClamped(sp.y, sp.x0, sp.x1, bounds);
                    };
                    cut(all.on.spans, st.on);
                    cut(all.gaps.spans, st.gaps);
                }
            } else {
                // A ring between two concentric ellipses w apart: inside the box for
                // PS_INSIDEFRAME, otherwise centred where the one-pixel outline would be.
                const Box outer = s.pen.style == PS_INSIDEFRAME ? box : box.Inflated(w / 2);
                const Box inner = outer.Inflated(-w);
                const int64_t y0 = std::max<int64_t>(outer.t, bounds.top),
                              y1 = std::min<int64_t>(outer.b, bounds.bottom);
                for (int64_t y = y0; y < y1; ++y) {
                    int64_t a, b, c, d;
                    if (!EllipseRow(outer, y, &a, &b)) continue;
                    if (!EllipseRow(inner, y, &c, &d)) {
                        st.on.AddClamped(y, a, b, bounds);
                    } else {
                        st.on.AddClamped(y, a, c, bounds);
                        st.on.AddClamped(y, d, b, bounds);
                    }
                }
            }
            Normalize(st.on.spans);
            Normalize(st.gaps.spans);
        }
        SpanSink fill;
        if (s.brush.style != BS_HOLLOW) FillEllipse(box, bounds, fill);
        PaintShape(*this, s, &fill.spans, st);
    });
}

void LDEVICE::Polygon(const POINT* pts, int count) {
    const State& s = impl_->cur;
    if (!pts || count < 2) return;
    const RECT bounds = lt::DrawableBounds(this);
    if (IsEmptyRect(bounds)) return;
    Guarded([&] {
        std::vector<P64> dev;
        if (!DevicePoints(s, pts, count, dev)) return;
        Stroke st = NewStroke(s);
        if (PenVisible(s.pen)) StrokePath(s, dev, true, bounds, st);
        SpanSink fill;
        if (s.brush.style != BS_HOLLOW && count >= 3) {
            FillPolygon(dev, s.fillMode, bounds, fill);
            Normalize(fill.spans);
        }
        PaintShape(*this, s, &fill.spans, st);
    });
}

void LDEVICE::FillRect(const RECT& rc, const LBRUSH& brush) {
    const State& s = impl_->cur;
    if (brush.style == BS_HOLLOW) return;
    const P64 a = ToDevice(s, rc.left, rc.top), b = ToDevice(s, rc.right, rc.bottom);
    const RECT bounds = lt::DrawableBounds(this);
    Guarded([&] {
        SpanSink fill;
        FillBox(Box{a.x, a.y, b.x, b.y}, bounds, fill);
        PaintSpans(*this, fill.spans, brush.color, s.rop2);
    });
}

void LDEVICE::FillRgn(HRGN rgn, const LBRUSH& brush) {
    const State& s = impl_->cur;
    if (!rgn || brush.style == BS_HOLLOW) return;
    const RECT bounds = lt::DrawableBounds(this);
    if (IsEmptyRect(bounds)) return;
    Guarded([&] {
        LRegion r = rgn->Intersected(ToLogical(s, bounds, 0, 0));
        r.Offset(s.org.x, s.org.y);
        PaintSpans(*this, r.spans, brush.color, s.rop2);
    });
}

void LDEVICE::FrameRgn(HRGN rgn, const LBRUSH& brush, int w, int h) {
    const State& s = impl_->cur;
    if (!rgn || brush.style == BS_HOLLOW || w < 1 || h < 1) return;
    const RECT bounds = lt::DrawableBounds(this);
    if (IsEmptyRect(bounds)) return;
    Guarded([&] {
        // Only what lies within w, h of the visible part can matter.
        LRegion r = rgn->Intersected(ToLogical(s, bounds, w, h));
        // The interior is the region eroded by a (2w - 1) x (2h - 1) box: first along
        // rows, then by intersecting the rows h - 1 above and below.
        LRegion eroded;
        for (const RgnSpan& sp : r.spans) {
            const int64_t x0 = int64_t(sp.x0) + (w - 1), x1 = int64_t(sp.x1) - (w - 1);
            if (x0 < x1) eroded.spans.push_back(RgnSpan{sp.y, int(x0), int(x1)});
        }
        LRegion interior = eroded;
        for (int k = 1; k < h && !interior.Empty(); ++k) {
            LRegion up = eroded, down = eroded;
            up.Offset(0, k);
            down.Offset(0, -k);
            interior = LRegion::Combine(LRegion::Combine(interior, up, L_RGN_AND), down, L_RGN_AND);
        }
        LRegion frame = LRegion::Combine(r, interior, L_RGN_ANDNOTRGN);
        frame.Offset(s.org.x, s.org.y);
        PaintSpans(*this, frame.spans, brush.color, s.rop2);
    });
}

void LDEVICE::SetPixel(int x, int y, COLORREF color) {
    const State& s = impl_->cur;
    const P64 p = ToDevice(s, x, y);
    const RECT bounds = lt::DrawableBounds(this);
    if (p.x < bounds.left || p.x >= bounds.right || p.y < bounds.top || p.y >= bounds.bottom)
        return;
    if (s.hasClip && !s.clip.Contains(int(p.x), int(p.y))) return;
    lt::ApplySpan(target_->BitsPerPixel, L_RowPtr(target_, int(p.y)), int(p.x), int(p.x) + 1, 0,
                  lt::ColorToValue(target_, color));
}

COLORREF LDEVICE::GetPixel(int x, int y) const {
    const State& s = impl_->cur;
    const P64 p = ToDevice(s, x, y);
    const RECT bounds = lt::DrawableBounds(this);
    if (p.x < bounds.left || p.x >= bounds.right || p.y < bounds.top || p.y >= bounds.bottom)
        return CLR_INVALID;
    if (s.hasClip && !s.clip.Contains(int(p.x), int(p.y))) return CLR_INVALID;
    const lt::BGRA c = lt::ReadPixel(target_, L_RowPtr(target_, int(p.y)), int(p.x));
    return RGB(c.r, c.g, c.b);
}

HDC L_CreateLeadDC(BITMAPHANDLE* b) {
    if (!lt::IsDrawable(b)) return nullptr;
    try {
        return new LDEVICE(b);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

L_INT L_DeleteLeadDC(HDC dc) {
    if (!dc) return ERROR_INV_PARAMETER;
    delete dc;
    return SUCCESS;
}
