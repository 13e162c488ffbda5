// The desktop window host: a scroll area whose viewport shows the view's backing store.
// Invalidated areas are painted by the view on the next paint event (or an explicit
// Update), then copied to the screen; the scroll bars mirror the host's scroller.
#pragma once

#include <QAbstractScrollArea>
#include <QHash>

#include "WindowHost.h"

class QtWindowHost : public QAbstractScrollArea, public IWindowHost {
    Q_OBJECT
public:
    explicit QtWindowHost(QWidget* parent = nullptr);
    ~QtWindowHost() override;

    void SetClient(IWindowClient* client) override { client_ = client; }
    TSize GetClientSize() const override;

    const TScrollState& Scroller() const override { return scroll_; }
    void SetUnits(int unitX, int unitY) override;
    void SetRange(int rangeX, int rangeY) override;
    void ScrollTo(int posX, int posY) override;
    bool IsScrollBarShown(TScrollBar bar) const override;
    int ScrollBarThickness(TScrollBar bar) const override;

    void Invalidate(const RECT& rc) override;
    void InvalidateAll() override;
    void Update() override;
    void SetRedraw(bool on) override { redraw_ = on; }
    void ShowBackingStore(const RECT& rc) override;
    BITMAPHANDLE* BackingStore() override { return store_.Bitmap(); }
    HDC BackingDC() override { return store_.DC(); }

    bool HasFocus() const override { return hasFocus(); }
    bool IsMinimized() const override;
    POINT GetCursorPos() const override;
    bool IsUnderCursor() const override;
    void SetCapture() override;
    void ReleaseCapture() override;
    bool HasCapture() const override { return capture_; }
    // Shows a tool cursor, the arrow or the no-entry sign over the viewport.
    void SetCursor(int cursor) override;
    // The cursor number last set (CURSOR_ARROW before any).
    int CursorId() const { return cursorId_; }

    void SetTimer(int id, int periodMs) override;
    void KillTimer(int id) override;
    // A real edit widget over the viewport.
    std::unique_ptr<ITextEdit> CreateTextEdit(ITextEditEvents* events) override;

signals:
    // A paint of the view reached the screen.
    void Painted();
    // The view has taken a press, a release or a key: what it did may change which
    // commands apply (a finished stroke makes Undo possible).
    void InputHandled();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // Pushes the scroller's range and position to the scroll bars.
    void SyncScrollBars();
    // Paints the pending invalid area through the client.
    void PaintInvalid();
    // Re-creates the backing store when the viewport's size changed, and tells the view.
    void FollowViewportSize();
    // The mouse is no longer ours (another window became active, a menu popped up, the
    // window went away): the grab is let go and the view told, as Windows tells a window
    // that loses the capture.
    void LoseCapture();

    IWindowClient* client_ = nullptr;
    TScrollState scroll_;
    TBackingStore store_;
    RECT invalid_{};
    bool redraw_ = true;
    bool capture_ = false;
    int cursorId_ = CURSOR_ARROW;
    qreal cursorRatio_ = 0;
    // Set while the scroll bars are being adjusted from the scroller, so their signals
    // are not taken for the user's scrolling.
    bool syncing_ = false;
    QHash<int, int> timerIds_;    // our id -> Qt's
    QHash<int, int> timerOwners_; // Qt's id -> ours
};
