// The text tool: drag a rectangle, type into an edit box floating over the image there,
// and the text goes into the current layer (or a new "Text" layer) at the next press or
// when the tool changes. Esc drops it.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ShapeTools.h"
#include "TextEdit.h"

class TLayer;

// Text style flags.
enum : int {
    TEXT_BOLD = 0x01,
    TEXT_ITALIC = 0x02,
    TEXT_UNDERLINE = 0x04,
    TEXT_AS_LAYER = 0x10,
    TEXT_CENTER = 0x40,
    TEXT_RIGHT = 0x80,
};

inline constexpr int kTextLimit = 8192;
// The width of the frame's sizing border, and its smallest outer size.
inline constexpr int kTextFrameBorder = 4;
inline constexpr int kTextFrameMin = 30;

// One laid-out line: bytes [begin, end) of the text at (x, y).
struct TTextLine {
    size_t Begin = 0, End = 0;
    int X = 0, Y = 0, Width = 0, Height = 0;
};

// Lays text out in rc with the context's font: lines break at "\n", "\r" and their pairs,
// and at the last word start before the line gets wider than rc (inside a word that has
// no start on the line, and always after at least one character). Lines that would pass
// rc's bottom are left out; *overflow says whether any were.
std::vector<TTextLine> LayoutText(HDC dc, std::string_view text, const RECT& rc, int align,
                                  bool* overflow = nullptr);

// The font's em in pixels for a size in points at a resolution (dots per inch).
int PointsToPixels(int points, int dpi);

class TTextPaintTool;

// The frame over the image holding the edit box. Its rectangle is kept in content
// coordinates (the view's scrolled logical coordinates), so it stays on the image when
// the view scrolls.
class TTextFrame : public ITextEditEvents {
public:
    // content: the outer rectangle in content coordinates.
    TTextFrame(TTextPaintTool& tool, const RECT& content);
    ~TTextFrame() override;
    TTextFrame(const TTextFrame&) = delete;
    TTextFrame& operator=(const TTextFrame&) = delete;

    // pixels: the em of the font the frame shows (the tool's size at the view's zoom).
    void SetFont(const std::string& face, int pixels, int style);
    void SetColor(COLORREF color);
    void SetAlign(int align);
    // The text area (inside the border) in content coordinates, and in image coordinates.
    RECT ContentTextRect() const;
    RECT GetTextRect(double zoom, int originX, int originY) const;
    // Draws the text laid out in the text rectangle taken to image coordinates, in the
    // frame's colour, with font (null: the frame's); *out gets the rectangle in those
    // coordinates.
    void DrawText(HDC dc, double zoom, int originX, int originY, RECT* out,
                  HFONT font = nullptr) const;
    // The overlay: border, grips and the text, on the view's content-coordinate context.
    void Paint(HDC dc, const RECT& rc);
    // Puts the edit box where the frame is on the client area now.
    void Place();
    void Invalidate() const;

    ITextEdit& Edit() { return *edit_; }
    const std::string& Text() const { return text_; }
    HFONT Font() const { return font_; }
    RECT ContentRect() const { return rect_; }

    void OnTextChanged() override;
    void OnEscape() override;
    void OnMaxText(bool pasted) override;
    void OnBorderMouse(TBorder phase, POINT client) override;
    int BorderHit(POINT client) const override;

private:
    POINT ScrollOffset() const;
    // Lays the text out as it is drawn, tells the edit box where the lines break and, with
    // BreaksAndGrow, grows the frame a line at a time until the text fits.
    enum class TReflow { Breaks, BreaksAndGrow };
    void Reflow(TReflow what);
    void SetRect(const RECT& r);

    TTextPaintTool& tool_;
    std::unique_ptr<ITextEdit> edit_;
    std::string text_;
    RECT rect_;
    HFONT font_ = nullptr;
    COLORREF color_ = 0;
    int align_ = 0;
    int sizeMoveState_ = 0; // 0 idle, else the border part being dragged
    POINT dragStart_{};
    RECT rectAtStart_{};
    POINT placedScroll_{-1, -1};
};

class TTextPaintTool : public TFramePaintTool {
public:
    explicit TTextPaintTool(const TPaintToolSetup& s);
    // A frame still open is committed.
    ~TTextPaintTool() override;

    bool Track(int x, int y, bool constrain, int button) override;
    bool Begin() override;
    bool IsFinished() override;
    int GetKind() const override { return PAINT_TEXT; }
    int GetStatusText(std::string& text) override;
    void Paint(HDC dc, const RECT& rc) override;
    bool Notify(int code) override;
    void DrawBand(HDC dc) override;
    POINT ConstrainPoint(int x, int y) override;

    // The options bar's changes while a frame is open.
    void SetFont(const std::string& face, int size, int style);
    void SetColor(COLORREF color);
    void SetAlign(int align);
    void SetStyle(int style);

    // Draws the text into the image and closes the frame.
    void Commit();
    // Closes the frame without drawing (Esc).
    void Cancel();

    TTextFrame* Frame() const { return frame_.get(); }
    TImageView* GetView() const { return View; }
    double GetZoom() const { return Zoom; }
    // The em in pixels for the tool's size at the image's resolution, times zoom.
    int FontPixels(double zoom) const;

    COLORREF Color;
    std::string Face;
    int Size;
    int Style;
    bool Selecting = true;

private:
    void CommitAsLayer(TLayer& background);
    void CommitIntoLayer(TLayer& layer);
    std::unique_ptr<TTextFrame> frame_;
};

// Installs the maker of the text kind.
void RegisterTextTool();
