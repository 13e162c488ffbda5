// The colour palette bar's logic, without the window: where the palette cells, the
// foreground and background squares and the custom colour cells are, which colour a
// click picks, and the foreground/background pair the tools paint with. The Qt bar draws
// these rectangles and forwards the mouse here.
#pragma once

#include <functional>
#include <vector>

#include "CommonDialogs.h"
#include "Toolkit.h"

// The custom colours every colour chooser of the run shares; the palette's custom cells
// show the first nine. They start white.
TCustomColors& SharedCustomColors();

class TColorPalette {
public:
    enum class TPart { None, Cell, CustomCell, Foreground, Background };
    struct THit {
        TPart Part = TPart::None;
        int Index = -1; // the cell for Cell and CustomCell
    };
    enum class TButton { Left, Right };

    static constexpr int kMaxColors = 256;
    static constexpr int kCellSize = 9;
    static constexpr int kCellsPerRow = 32;
    static constexpr int kCustomCells = 9;

    // Starts with the toolkit's fixed 256-colour palette, black on white.
    TColorPalette();

    // The palette colours (at most 256 are kept).
    void SetColors(const RGBQUAD* colors, int count);
    int ColorCount() const { return int(colors_.size()); }
    COLORREF Color(int index) const { return colors_[size_t(index)]; }
    COLORREF CustomColor(int index) const { return SharedCustomColors()[size_t(index)]; }

    COLORREF ForegroundColor() const { return fg_; }
    COLORREF BackgroundColor() const { return bg_; }
    // Set from elsewhere (the eyedropper, the tool options): not reported back.
    void SetForegroundColor(COLORREF c);
    void SetBackgroundColor(COLORREF c);

    // Called with the new colour whenever the user picks a foreground colour here.
    void SetForegroundListener(std::function<void(COLORREF)> f) { onForeground_ = std::move(f); }
    // Called whenever anything shown changed (the window repaints).
    void SetChangeListener(std::function<void()> f) { onChange_ = std::move(f); }

    // Docked at the left or right the bar is upright: every rectangle is transposed.
    void SetVertical(bool vertical);
    bool IsVertical() const { return vertical_; }

    // Geometry in the bar's coordinates; right and bottom are exclusive.
    int Rows() const { return (ColorCount() + kCellsPerRow - 1) / kCellsPerRow; }
    int DesiredWidth() const;
    int DesiredHeight() const;
    RECT CellRect(int index) const;
    RECT CustomCellRect(int index) const;
    RECT BoxRect() const; // the sunken box around the two squares
    RECT ForegroundRect() const;
    RECT BackgroundRect() const;

    THit HitTest(int x, int y) const;

    // Mouse input. A press over a palette or custom cell picks the foreground (left) or
    // background (right) colour, and so does moving over cells with the button held.
    void ButtonDown(TButton button, int x, int y);
    void MouseMove(int x, int y);
    void ButtonUp();
    // A double click on the foreground square offers the colour chooser.
    void DoubleClick(int x, int y);

private:
    RECT Place(RECT r) const; // transposes when upright
    void Pick(TButton button, const THit& hit, bool dragging);
    void Changed() const;

    std::vector<COLORREF> colors_;
    COLORREF fg_ = RGB(0, 0, 0);
    COLORREF bg_ = RGB(255, 255, 255);
    bool vertical_ = false;
    bool dragging_ = false;
    TButton dragButton_ = TButton::Left;
    std::function<void(COLORREF)> onForeground_;
    std::function<void()> onChange_;
};
