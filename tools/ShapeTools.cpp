#include "ShapeTools.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "Effects.h"
#include "ImageData.h"
#include "ImageView.h"
#include "ToolOptions.h"

namespace {

// The band's pen: the workspace grey, so the XOR shows on light and dark pixels alike.
constexpr LPEN kBandPen{PS_SOLID, 1, RGB(171, 171, 171)};

constexpr POINT kEightWays[] = {{1024, 0},  {724, 724},   {0, 1024},  {-724, 724},
                                {-1024, 0}, {-724, -724}, {0, -1024}, {724, -724}};
constexpr POINT kDiagonals[] = {{724, 724}, {-724, 724}, {-724, -724}, {724, -724}};

// A pen width in whole pixels: halves up, never below one pixel.
int PenWidth(double width) { return std::max(1, int(width + 0.5)); }

// Antialiased drawing works on 32-bit and 8-bit gray layers; others go through the DC.
bool AllowsAntialiasing(TLayer& layer) {
    return layer.BitsPerPixel == 32 || (layer.BitsPerPixel == 8 && layer.IsGrayscale());
}

// A device context on a layer, clipped to the layer's shape, with the alpha of a rectangle
// kept: drawing on a 32-bit layer must not change how opaque the covered pixels are.
class TLayerDC {
public:
    TLayerDC(TLayer& layer, const RECT& keepAlpha) : layer_(layer) {
        dc_ = L_CreateLeadDC(&layer);
        if (!dc_) return;
        alpha_ = Lx_SaveBitmapAlpha(&layer, &keepAlpha);
        if (!alpha_) {
            L_DeleteLeadDC(dc_);
            dc_ = nullptr;
            return;
        }
        HRGN rgn = nullptr;
        if (L_BitmapHasRgn(&layer) > 0 && L_GetBitmapRgnHandle(&layer, nullptr, &rgn) == SUCCESS) {
            dc_->SelectClipRgn(rgn);
            L_DeleteRgn(rgn);
        }
    }
    ~TLayerDC() {
        if (!dc_) return;
        L_DeleteLeadDC(dc_);
        Lx_RestoreBitmapAlpha(&layer_, alpha_);
    }
    TLayerDC(const TLayerDC&) = delete;
    TLayerDC& operator=(const TLayerDC&) = delete;
    HDC get() const { return dc_; }

private:
    TLayer& layer_;
    HDC dc_ = nullptr;
    LxSavedAlpha* alpha_ = nullptr;
};

RECT Offset(RECT r, int dx, int dy) {
    return RECT{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

RECT Grow(RECT r, int by) { return RECT{r.left - by, r.top - by, r.right + by, r.bottom + by}; }

} // namespace

// ---------------------------------------------------------------------------
// The frame: two points and the band.

bool TFramePaintTool::Dragged() const {
    return Anchor.x != kUnsetPoint && Current.x != kUnsetPoint &&
           (Anchor.x != Current.x || Anchor.y != Current.y);
}

TLayer* TFramePaintTool::Target() const {
    if (!Data || Data->Image.Count() == 0) return nullptr;
    TLayer* layer = Data->Image.GetCurrentLayer();
    return layer && layer->IsAllocated() ? layer : nullptr;
}

void TFramePaintTool::InvalidateImage(const RECT& r) const {
    if (View) View->InvalidateClientRect(View->ImageToClientRect(r, true));
}

void TFramePaintTool::XorBand() {
    if (!View) return;
    IWindowHost& host = View->Host();
    HDC dc = host.BackingDC();
    if (!dc) return;
    const TScrollState& s = host.Scroller();
    {
        TDCStateGuard guard(dc);
        dc->SetViewportOrg(-s.PosX * s.UnitX, -s.PosY * s.UnitY);
        dc->SetROP2(R2_XORPEN);
        dc->SelectPen(kBandPen);
        dc->SelectBrush(kHollowBrush);
        dc->SetBkColor(RGB(0, 0, 0));
        DrawBand(dc);
    }
    const TSize client = host.GetClientSize();
    host.ShowBackingStore(RECT{0, 0, client.cx, client.cy});
}

bool TFramePaintTool::Track(int x, int y, bool constrain, int) {
    if (Anchor.x == kUnsetPoint) {
        Anchor = POINT{x, y};
        return true;
    }
    if (constrain) {
        const POINT p = ConstrainPoint(x, y);
        x = p.x;
        y = p.y;
    }
    if (Current.x != kUnsetPoint && BandDrawn) XorBand(); // erase the old one
    Current = POINT{x, y};
    XorBand();
    BandDrawn = true;
    return true;
}

POINT TFramePaintTool::Snap(int x, int y, const POINT* directions, int count) const {
    const long long dx = x - Anchor.x, dy = y - Anchor.y;
    int best = 0;
    long long bestDot = 0;
    for (int i = 0; i < count; ++i) {
        const long long dot = directions[i].x * dx + directions[i].y * dy;
        if (i == 0 || dot > bestDot) {
            best = i;
            bestDot = dot;
        }
    }
    const long long n = Lx_Round(std::hypot(double(dx), double(dy)));
    return POINT{Anchor.x + int(directions[best].x * n / 1024),
                 Anchor.y + int(directions[best].y * n / 1024)};
}

// ---------------------------------------------------------------------------
// Line.

TLinePaintTool::TLinePaintTool(const TPaintToolSetup& s)
    : TFramePaintTool(s.Zoom, s.OriginX, s.OriginY, s.Data, s.View),
      Width(s.Options ? s.Options->LineWidth : 1.0),
      Color(s.Foreground),
      Antialiased(s.Options ? s.Options->LineAntialiased != 0 : true) {}

POINT TLinePaintTool::ConstrainPoint(int x, int y) {
    return Snap(x, y, kEightWays, int(std::size(kEightWays)));
}

void TLinePaintTool::DrawBand(HDC dc) {
    dc->MoveTo(int((Anchor.x + 0.5) * Zoom + OriginX), int((Anchor.y + 0.5) * Zoom + OriginY));
    dc->LineTo(int((Current.x + 0.5) * Zoom + OriginX), int((Current.y + 0.5) * Zoom + OriginY));
}

int TLinePaintTool::GetStatusText(std::string& text) {
    text.clear();
    if (!Dragged()) return 0;
    const int dx = Current.x - Anchor.x, dy = Current.y - Anchor.y;
    double angle;
    if (dx == 0) {
        angle = dy < 0 ? 90.0 : 270.0; // y points down on the screen
    } else {
        angle = std::atan(-double(dy) / std::abs(dx)) * 180.0 / M_PI;
        if (dx < 0) angle = 180.0 - angle;
        if (angle < 0) angle += 360.0;
        if (angle == 0) angle = 0; // not "-0.00"
    }
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "(%d,%d) %dx%d angle %.2f", Anchor.x, Anchor.y,
                                std::abs(dx), std::abs(dy), angle);
    text = buf;
    return std::min(n, int(sizeof buf) - 1);
}

bool TLinePaintTool::IsFinished() {
    if (!Dragged()) return true;
    XorBand();
    BandDrawn = false;
    TLayer* layer = Target();
    if (!layer) return true;
    const POINT a{Anchor.x - layer->X, Anchor.y - layer->Y};
    const POINT b{Current.x - layer->X, Current.y - layer->Y};
    const RECT span{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x) + 1,
                    std::max(a.y, b.y) + 1};
    const int reach = int(Width / 2) + 2; // a wide line spreads around its axis
    if (Antialiased && AllowsAntialiasing(*layer) && Width > 0) {
        DrawAntialiasedLine(layer, a.x, a.y, b.x, b.y, Width, Color, layer->IsGrayscale());
    } else {
        // The keep-alpha rectangle covers the pen's whole reach, not just the two points.
        TLayerDC dc(*layer, Grow(span, reach));
        if (!dc.get()) return true;
        dc.get()->SelectPen(LPEN{PS_SOLID, PenWidth(Width), Color});
        // LineTo leaves its end out: go one pixel on along the line so it is painted.
        const double dx = b.x - a.x, dy = b.y - a.y, length = std::hypot(dx, dy);
        dc.get()->MoveTo(a.x, a.y);
        dc.get()->LineTo(b.x + Lx_Round(dx / length), b.y + Lx_Round(dy / length));
    }
    InvalidateImage(Offset(Grow(span, reach), layer->X, layer->Y));
    return true;
}

// ---------------------------------------------------------------------------
// Rectangle.

TRectanglePaintTool::TRectanglePaintTool(const TPaintToolSetup& s)
    : TRectanglePaintTool(s, s.Options ? s.Options->RectangleWidth : 1.0,
                          s.Options ? s.Options->RectangleFillStyle : 1) {}

TRectanglePaintTool::TRectanglePaintTool(const TPaintToolSetup& s, double width, int fillStyle)
    : TFramePaintTool(s.Zoom, s.OriginX, s.OriginY, s.Data, s.View),
      Width(width),
      FillStyle(fillStyle),
      FillColor(s.Background),
      OutlineColor(s.Foreground) {
    if (FillStyle == 2) {
        // Fill only: an outline of the fill's own colour, one pixel wide, is the fill's edge.
        FillStyle = 1;
        OutlineColor = FillColor;
        Width = 1.0;
    } else if (FillStyle != 1) {
        FillStyle = 0;
    }
}

POINT TRectanglePaintTool::ConstrainPoint(int x, int y) {
    return Snap(x, y, kDiagonals, int(std::size(kDiagonals)));
}

void TRectanglePaintTool::DrawBand(HDC dc) {
    const RECT r = ShapeRect();
    dc->Rectangle(int(r.left * Zoom + OriginX), int(r.top * Zoom + OriginY),
                  int(r.right * Zoom + OriginX), int(r.bottom * Zoom + OriginY));
}

int TRectanglePaintTool::GetStatusText(std::string& text) {
    text.clear();
    if (!Dragged()) return 0;
    const int dx = Current.x - Anchor.x, dy = Current.y - Anchor.y;
    const double ratio = dy == 0 ? 0.0 : std::abs(double(dx) / dy);
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "(%d,%d) %dx%d ratio %.3f", Anchor.x, Anchor.y, dx,
                                dy, ratio);
    text = buf;
    return std::min(n, int(sizeof buf) - 1);
}

RECT TRectanglePaintTool::ShapeRect() const {
    return RECT{std::min(Anchor.x, Current.x), std::min(Anchor.y, Current.y),
                std::max(Anchor.x, Current.x) + 1, std::max(Anchor.y, Current.y) + 1};
}

bool TRectanglePaintTool::DrawWithDC(TLayer& layer, const RECT& r, bool ellipse) {
    TLayerDC dc(layer, r);
    if (!dc.get()) return false;
    dc.get()->SelectPen(LPEN{PS_INSIDEFRAME, PenWidth(Width), OutlineColor});
    dc.get()->SelectBrush(FillStyle == 1 ? LBRUSH{BS_SOLID, FillColor} : kHollowBrush);
    if (ellipse)
        dc.get()->Ellipse(r.left, r.top, r.right, r.bottom);
    else
        dc.get()->Rectangle(r.left, r.top, r.right, r.bottom);
    return true;
}

bool TRectanglePaintTool::IsFinished() {
    if (!Dragged()) return true;
    XorBand();
    BandDrawn = false;
    TLayer* layer = Target();
    if (!layer) return true;
    const RECT r = ShapeRect();
    if (DrawWithDC(*layer, Offset(r, -layer->X, -layer->Y), false)) InvalidateImage(r);
    return true;
}

// ---------------------------------------------------------------------------
// Ellipse.

TEllipsePaintTool::TEllipsePaintTool(const TPaintToolSetup& s)
    : TRectanglePaintTool(s, s.Options ? s.Options->EllipseWidth : 1.0,
                          s.Options ? s.Options->EllipseFillStyle : 1),
      Antialiased(s.Options ? s.Options->EllipseAntialiased != 0 : true) {}

void TEllipsePaintTool::DrawBand(HDC dc) {
    const RECT r = ShapeRect();
    dc->Ellipse(int(r.left * Zoom + OriginX), int(r.top * Zoom + OriginY),
                int(r.right * Zoom + OriginX), int(r.bottom * Zoom + OriginY));
}

bool TEllipsePaintTool::IsFinished() {
    if (!Dragged()) return true;
    XorBand();
    BandDrawn = false;
    TLayer* layer = Target();
    if (!layer) return true;
    const RECT r = ShapeRect();
    const RECT lr = Offset(r, -layer->X, -layer->Y);
    // Antialiasing a tiny ellipse only blurs it: below 4 x 4 the DC draws it crisp.
    bool drawn;
    if (Antialiased && r.right - r.left >= 4 && r.bottom - r.top >= 4 && AllowsAntialiasing(*layer))
        drawn = DrawAntialiasedEllipse(layer, lr.left, lr.top, lr.right, lr.bottom, PenWidth(Width),
                                       OutlineColor, FillColor,
                                       FillStyle == 1 ? LX_ELLIPSE_FILLED : LX_ELLIPSE_OUTLINE,
                                       layer->IsGrayscale()) == SUCCESS;
    else
        drawn = DrawWithDC(*layer, lr, true);
    if (drawn) InvalidateImage(r);
    return true;
}

// ---------------------------------------------------------------------------

void RegisterShapeTools() {
    SetPaintToolMaker(PAINT_LINE, [](const TPaintToolSetup& s) -> std::unique_ptr<TXPaintTool> {
        return std::make_unique<TLinePaintTool>(s);
    });
    SetPaintToolMaker(PAINT_RECTANGLE,
                      [](const TPaintToolSetup& s) -> std::unique_ptr<TXPaintTool> {
                          return std::make_unique<TRectanglePaintTool>(s);
                      });
    SetPaintToolMaker(PAINT_ELLIPSE, [](const TPaintToolSetup& s) -> std::unique_ptr<TXPaintTool> {
        return std::make_unique<TEllipsePaintTool>(s);
    });
    SetPaintToolMaker(PAINT_FILL, MakeFillTool);
    SetPaintToolMaker(PAINT_EYEDROPPER, MakeEyedropper);
}
