#include "QtWindowHost.h"

#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>

#include <algorithm>

#include "Cursors.h"
#include "QtConvert.h"
#include "QtTextEdit.h"

namespace {
bool IsEmpty(const RECT& r) { return r.left >= r.right || r.top >= r.bottom; }

RECT Union(const RECT& a, const RECT& b) {
    if (IsEmpty(a)) return b;
    if (IsEmpty(b)) return a;
    return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
}

} // namespace

QtWindowHost::QtWindowHost(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    // The backing store covers the whole viewport, so Qt need not clear it first.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    // Moves reach the view without a button held too: the tools follow the pointer.
    viewport()->setMouseTracking(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    store_.Resize(GetClientSize());
}

QtWindowHost::~QtWindowHost() {
    for (const int qtId : timerOwners_.keys()) killTimer(qtId);
}

TSize QtWindowHost::GetClientSize() const {
    const QSize s = viewport()->size();
    return TSize{s.width(), s.height()};
}

void QtWindowHost::SyncScrollBars() {
    TSize client = GetClientSize();
    // Content that fits the whole area needs no bars, even where bars shown now would make
    // it look too large: otherwise a window sized to its image keeps the bars it had.
    const QSize full = maximumViewportSize();
    if (int64_t(scroll_.RangeX) * scroll_.UnitX <= full.width() &&
        int64_t(scroll_.RangeY) * scroll_.UnitY <= full.height())
        client = TSize{std::max(client.cx, full.width()), std::max(client.cy, full.height())};
    syncing_ = true;
    QScrollBar* h = horizontalScrollBar();
    h->setRange(0, scroll_.MaxPosX(client.cx));
    h->setPageStep(std::max(1, client.cx / scroll_.UnitX));
    h->setValue(scroll_.PosX);
    QScrollBar* v = verticalScrollBar();
    v->setRange(0, scroll_.MaxPosY(client.cy));
    v->setPageStep(std::max(1, client.cy / scroll_.UnitY));
    v->setValue(scroll_.PosY);
    syncing_ = false;
}

void QtWindowHost::SetUnits(int unitX, int unitY) {
    scroll_.UnitX = std::max(1, unitX);
    scroll_.UnitY = std::max(1, unitY);
    if (scroll_.Clamp(GetClientSize())) InvalidateAll();
    SyncScrollBars();
}

void QtWindowHost::SetRange(int rangeX, int rangeY) {
    scroll_.RangeX = std::max(0, rangeX);
    scroll_.RangeY = std::max(0, rangeY);
    if (scroll_.Clamp(GetClientSize())) InvalidateAll();
    SyncScrollBars();
}

void QtWindowHost::ScrollTo(int posX, int posY) {
    const TScrollState old = scroll_;
    scroll_.PosX = posX;
    scroll_.PosY = posY;
    scroll_.Clamp(GetClientSize());
    // Repainting the whole client area is cheap next to the view's compositing, and it
    // keeps the backing store the single source of what is on screen.
    if (scroll_.PosX != old.PosX || scroll_.PosY != old.PosY) InvalidateAll();
    SyncScrollBars();
}

void QtWindowHost::scrollContentsBy(int, int) {
    if (syncing_) return;
    // The user moved a scroll bar: the bars hold the new position in units.
    ScrollTo(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

bool QtWindowHost::IsScrollBarShown(TScrollBar bar) const {
    return (bar == TScrollBar::Horizontal ? horizontalScrollBar() : verticalScrollBar())
        ->isVisible();
}

int QtWindowHost::ScrollBarThickness(TScrollBar) const {
    return style()->pixelMetric(QStyle::PM_ScrollBarExtent);
}

void QtWindowHost::Invalidate(const RECT& rc) {
    if (!redraw_) return;
    const TSize client = GetClientSize();
    const RECT clipped{std::max(rc.left, 0), std::max(rc.top, 0), std::min(rc.right, client.cx),
                       std::min(rc.bottom, client.cy)};
    if (IsEmpty(clipped)) return;
    invalid_ = Union(invalid_, clipped);
    viewport()->update(ToQRect(clipped));
}

void QtWindowHost::InvalidateAll() {
    const TSize client = GetClientSize();
    Invalidate(RECT{0, 0, client.cx, client.cy});
}

void QtWindowHost::PaintInvalid() {
    // The viewport can change size (a scroll bar comes or goes) before its resize event
    // arrives; the view must never paint past the store it is given.
    FollowViewportSize();
    if (IsEmpty(invalid_) || !redraw_) return;
    const BITMAPHANDLE* b = store_.Bitmap();
    RECT rc = invalid_;
    invalid_ = RECT{};
    if (!client_ || !b) return;
    rc.right = std::min<int>(rc.right, b->Width);
    rc.bottom = std::min<int>(rc.bottom, b->Height);
    if (!IsEmpty(rc)) client_->OnPaint(rc);
}

void QtWindowHost::Update() {
    const RECT rc = invalid_;
    PaintInvalid();
    if (!IsEmpty(rc)) viewport()->repaint(ToQRect(rc));
}

void QtWindowHost::ShowBackingStore(const RECT& rc) { viewport()->update(ToQRect(rc)); }

void QtWindowHost::paintEvent(QPaintEvent* event) {
    PaintInvalid();
    BITMAPHANDLE* b = store_.Bitmap();
    QPainter painter(viewport());
    if (!b) {
        painter.fillRect(event->rect(), Qt::white);
        return;
    }
    // The store is 32-bit blue, green, red, unused: exactly RGB32 on a little-endian host.
    // It is top-down (TOP_LEFT), so its first row is the top one.
    const QImage image(L_RowPtr(b, 0), b->Width, b->Height, b->BytesPerLine, QImage::Format_RGB32);
    painter.drawImage(event->rect(), image, event->rect());
    painter.end();
    emit Painted();
}

void QtWindowHost::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    FollowViewportSize();
}

void QtWindowHost::FollowViewportSize() {
    const TSize client = GetClientSize();
    const BITMAPHANDLE* b = store_.Bitmap();
    if (b ? b->Width == client.cx && b->Height == client.cy : client.cx <= 0 || client.cy <= 0)
        return;
    store_.Resize(client);
    scroll_.Clamp(client);
    invalid_ = RECT{};
    InvalidateAll();
    if (client_) client_->OnSize();
    SyncScrollBars();
}

void QtWindowHost::wheelEvent(QWheelEvent* event) {
    if (!client_) return QAbstractScrollArea::wheelEvent(event);
    unsigned keys = 0;
    if (event->modifiers() & Qt::ControlModifier) keys |= MK_CONTROL;
    if (event->modifiers() & Qt::ShiftModifier) keys |= MK_SHIFT;
    const QPoint p = event->position().toPoint();
    const int delta =
        event->angleDelta().y() != 0 ? event->angleDelta().y() : event->angleDelta().x();
    client_->OnMouseWheel(delta, keys, POINT{p.x(), p.y()});
    event->accept();
}

namespace {

unsigned ModifierKeys(Qt::KeyboardModifiers m) {
    unsigned keys = 0;
    if (m & Qt::ShiftModifier) keys |= MK_SHIFT;
    if (m & Qt::ControlModifier) keys |= MK_CONTROL;
    if (m & Qt::AltModifier) keys |= MK_ALT;
    return keys;
}

// The flag a modifier key itself stands for; 0 for other keys.
unsigned FlagOfKey(int key) {
    switch (key) {
        case VK_SHIFT: return MK_SHIFT;
        case VK_CONTROL: return MK_CONTROL;
        case VK_MENU: return MK_ALT;
        default: return 0;
    }
}

// The keys held as the view should see them when a key goes down or up. Window systems
// differ in whether a modifier's own event already counts it as held; the view reads the
// state after the event, as Windows reports it: held after its press, free after its
// release.
unsigned KeysAfter(int key, Qt::KeyboardModifiers m, bool down) {
    const unsigned keys = ModifierKeys(m);
    const unsigned own = FlagOfKey(key);
    return down ? keys | own : keys & ~own;
}

bool ButtonOf(Qt::MouseButton b, TMouseButton* out) {
    switch (b) {
        case Qt::LeftButton: *out = TMouseButton::Left; return true;
        case Qt::MiddleButton: *out = TMouseButton::Middle; return true;
        case Qt::RightButton: *out = TMouseButton::Right; return true;
        default: return false;
    }
}

// The view's key code for a Qt key; 0 for keys the view never hears of.
int KeyCodeOf(int key) {
    if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9))
        return key; // Qt uses the upper-case characters too
    switch (key) {
        case Qt::Key_Backspace: return VK_BACK;
        case Qt::Key_Tab: return VK_TAB;
        case Qt::Key_Return:
        case Qt::Key_Enter: return VK_RETURN;
        case Qt::Key_Shift: return VK_SHIFT;
        case Qt::Key_Control: return VK_CONTROL;
        case Qt::Key_Alt: return VK_MENU;
        case Qt::Key_Escape: return VK_ESCAPE;
        case Qt::Key_Space: return VK_SPACE;
        case Qt::Key_PageUp: return VK_PRIOR;
        case Qt::Key_PageDown: return VK_NEXT;
        case Qt::Key_End: return VK_END;
        case Qt::Key_Home: return VK_HOME;
        case Qt::Key_Left: return VK_LEFT;
        case Qt::Key_Up: return VK_UP;
        case Qt::Key_Right: return VK_RIGHT;
        case Qt::Key_Down: return VK_DOWN;
        case Qt::Key_Delete: return VK_DELETE;
        default: return 0;
    }
}

} // namespace

void QtWindowHost::mousePressEvent(QMouseEvent* event) {
    TMouseButton button;
    if (!client_ || !ButtonOf(event->button(), &button))
        return QAbstractScrollArea::mousePressEvent(event);
    const QPoint p = event->position().toPoint();
    const QPointer<QtWindowHost> self(this); // the input may close the window
    client_->OnButtonDown(button, ModifierKeys(event->modifiers()), POINT{p.x(), p.y()});
    event->accept();
    if (self) emit InputHandled();
}

void QtWindowHost::mouseReleaseEvent(QMouseEvent* event) {
    TMouseButton button;
    if (!client_ || !ButtonOf(event->button(), &button))
        return QAbstractScrollArea::mouseReleaseEvent(event);
    const QPoint p = event->position().toPoint();
    const QPointer<QtWindowHost> self(this); // the input may close the window
    client_->OnButtonUp(button, ModifierKeys(event->modifiers()), POINT{p.x(), p.y()});
    event->accept();
    if (self) emit InputHandled();
}

void QtWindowHost::mouseMoveEvent(QMouseEvent* event) {
    if (!client_) return QAbstractScrollArea::mouseMoveEvent(event);
    const QPoint p = event->position().toPoint();
    client_->OnMouseMove(ModifierKeys(event->modifiers()), POINT{p.x(), p.y()});
    event->accept();
}

void QtWindowHost::keyPressEvent(QKeyEvent* event) {
    const int key = KeyCodeOf(event->key());
    // The view does its own paging; the scroll area's would move the bars behind its back.
    if (!client_ || !key) return QAbstractScrollArea::keyPressEvent(event);
    const QPointer<QtWindowHost> self(this); // the input may close the window
    client_->OnKeyDown(key, KeysAfter(key, event->modifiers(), true));
    event->accept();
    if (self) emit InputHandled();
}

void QtWindowHost::keyReleaseEvent(QKeyEvent* event) {
    const int key = KeyCodeOf(event->key());
    if (!client_ || !key || event->isAutoRepeat())
        return QAbstractScrollArea::keyReleaseEvent(event);
    const QPointer<QtWindowHost> self(this); // the input may close the window
    client_->OnKeyUp(key, KeysAfter(key, event->modifiers(), false));
    event->accept();
    if (self) emit InputHandled();
}

void QtWindowHost::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    if (client_) client_->OnSetFocus();
}

void QtWindowHost::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    if (client_) client_->OnKillFocus();
    // A pop-up menu or another window taking over also takes the mouse; moving the focus
    // inside the window (Tab, a click on the layer list) leaves a running drag alone.
    if (event->reason() == Qt::PopupFocusReason || event->reason() == Qt::ActiveWindowFocusReason)
        LoseCapture();
}

void QtWindowHost::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) LoseCapture();
}

void QtWindowHost::hideEvent(QHideEvent* event) {
    QAbstractScrollArea::hideEvent(event);
    LoseCapture();
}

void QtWindowHost::LoseCapture() {
    if (!capture_) return;
    capture_ = false;
    if (QWidget::mouseGrabber() == viewport()) viewport()->releaseMouse();
    if (client_) client_->OnCaptureChanged();
}

void QtWindowHost::SetCursor(int cursor) {
    // The view sets the cursor on every mouse move; building a QCursor each time would
    // make the pointer flicker on some window systems.
    const qreal ratio = viewport()->devicePixelRatioF();
    if (cursor == cursorId_ && ratio == cursorRatio_) return;
    cursorId_ = cursor;
    cursorRatio_ = ratio;
    viewport()->setCursor(CursorFor(cursor, ratio));
}

bool QtWindowHost::IsMinimized() const { return window()->isMinimized(); }

POINT QtWindowHost::GetCursorPos() const {
    const QPoint p = viewport()->mapFromGlobal(QCursor::pos());
    return POINT{p.x(), p.y()};
}

bool QtWindowHost::IsUnderCursor() const { return viewport()->underMouse(); }

void QtWindowHost::SetCapture() {
    viewport()->grabMouse();
    capture_ = true;
}

void QtWindowHost::ReleaseCapture() {
    if (capture_) viewport()->releaseMouse();
    capture_ = false;
}

void QtWindowHost::SetTimer(int id, int periodMs) {
    KillTimer(id);
    const int qtId = startTimer(std::max(1, periodMs));
    if (qtId == 0) return;
    timerIds_.insert(id, qtId);
    timerOwners_.insert(qtId, id);
}

void QtWindowHost::KillTimer(int id) {
    const auto it = timerIds_.find(id);
    if (it == timerIds_.end()) return;
    killTimer(it.value());
    timerOwners_.remove(it.value());
    timerIds_.erase(it);
}

void QtWindowHost::timerEvent(QTimerEvent* event) {
    const auto it = timerOwners_.find(event->timerId());
    if (it == timerOwners_.end()) return QAbstractScrollArea::timerEvent(event);
    if (client_) client_->OnTimer(it.value());
}

std::unique_ptr<ITextEdit> QtWindowHost::CreateTextEdit(ITextEditEvents* events) {
    return std::make_unique<QtTextEdit>(viewport(), events);
}
