// The software device context: GDI-style drawing into a toolkit bitmap of any depth.
//
// The program draws on layers, masks and the view's backing store with the same calls a
// Windows program makes on a screen. Pixel rules follow GDI: a filled rectangle covers
// left..right-1 and top..bottom-1, an ellipse is inscribed in its bounding rectangle, a line
// leaves out its last point, and polygons are filled by pixel centres.
//
// Colours are COLORREFs. On a bitmap of 8 bits or less a colour maps to the nearest palette
// entry, or to the index itself with PALETTEINDEX. Drawing never changes the alpha byte of a
// 32-bit pixel (callers bracket drawing with alpha save/restore where they need to).
//
// Pens: PS_DOT (one on, one off) and PS_DASH (18 on, 6 off) apply to one-pixel pens; wider
// pens draw solid with round ends and joins, and a wide line from a point to itself is a
// round dab. A one-pixel line from a point to itself draws nothing, as in GDI. Every
// primitive touches each pixel at most once, so XOR drawing repeated erases itself. The ROP2
// applies to pens, brushes and the fills (FillRect, FillRgn, FrameRgn), not to SetPixel.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Toolkit.h"

// Pen styles.
enum : int {
    PS_SOLID = 0,
    PS_DASH = 1,
    PS_DOT = 2,
    PS_NULL = 5,
    PS_INSIDEFRAME = 6, // like solid, but rectangles and ellipses keep the whole pen inside
};

// Brush styles.
enum : int {
    BS_SOLID = 0,
    BS_HOLLOW = 1, // also BS_NULL
};

// Binary raster operations (ROP2).
enum : int {
    R2_BLACK = 1,
    R2_NOT = 6,
    R2_XORPEN = 7,
    R2_COPYPEN = 13,
    R2_WHITE = 16,
};

// Polygon fill modes.
enum : int {
    ALTERNATE = 1,
    WINDING = 2,
};

// Background modes (for dotted pens: gaps take the background colour when OPAQUE).
enum : int {
    TRANSPARENT = 1,
    OPAQUE = 2,
};

// Ternary raster operations for L_PaintDC.
enum : uint32_t {
    SRCCOPY = 0x00CC0020,
    SRCINVERT = 0x00660046, // source XOR destination
    SRCAND = 0x008800C6,
    SRCPAINT = 0x00EE0086,
};

struct LPEN {
    int style = PS_SOLID;
    int width = 1;
    COLORREF color = 0;
};

struct LBRUSH {
    int style = BS_SOLID;
    COLORREF color = 0;
};

// Stock objects.
inline constexpr LPEN kBlackPen{PS_SOLID, 1, RGB(0, 0, 0)};
inline constexpr LPEN kWhitePen{PS_SOLID, 1, RGB(255, 255, 255)};
inline constexpr LPEN kNullPen{PS_NULL, 1, 0};
inline constexpr LBRUSH kBlackBrush{BS_SOLID, RGB(0, 0, 0)};
inline constexpr LBRUSH kWhiteBrush{BS_SOLID, RGB(255, 255, 255)};
inline constexpr LBRUSH kHollowBrush{BS_HOLLOW, 0};

struct POINT {
    int x = 0, y = 0;
};

inline constexpr COLORREF CLR_INVALID = 0xFFFFFFFFu;

struct SIZE {
    int cx = 0, cy = 0;
};

// Fonts. A face name is looked up with fontconfig; names of the Windows core fonts ("Arial",
// "Times New Roman", "MS Sans Serif", "Courier New") go to their metric-compatible Liberation
// families first, and any name falls back to DejaVu Sans, so creating a font fails only when
// no font at all is installed. Faces, sizes and rendered glyphs are cached for the process,
// so creating the same font again while the user types costs a table look-up.
enum : int { FW_NORMAL = 400, FW_BOLD = 700 };

struct LOGFONT {
    // Below 0: the character height (the em) in pixels; above 0: the cell height (ascent plus
    // descent); 0: a 12-pixel em. Heights beyond 2048 pixels are taken as 2048.
    int lfHeight = 0;
    int lfWeight = FW_NORMAL; // FW_BOLD and above draw bold
    bool lfItalic = false;
    bool lfUnderline = false;
    std::string lfFaceName;
};

struct TEXTMETRIC {
    int tmHeight = 0; // tmAscent + tmDescent, the distance between two lines
    int tmAscent = 0;
    int tmDescent = 0;
    int tmEmHeight = 0; // the em size in pixels the font was made at
};

struct LFONT;
using HFONT = LFONT*;
// Null only when no font could be opened at all. Free with DeleteFont.
HFONT CreateFontIndirect(const LOGFONT& lf);
void DeleteFont(HFONT font);
// The family the font was found as (e.g. "Liberation Serif" for "Times New Roman"), for
// widgets that must show the same face.
std::string GetFontFamily(HFONT font);
// The font's line metrics (all zero for a null font).
TEXTMETRIC GetFontMetrics(HFONT font);

// A drawing context on one bitmap. It does not own the bitmap; the bitmap must outlive it.
struct LDEVICE {
    explicit LDEVICE(BITMAPHANDLE* target);
    ~LDEVICE();
    LDEVICE(const LDEVICE&) = delete;
    LDEVICE& operator=(const LDEVICE&) = delete;

    BITMAPHANDLE* Target() const { return target_; }

    // Objects and modes; each setter returns the previous value.
    LPEN SelectPen(const LPEN& pen);
    LBRUSH SelectBrush(const LBRUSH& brush);
    int SetROP2(int rop2);
    int SetPolyFillMode(int mode);
    COLORREF SetBkColor(COLORREF color);
    int SetBkMode(int mode);
    COLORREF SetTextColor(COLORREF color);
    const LPEN& Pen() const;
    const LBRUSH& Brush() const;
    int ROP2() const;

    // As in GDI, device coordinates are logical coordinates plus the viewport origin.
    POINT SetViewportOrg(int x, int y);
    POINT GetViewportOrg() const;

    // Clipping. Without a clip region the whole bitmap is drawable. As in GDI, the region
    // given to SelectClipRgn is in device coordinates (the context keeps a copy; null removes
    // clipping), while IntersectClipRect and ExcludeClipRect take logical coordinates.
    // The target bitmap's own region plays no part.
    void SelectClipRgn(HRGN rgn);
    void IntersectClipRect(const RECT& rc);
    void ExcludeClipRect(const RECT& rc);
    // The clip region in device coordinates, or null when drawing is not clipped.
    const LRegion* ClipRegion() const;

    // The state stack: pen, brush, modes, colours, viewport origin, clip, current position.
    int SaveDC();              // returns the new depth (>= 1)
    bool RestoreDC(int saved); // saved = a value SaveDC returned, or -n for the n-th last one

    // Drawing (logical coordinates).
    POINT MoveTo(int x, int y); // returns the previous current position
    void LineTo(int x, int y);  // draws from the current position, excluding (x, y)
    // The brush fills left..right-1 x top..bottom-1 (corners in either order; with PS_NULL
    // too); a one-pixel pen runs along the border pixels of that area.
    void Rectangle(int left, int top, int right, int bottom);
    void Ellipse(int left, int top, int right, int bottom);
    void Polygon(const POINT* pts, int count);
    void Polyline(const POINT* pts, int count);
    void FillRect(const RECT& rc, const LBRUSH& brush);
    void FillRgn(HRGN rgn, const LBRUSH& brush);
    // Paints a border of width w and height h inside the edge of the region.
    void FrameRgn(HRGN rgn, const LBRUSH& brush, int w, int h);
    // SetPixel writes the colour as it is (ROP2 does not apply); GetPixel gives CLR_INVALID
    // outside the bitmap or the clip.
    void SetPixel(int x, int y, COLORREF color);
    COLORREF GetPixel(int x, int y) const;

    // Text. The font is not owned (it must outlive its selection); without one a 12-pixel
    // DejaVu Sans is used. Text is UTF-8 (invalid bytes draw as U+FFFD); (x, y) is the
    // top-left corner of the first character's cell. Glyphs are antialiased into 24 and
    // 32-bit targets in the text colour (alpha kept); shallower targets get the colour
    // where the coverage is at least half. OPAQUE fills the cell with the background
    // colour first. The ROP2 plays no part, as in GDI.
    HFONT SelectFont(HFONT font);
    HFONT Font() const;
    bool TextOut(int x, int y, std::string_view text);
    // The advance width and the cell height of the text in the selected font.
    bool GetTextExtentPoint(std::string_view text, SIZE* size) const;
    bool GetTextMetrics(TEXTMETRIC* tm) const;

    struct State;
    struct Impl;

private:
    BITMAPHANDLE* target_;
    std::unique_ptr<Impl> impl_;
};
using HDC = LDEVICE*;

// Saves the context's state on construction and restores it on destruction.
class TDCStateGuard {
public:
    explicit TDCStateGuard(HDC dc) : dc_(dc), saved_(dc->SaveDC()) {}
    ~TDCStateGuard() { dc_->RestoreDC(saved_); }
    TDCStateGuard(const TDCStateGuard&) = delete;
    TDCStateGuard& operator=(const TDCStateGuard&) = delete;

private:
    HDC dc_;
    int saved_;
};

// A device context on a bitmap (null when the bitmap is not allocated). Free with L_DeleteLeadDC.
HDC L_CreateLeadDC(BITMAPHANDLE* b);
L_INT L_DeleteLeadDC(HDC dc);

// Stretches the source rectangle of a bitmap (null: all of it), restricted to a source clip
// (null: none), onto the destination rectangle of the context (logical coordinates; null:
// the bitmap's size at the origin), restricted to a destination clip (null: none) and to the
// context's clip. Nearest-neighbour sampling; the source is palette-resolved and mapped to the
// destination's depth. rop: SRCCOPY, SRCINVERT (XOR), SRCAND or SRCPAINT.
L_INT L_PaintDC(HDC dc, const BITMAPHANDLE* b, const RECT* src, const RECT* srcClip,
                const RECT* dst, const RECT* dstClip, uint32_t rop);
// The same, but only the pixels inside the bitmap's region are painted.
L_INT L_PaintRgnDC(HDC dc, const BITMAPHANDLE* b, const RECT* src, const RECT* srcClip,
                   const RECT* dst, const RECT* dstClip, uint32_t rop);
// Draws the outline of the bitmap's region (transformed by pXForm onto the context) as a
// "marching ants" line: boundary pixels alternate black and white in dashes of 4 along the
// outline, shifted by frameStyle, so that advancing frameStyle makes the ants march. Without a
// region nothing is drawn.
L_INT L_FrameBitmapRgn(HDC dc, const BITMAPHANDLE* b, const RGNXFORM* pXForm, L_INT frameStyle);
