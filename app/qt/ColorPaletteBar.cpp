#include "ColorPaletteBar.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

#include "QtConvert.h"

namespace {

// A filled square with a thin dark frame, as the colour squares and custom cells look.
void DrawSwatch(QPainter& p, const QRect& r, COLORREF c) {
    p.fillRect(r, ToQColor(c));
    p.setPen(QColor(64, 64, 64));
    p.drawRect(r.adjusted(0, 0, -1, -1));
}

} // namespace

TColorPaletteGadget::TColorPaletteGadget(TColorPalette& palette, QWidget* parent)
    : QWidget(parent), palette_(palette) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The right button picks the background colour here; the frame's menu of tool bars
    // popping up over the pick would hide what was picked.
    setContextMenuPolicy(Qt::PreventContextMenu);
    setToolTip(
        QStringLiteral("Left button: foreground color; right button: background color;\n"
                       "double-click the foreground color to choose any color"));
}

QSize TColorPaletteGadget::sizeHint() const {
    return QSize(palette_.DesiredWidth(), palette_.DesiredHeight());
}

void TColorPaletteGadget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));

    // The palette cells: each colour fills its cell but the cell's last row and column,
    // which leave a grid line between neighbours.
    for (int i = 0; i < palette_.ColorCount(); ++i)
        p.fillRect(ToQRect(palette_.CellRect(i)).adjusted(0, 0, -1, -1),
                   ToQColor(palette_.Color(i)));

    // The sunken box with the background square and, over it, the foreground square.
    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.rect = ToQRect(palette_.BoxRect());
    frame.state |= QStyle::State_Sunken;
    frame.lineWidth = 1;
    frame.frameShape = QFrame::Panel;
    style()->drawPrimitive(QStyle::PE_Frame, &frame, &p, this);
    DrawSwatch(p, ToQRect(palette_.BackgroundRect()), palette_.BackgroundColor());
    DrawSwatch(p, ToQRect(palette_.ForegroundRect()), palette_.ForegroundColor());

    for (int i = 0; i < TColorPalette::kCustomCells; ++i)
        DrawSwatch(p, ToQRect(palette_.CustomCellRect(i)), palette_.CustomColor(i));
}

void TColorPaletteGadget::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::LeftButton)
        palette_.ButtonDown(TColorPalette::TButton::Left, pos.x(), pos.y());
    else if (event->button() == Qt::RightButton)
        palette_.ButtonDown(TColorPalette::TButton::Right, pos.x(), pos.y());
    else
        QWidget::mousePressEvent(event);
}

void TColorPaletteGadget::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    palette_.MouseMove(pos.x(), pos.y());
}

void TColorPaletteGadget::mouseReleaseEvent(QMouseEvent* event) {
    // The pick ends when the button that started it is released.
    if (!(event->buttons() & (Qt::LeftButton | Qt::RightButton))) palette_.ButtonUp();
}

void TColorPaletteGadget::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (event->button() == Qt::LeftButton) palette_.DoubleClick(pos.x(), pos.y());
}

TColorPaletteBar::TColorPaletteBar(QWidget* parent) : QToolBar(QStringLiteral("Colors"), parent) {
    setObjectName(QStringLiteral("ColorsBar"));
    gadget_ = new TColorPaletteGadget(palette_, this);
    addWidget(gadget_);
    palette_.SetChangeListener([this] { gadget_->update(); });
    palette_.SetForegroundListener([this](COLORREF c) { emit ForegroundChanged(c); });
    connect(this, &QToolBar::orientationChanged, this, [this](Qt::Orientation o) {
        palette_.SetVertical(o == Qt::Vertical);
        gadget_->updateGeometry();
        gadget_->update();
    });
}
