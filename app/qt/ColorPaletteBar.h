// The "Colors" tool bar: the colour palette gadget, drawn from TColorPalette's rectangles.
// Docked at the top or bottom it lies flat; at the left or right it stands upright.
#pragma once

#include <QToolBar>
#include <QWidget>

#include "ColorPalette.h"

// The gadget inside the bar: paints the palette and forwards the mouse to the logic.
class TColorPaletteGadget : public QWidget {
    Q_OBJECT
public:
    explicit TColorPaletteGadget(TColorPalette& palette, QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    TColorPalette& palette_;
};

class TColorPaletteBar : public QToolBar {
    Q_OBJECT
public:
    explicit TColorPaletteBar(QWidget* parent = nullptr);

    TColorPalette& Palette() { return palette_; }
    TColorPaletteGadget* Gadget() const { return gadget_; }

signals:
    // The user picked a foreground colour (a cell or the colour chooser).
    void ForegroundChanged(COLORREF color);

private:
    TColorPalette palette_;
    TColorPaletteGadget* gadget_;
};
