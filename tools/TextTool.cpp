#include "TextTool.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "Effects.h"
#include "ImageData.h"
#include "ImageView.h"
#include "MessageBox.h"
#include "OwnedBitmap.h"
#include "ToolOptions.h"

namespace {

constexpr POINT kDiagonals[] = {{724, 724}, {-724, 724}, {-724, -724}, {724, -724}};
// The border's face, its outline and the grips.
constexpr COLORREF kBorderFace = RGB(212, 208, 200);
constexpr COLORREF kBorderEdge = RGB(96, 96, 96);
constexpr COLORREF kGrip = RGB(32, 32, 32);
// The move handle in each edge's middle, and the corner sizing zones, are this long.
constexpr int kGripLength = 3 * kTextFrameBorder;
// No frame grows past this height, however much is typed.
constexpr int kMaxFrameHeight = 1 << 15;

bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

RECT Offset(RECT r, int dx, int dy) {
    return RECT{r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

} // namespace

int PointsToPixels(int points, int dpi) {
    // MulDiv: the product in 64 bits, rounded half away from zero.
    const long long p = (long long)points * dpi;
    return int((p >= 0 ? p + 36 : p - 36) / 72);
}

std::vector<TTextLine> LayoutText(HDC dc, std::string_view text, const RECT& rc, int align,
                                  bool* overflow) {
    std::vector<TTextLine> lines;
    if (overflow) *overflow = false;
    TEXTMETRIC tm;
    if (!dc->GetTextMetrics(&tm)) return lines;
    SIZE space;
    dc->GetTextExtentPoint(" ", &space);
    const int width = rc.right - rc.left;
    const size_t n = text.size();
    int y = rc.top;
    size_t p = 0;
    while (p < n) {
        // Measure ever longer prefixes; the advances add up, so one character at a time.
        size_t i = p, wordStart = std::string_view::npos, count = 0;
        int w = 0;
        bool overflowed = false;
        while (i < n && !IsLineEnd(text[i])) {
            const size_t next = Utf8Next(text, i);
            SIZE ch;
            dc->GetTextExtentPoint(text.substr(i, next - i), &ch);
            if (i > p && text[i] != ' ' && text[i - 1] == ' ') wordStart = i;
            ++count;
            if (w + ch.cx > width) {
                overflowed = true;
                break;
            }
            w += ch.cx;
            i = next;
        }
        size_t cut = i;
        if (overflowed && wordStart != std::string_view::npos && text[i] != ' ' &&
            text[i - 1] != ' ' && count >= 2)
            cut = wordStart;
        // A character wider than the whole line still gets a line of its own: the layout
        // must move on.
        if (cut == p && overflowed) cut = Utf8Next(text, p);
        SIZE ext{0, tm.tmHeight};
        if (cut > p) dc->GetTextExtentPoint(text.substr(p, cut - p), &ext);
        const int h = cut > p ? ext.cy : space.cy;
        if (y + h > rc.bottom) {
            if (overflow) *overflow = true;
            break;
        }
        if (cut > p) {
            TTextLine line;
            line.Begin = p;
            line.End = cut;
            line.Width = ext.cx;
            line.Height = h;
            line.Y = y;
            if (align & TEXT_CENTER)
                line.X = rc.left + (width - ext.cx) / 2;
            else if (align & TEXT_RIGHT)
                line.X = rc.left + width - ext.cx - 1;
            else
                line.X = rc.left;
            lines.push_back(line);
        }
        y += h;
        p = cut;
        if (p < n && text[p] == ' ') ++p;
        if (p < n && IsLineEnd(text[p])) {
            const char first = text[p++];
            if (p < n && IsLineEnd(text[p]) && text[p] != first) ++p; // "\r\n" or "\n\r"
        }
    }
    return lines;
}

// ---------------------------------------------------------------------------
// The frame.

TTextFrame::TTextFrame(TTextPaintTool& tool, const RECT& content) : tool_(tool), rect_(content) {
    if (TImageView* view = tool_.GetView()) edit_ = view->Host().CreateTextEdit(this);
    if (!edit_) edit_ = std::make_unique<TTextEditModel>(this);
    edit_->SetLimit(kTextLimit);
    Place();
}

TTextFrame::~TTextFrame() {
    edit_.reset();
    DeleteFont(font_);
}

POINT TTextFrame::ScrollOffset() const {
    TImageView* view = tool_.GetView();
    if (!view) return POINT{};
    const TScrollState& s = view->Host().Scroller();
    return POINT{s.PosX * s.UnitX, s.PosY * s.UnitY};
}

void TTextFrame::Place() {
    const POINT s = ScrollOffset();
    placedScroll_ = s;
    edit_->SetGeometry(Offset(rect_, -s.x, -s.y), kTextFrameBorder);
}

void TTextFrame::Invalidate() const {
    TImageView* view = tool_.GetView();
    if (!view) return;
    const POINT s = ScrollOffset();
    view->InvalidateClientRect(Offset(rect_, -s.x, -s.y));
}

void TTextFrame::SetRect(const RECT& r) {
    Invalidate();
    rect_ = r;
    Place();
    Invalidate();
}

void TTextFrame::SetFont(const std::string& face, int pixels, int style) {
    LOGFONT lf;
    lf.lfHeight = -std::max(1, pixels);
    lf.lfWeight = (style & TEXT_BOLD) ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = (style & TEXT_ITALIC) != 0;
    lf.lfUnderline = (style & TEXT_UNDERLINE) != 0;
    lf.lfFaceName = face;
    HFONT font = CreateFontIndirect(lf);
    if (!font) return; // no font at all: the old one stays
    DeleteFont(font_);
    font_ = font;
    TEditFont ef;
    ef.Family = GetFontFamily(font_);
    ef.PixelHeight = GetFontMetrics(font_).tmEmHeight;
    // The layout moves down by the height it measures a line at.
    ef.LineHeight = GetFontMetrics(font_).tmHeight;
    if (TImageView* view = tool_.GetView())
        if (HDC dc = view->Host().BackingDC()) {
            TDCStateGuard guard(dc);
            dc->SelectFont(font_);
            SIZE space{};
            if (dc->GetTextExtentPoint(" ", &space) && space.cy > 0) ef.LineHeight = space.cy;
        }
    ef.Bold = lf.lfWeight >= FW_BOLD;
    ef.Italic = lf.lfItalic;
    edit_->SetFont(ef);
    Reflow(TReflow::BreaksAndGrow);
    Invalidate();
}

void TTextFrame::SetColor(COLORREF color) {
    color_ = color;
    edit_->SetColor(color);
    Invalidate();
}

void TTextFrame::SetAlign(int align) {
    align_ = align & (TEXT_CENTER | TEXT_RIGHT);
    edit_->SetAlignment(align_);
    edit_->Focus();
    Invalidate();
}

RECT TTextFrame::ContentTextRect() const {
    return RECT{rect_.left + kTextFrameBorder, rect_.top + kTextFrameBorder,
                rect_.right - kTextFrameBorder, rect_.bottom - kTextFrameBorder};
}

RECT TTextFrame::GetTextRect(double zoom, int originX, int originY) const {
    const RECT c = ContentTextRect();
    auto x = [&](int v) { return int(std::floor((v - originX) / zoom)); };
    auto y = [&](int v) { return int(std::floor((v - originY) / zoom)); };
    return RECT{x(c.left), y(c.top), x(c.right), y(c.bottom)};
}

void TTextFrame::DrawText(HDC dc, double zoom, int originX, int originY, RECT* out,
                          HFONT font) const {
    const RECT r = GetTextRect(zoom, originX, originY);
    if (out) *out = r;
    if (!dc) return;
    TDCStateGuard guard(dc);
    dc->SelectFont(font ? font : font_);
    dc->SetBkMode(TRANSPARENT);
    dc->SetTextColor(color_);
    dc->IntersectClipRect(r);
    const std::string_view text = text_;
    for (const TTextLine& line : LayoutText(dc, text, r, align_))
        dc->TextOut(line.X, line.Y, text.substr(line.Begin, line.End - line.Begin));
}

void TTextFrame::Paint(HDC dc, const RECT& rc) {
    const POINT s = ScrollOffset();
    if (s.x != placedScroll_.x || s.y != placedScroll_.y) Place();
    TDCStateGuard guard(dc);
    dc->IntersectClipRect(rc);
    const RECT t = ContentTextRect();
    const RECT bands[] = {{rect_.left, rect_.top, rect_.right, t.top},
                          {rect_.left, t.bottom, rect_.right, rect_.bottom},
                          {rect_.left, t.top, t.left, t.bottom},
                          {t.right, t.top, rect_.right, t.bottom}};
    for (const RECT& b : bands) dc->FillRect(b, LBRUSH{BS_SOLID, kBorderFace});
    dc->SelectPen(LPEN{PS_SOLID, 1, kBorderEdge});
    dc->SelectBrush(kHollowBrush);
    dc->Rectangle(rect_.left, rect_.top, rect_.right, rect_.bottom);
    // Eight grips: the corners and the middles of the edges.
    const int f = kTextFrameBorder;
    const int cx = (rect_.left + rect_.right - f) / 2, cy = (rect_.top + rect_.bottom - f) / 2;
    const POINT grips[] = {{rect_.left, rect_.top},      {cx, rect_.top},
                           {rect_.right - f, rect_.top}, {rect_.left, cy},
                           {rect_.right - f, cy},        {rect_.left, rect_.bottom - f},
                           {cx, rect_.bottom - f},       {rect_.right - f, rect_.bottom - f}};
    for (const POINT& g : grips) dc->FillRect(RECT{g.x, g.y, g.x + f, g.y + f}, {BS_SOLID, kGrip});
    DrawText(dc, 1.0, 0, 0, nullptr);
}

void TTextFrame::Reflow(TReflow what) {
    TImageView* view = tool_.GetView();
    HDC dc = view ? view->Host().BackingDC() : nullptr;
    if (!dc || !font_) return;
    TDCStateGuard guard(dc);
    dc->SelectFont(font_);
    RECT tall = ContentTextRect();
    tall.bottom = tall.top + kMaxFrameHeight;
    const std::vector<TTextLine> lines = LayoutText(dc, text_, tall, align_);
    // The edit box breaks where the picture does: wherever a line begins that no line end
    // began (a wrapped word, a cut inside a long one).
    std::vector<size_t> starts;
    for (const TTextLine& l : lines)
        if (l.Begin > 0 && !IsLineEnd(text_[l.Begin - 1])) starts.push_back(l.Begin);
    edit_->SetLineStarts(starts);
    if (what == TReflow::Breaks || lines.empty()) return;
    const int needed = lines.back().Y + lines.back().Height;
    const RECT t = ContentTextRect();
    if (needed <= t.bottom) return;
    // Whole lines at a time, as the edit box reports each line it cannot show.
    const int line = std::max(1, GetFontMetrics(font_).tmHeight);
    const int grow = (needed - t.bottom + line - 1) / line * line;
    RECT r = rect_;
    r.bottom = std::min(r.bottom + grow, r.top + kMaxFrameHeight);
    SetRect(r);
}

void TTextFrame::OnTextChanged() {
    Invalidate(); // where the old text was
    text_ = edit_->Text();
    Reflow(TReflow::BreaksAndGrow);
    Invalidate();
}

void TTextFrame::OnEscape() {
    // The view ends the tool, and with it this frame: nothing may follow.
    if (TImageView* view = tool_.GetView(); view && view->Tools())
        view->Tools()->Notify(NOTIFY_EDIT_ESCAPE);
}

void TTextFrame::OnMaxText(bool pasted) {
    if (pasted)
        MessageBoxHost().Show("Not enough room to paste the text", "Quillo", TMbButtons::Ok,
                              TMbIcon::Exclamation);
}

int TTextFrame::BorderHit(POINT client) const {
    const POINT s = ScrollOffset();
    const POINT p{client.x + s.x, client.y + s.y};
    const RECT t = ContentTextRect();
    const bool inside =
        p.x >= rect_.left && p.x < rect_.right && p.y >= rect_.top && p.y < rect_.bottom;
    if (!inside || (p.x >= t.left && p.x < t.right && p.y >= t.top && p.y < t.bottom)) return 0;
    const int cx = (rect_.left + rect_.right) / 2, cy = (rect_.top + rect_.bottom) / 2;
    const bool left = p.x < rect_.left + kGripLength, right = p.x >= rect_.right - kGripLength;
    const bool top = p.y < rect_.top + kGripLength, bottom = p.y >= rect_.bottom - kGripLength;
    if (top && left) return 6;
    if (top && right) return 7;
    if (bottom && left) return 8;
    if (bottom && right) return 9;
    const bool onTop = p.y < t.top, onBottom = p.y >= t.bottom;
    if (onTop || onBottom) {
        if (std::abs(p.x - cx) <= kGripLength / 2) return 1;
        return onTop ? 4 : 5;
    }
    if (std::abs(p.y - cy) <= kGripLength / 2) return 1;
    return p.x < t.left ? 2 : 3;
}

void TTextFrame::OnBorderMouse(TBorder phase, POINT client) {
    if (phase == TBorder::Press) {
        sizeMoveState_ = BorderHit(client);
        dragStart_ = client;
        rectAtStart_ = rect_;
        return;
    }
    if (sizeMoveState_ == 0) return;
    const int dx = client.x - dragStart_.x, dy = client.y - dragStart_.y;
    RECT r = rectAtStart_;
    const int hit = sizeMoveState_;
    if (hit == 1) {
        r = Offset(r, dx, dy);
    } else {
        if (hit == 2 || hit == 6 || hit == 8)
            r.left = std::min(r.left + dx, r.right - kTextFrameMin);
        if (hit == 3 || hit == 7 || hit == 9)
            r.right = std::max(r.right + dx, r.left + kTextFrameMin);
        if (hit == 4 || hit == 6 || hit == 7)
            r.top = std::min(r.top + dy, r.bottom - kTextFrameMin);
        if (hit == 5 || hit == 8 || hit == 9)
            r.bottom = std::max(r.bottom + dy, r.top + kTextFrameMin);
    }
    SetRect(r);
    if (r.right - r.left != rectAtStart_.right - rectAtStart_.left) Reflow(TReflow::Breaks);
    if (phase == TBorder::Release) {
        sizeMoveState_ = 0;
        Reflow(TReflow::BreaksAndGrow);
        edit_->Focus();
    }
}

// ---------------------------------------------------------------------------
// The tool.

TTextPaintTool::TTextPaintTool(const TPaintToolSetup& s)
    : TFramePaintTool(s.Zoom, s.OriginX, s.OriginY, s.Data, s.View),
      Color(s.Foreground),
      Face(s.Options ? s.Options->TextFace : "Times New Roman"),
      Size(s.Options ? s.Options->TextSize : 12),
      Style(s.Options ? (s.Options->TextStyle & ~(TEXT_CENTER | TEXT_RIGHT)) |
                            (s.Options->TextAlign & (TEXT_CENTER | TEXT_RIGHT))
                      : 0) {}

TTextPaintTool::~TTextPaintTool() { Commit(); }

bool TTextPaintTool::Track(int x, int y, bool constrain, int button) {
    if (!Selecting) return true;
    return TFramePaintTool::Track(x, y, constrain, button);
}

bool TTextPaintTool::Begin() {
    if (!Selecting && frame_) Commit();
    return true;
}

int TTextPaintTool::FontPixels(double zoom) const {
    int dpi = 96;
    if (Data && Data->Image.Count() > 0)
        if (const TLayer* bg = Data->Image.GetLayer(0); bg && bg->YResolution > 0)
            dpi = std::min<int>(bg->YResolution, 10000);
    return std::max(1, int(PointsToPixels(Size, dpi) * zoom));
}

bool TTextPaintTool::IsFinished() {
    if (!Selecting) return !frame_;
    if (!Dragged()) return true;
    if (BandDrawn) {
        XorBand();
        BandDrawn = false;
    }
    const RECT r{std::min(Anchor.x, Current.x), std::min(Anchor.y, Current.y),
                 std::max(Anchor.x, Current.x), std::max(Anchor.y, Current.y)};
    const int f = kTextFrameBorder;
    const int x = int(r.left * Zoom + OriginX - f), y = int(r.top * Zoom + OriginY - f);
    const int w = int((r.right - r.left + 1) * Zoom + 2 * f);
    const int h = int((r.bottom - r.top + 1) * Zoom + 2 * f);
    // The edit box takes the focus from the view, which finishes its gesture again: by
    // then the tool must already be past selecting, with its frame in place.
    Selecting = false;
    frame_ = std::make_unique<TTextFrame>(*this, RECT{x, y, x + w, y + h});
    frame_->SetColor(Color);
    frame_->SetFont(Face, FontPixels(Zoom), Style);
    frame_->SetAlign(Style & (TEXT_CENTER | TEXT_RIGHT));
    return false;
}

int TTextPaintTool::GetStatusText(std::string& text) {
    text.clear();
    if (!Dragged()) return 0;
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "%dx%d", std::abs(Current.x - Anchor.x),
                                std::abs(Current.y - Anchor.y));
    text = buf;
    return std::min(n, int(sizeof buf) - 1);
}

void TTextPaintTool::Paint(HDC dc, const RECT& rc) {
    if (frame_)
        frame_->Paint(dc, rc);
    else
        TFramePaintTool::Paint(dc, rc);
}

bool TTextPaintTool::Notify(int code) {
    switch (code) {
        case NOTIFY_ZOOM: return true; // the frame is laid out for this zoom
        case NOTIFY_EDIT_ESCAPE: Cancel(); return true;
        default: return false;
    }
}

void TTextPaintTool::DrawBand(HDC dc) {
    const int l = std::min(Anchor.x, Current.x), t = std::min(Anchor.y, Current.y);
    const int r = std::max(Anchor.x, Current.x) + 1, b = std::max(Anchor.y, Current.y) + 1;
    dc->Rectangle(int(l * Zoom + OriginX), int(t * Zoom + OriginY), int(r * Zoom + OriginX),
                  int(b * Zoom + OriginY));
}

POINT TTextPaintTool::ConstrainPoint(int x, int y) {
    return Snap(x, y, kDiagonals, int(std::size(kDiagonals)));
}

void TTextPaintTool::SetFont(const std::string& face, int size, int style) {
    Face = face;
    Size = size;
    const int kFontFlags = TEXT_BOLD | TEXT_ITALIC | TEXT_UNDERLINE;
    Style = (Style & ~kFontFlags) | (style & kFontFlags);
    if (frame_) frame_->SetFont(Face, FontPixels(Zoom), Style);
}

void TTextPaintTool::SetColor(COLORREF color) {
    Color = color;
    if (frame_) frame_->SetColor(color);
}

void TTextPaintTool::SetAlign(int align) {
    Style = (Style & ~(TEXT_CENTER | TEXT_RIGHT)) | (align & (TEXT_CENTER | TEXT_RIGHT));
    if (frame_) frame_->SetAlign(Style);
}

void TTextPaintTool::SetStyle(int style) {
    Style = (style & ~(TEXT_CENTER | TEXT_RIGHT)) | (Style & (TEXT_CENTER | TEXT_RIGHT));
    if (frame_) frame_->Invalidate();
}

void TTextPaintTool::Cancel() {
    if (!frame_) return;
    frame_->Invalidate();
    frame_.reset();
}

void TTextPaintTool::Commit() {
    if (!frame_) return;
    frame_->Invalidate(); // the border and the floating text go
    if (View) {
        OriginX = View->OriginX;
        OriginY = View->OriginY;
    }
    TLayer* layer = Target();
    if (layer && !frame_->Text().empty()) {
        if ((Style & TEXT_AS_LAYER) &&
            Data->Image.GetEffectiveChannelMode() == CHANNEL_AGGREGATED) {
            if (TLayer* bg = Data->Image.GetBackground()) CommitAsLayer(*bg);
        } else {
            CommitIntoLayer(*layer);
        }
    }
    frame_.reset();
}

namespace {

// The frame's font at the image's own scale, when the view shows it zoomed.
struct TRealFont {
    TRealFont(const TTextPaintTool& tool, const TTextFrame& frame) {
        if (tool.GetZoom() == 1.0) return;
        LOGFONT lf;
        lf.lfHeight = -tool.FontPixels(1.0);
        lf.lfWeight = (tool.Style & TEXT_BOLD) ? FW_BOLD : FW_NORMAL;
        lf.lfItalic = (tool.Style & TEXT_ITALIC) != 0;
        lf.lfUnderline = (tool.Style & TEXT_UNDERLINE) != 0;
        lf.lfFaceName = tool.Face;
        font = CreateFontIndirect(lf);
        (void)frame;
    }
    ~TRealFont() { DeleteFont(font); }
    TRealFont(const TRealFont&) = delete;
    TRealFont& operator=(const TRealFont&) = delete;
    HFONT font = nullptr;
};

} // namespace

void TTextPaintTool::CommitIntoLayer(TLayer& layer) {
    HDC dc = L_CreateLeadDC(&layer);
    if (!dc) return;
    HRGN rgn = nullptr;
    if (L_BitmapHasRgn(&layer) > 0 && L_GetBitmapRgnHandle(&layer, nullptr, &rgn) == SUCCESS) {
        dc->SelectClipRgn(rgn);
        L_DeleteRgn(rgn);
    }
    // Image coordinates: the layer sits at its offset. The context never changes alpha, so
    // the covered pixels stay as opaque as they were.
    dc->SetViewportOrg(-layer.X, -layer.Y);
    TRealFont real(*this, *frame_);
    RECT r{};
    frame_->DrawText(dc, Zoom, OriginX, OriginY, &r, real.font);
    L_DeleteLeadDC(dc);
    InvalidateImage(r);
}

void TTextPaintTool::CommitAsLayer(TLayer& background) {
    RECT r = frame_->GetTextRect(Zoom, OriginX, OriginY);
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return;
    const int bpp = background.BitsPerPixel;
    TOwnedBitmap text;
    if (L_CreateBitmap(text.get(), TYPE_CONV, w, h, bpp, ORDER_BGR,
                       bpp <= 8 ? background.pPalette : nullptr, TOP_LEFT) != SUCCESS)
        return;
    const bool deep = bpp > 8;
    L_FillBitmap(text.get(), deep ? RGB(255, 255, 255) : PALETTEINDEX(1));
    HDC dc = L_CreateLeadDC(text.get());
    if (!dc) return;
    dc->SetViewportOrg(-r.left, -r.top);
    TRealFont real(*this, *frame_);
    {
        // Black on white: the coverage becomes the alpha below.
        TTextFrame& f = *frame_;
        const COLORREF keep = Color;
        f.SetColor(deep ? RGB(0, 0, 0) : PALETTEINDEX(0));
        f.DrawText(dc, Zoom, OriginX, OriginY, nullptr, real.font);
        f.SetColor(keep);
    }
    L_DeleteLeadDC(dc);
    if (deep) {
        if (Lx_DematteBlack(text.get(), Color) != SUCCESS) return;
        if (Lx_SetBitmapRgnFromAlpha(text.get(), L_RGN_SET) != SUCCESS) return;
    } else {
        if (L_SetBitmapRgnColor(text.get(), PALETTEINDEX(0), L_RGN_SET) != SUCCESS) return;
        L_FillBitmap(text.get(), Color);
    }
    if (L_BitmapHasRgn(text.get()) <= 0) return; // nothing was drawn
    if (Data->Image.AddLayer(*text, "Text") != SUCCESS) return;
    if (TLayer* added = Data->Image.GetCurrentLayer()) {
        added->X += r.left;
        added->Y += r.top;
        InvalidateImage(
            RECT{added->X, added->Y, added->X + added->Width, added->Y + added->Height});
    }
    if (View) {
        View->LayerHandler().Notify(TLayerChange::Rebuild);
        View->Host().SetTimer(kAntsTimer, 1000);
    }
}

void RegisterTextTool() {
    SetPaintToolMaker(PAINT_TEXT, [](const TPaintToolSetup& s) -> std::unique_ptr<TXPaintTool> {
        return std::make_unique<TTextPaintTool>(s);
    });
}
