#include "ColorPalette.h"

#include <algorithm>

namespace {

// The palette grid starts one pixel in from the left and two down, so 32 cells end just
// before the colour box and the rows leave two pixels above and below.
constexpr int kGridLeft = 1;
constexpr int kGridTop = 2;
constexpr int kBarWidth = 421;
constexpr int kMinHeight = 48;
constexpr RECT kBox{290, 0, 338, 48};
constexpr RECT kForeground{296, 6, 320, 30};
constexpr RECT kBackground{308, 18, 332, 42};
constexpr int kCustomLeft = 347, kCustomTop = 2, kCustomSize = 18, kCustomPitch = 27;

bool Inside(const RECT& r, int x, int y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

} // namespace

TCustomColors& SharedCustomColors() {
    static TCustomColors colors = [] {
        TCustomColors c;
        c.fill(RGB(255, 255, 255));
        return c;
    }();
    return colors;
}

TColorPalette::TColorPalette() {
    RGBQUAD fixed[256];
    if (L_GetFixedPalette(fixed, 8) == SUCCESS) SetColors(fixed, 256);
}

void TColorPalette::SetColors(const RGBQUAD* colors, int count) {
    count = std::clamp(count, 0, kMaxColors);
    colors_.clear();
    for (int i = 0; i < count; ++i)
        colors_.push_back(RGB(colors[i].rgbRed, colors[i].rgbGreen, colors[i].rgbBlue));
    Changed();
}

void TColorPalette::SetForegroundColor(COLORREF c) {
    fg_ = c;
    Changed();
}

void TColorPalette::SetBackgroundColor(COLORREF c) {
    bg_ = c;
    Changed();
}

void TColorPalette::SetVertical(bool vertical) {
    vertical_ = vertical;
    Changed();
}

int TColorPalette::DesiredWidth() const {
    return vertical_ ? std::max(kMinHeight, kCellSize * Rows() + 4) : kBarWidth;
}

int TColorPalette::DesiredHeight() const {
    return vertical_ ? kBarWidth : std::max(kMinHeight, kCellSize * Rows() + 4);
}

RECT TColorPalette::Place(RECT r) const {
    if (vertical_) return RECT{r.top, r.left, r.bottom, r.right};
    return r;
}

RECT TColorPalette::CellRect(int index) const {
    const int x = kGridLeft + (index % kCellsPerRow) * kCellSize;
    const int y = kGridTop + (index / kCellsPerRow) * kCellSize;
    return Place(RECT{x, y, x + kCellSize, y + kCellSize});
}

RECT TColorPalette::CustomCellRect(int index) const {
    const int x = kCustomLeft + (index % 3) * kCustomPitch;
    const int y = kCustomTop + (index / 3) * kCustomPitch;
    return Place(RECT{x, y, x + kCustomSize, y + kCustomSize});
}

RECT TColorPalette::BoxRect() const { return Place(kBox); }
RECT TColorPalette::ForegroundRect() const { return Place(kForeground); }
RECT TColorPalette::BackgroundRect() const { return Place(kBackground); }

TColorPalette::THit TColorPalette::HitTest(int x, int y) const {
    // Work in the horizontal layout.
    if (vertical_) std::swap(x, y);
    if (x >= kGridLeft && y >= kGridTop) {
        const int col = (x - kGridLeft) / kCellSize;
        const int row = (y - kGridTop) / kCellSize;
        const int index = row * kCellsPerRow + col;
        if (col < kCellsPerRow && index < ColorCount()) return {TPart::Cell, index};
    }
    for (int i = 0; i < kCustomCells; ++i) {
        const int cx = kCustomLeft + (i % 3) * kCustomPitch;
        const int cy = kCustomTop + (i / 3) * kCustomPitch;
        if (Inside(RECT{cx, cy, cx + kCustomSize, cy + kCustomSize}, x, y))
            return {TPart::CustomCell, i};
    }
    // The foreground square is drawn over the background square.
    if (Inside(kForeground, x, y)) return {TPart::Foreground, -1};
    if (Inside(kBackground, x, y)) return {TPart::Background, -1};
    return {};
}

void TColorPalette::Pick(TButton button, const THit& hit, bool dragging) {
    COLORREF c;
    if (hit.Part == TPart::Cell)
        c = Color(hit.Index);
    else if (hit.Part == TPart::CustomCell)
        c = CustomColor(hit.Index);
    else
        return;
    if (button == TButton::Right) {
        if (c != bg_) SetBackgroundColor(c);
        return;
    }
    // A click always hands the colour to the view (its tool may have been given another
    // since); a drag only when the colour under the mouse changes.
    if (dragging && c == fg_) return;
    SetForegroundColor(c);
    if (onForeground_) onForeground_(c);
}

void TColorPalette::ButtonDown(TButton button, int x, int y) {
    dragging_ = true;
    dragButton_ = button;
    Pick(button, HitTest(x, y), false);
}

void TColorPalette::MouseMove(int x, int y) {
    if (dragging_) Pick(dragButton_, HitTest(x, y), true);
}

void TColorPalette::ButtonUp() { dragging_ = false; }

void TColorPalette::DoubleClick(int x, int y) {
    if (HitTest(x, y).Part != TPart::Foreground) return;
    dragging_ = false;
    COLORREF c = fg_;
    if (!CommonDialogs().ChooseColor(c, SharedCustomColors())) {
        Changed(); // the custom colours may have been edited all the same
        return;
    }
    SetForegroundColor(c);
    if (onForeground_) onForeground_(c);
}

void TColorPalette::Changed() const {
    if (onChange_) onChange_();
}
