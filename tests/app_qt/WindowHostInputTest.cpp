// The desktop window host on the offscreen platform: the tool cursors it shows, the keys and
// moves it hands the view with their modifier flags, and the focus and mouse capture the
// view is told it lost.
#include <QMenu>
#include <QTest>

#include <cmath>
#include <vector>

#include "Cursors.h"
#include "QtWindowHost.h"
#include "TestRegistry.h"

namespace {

struct TEvent {
    enum Kind { KeyDown, KeyUp, Move, KillFocus, CaptureChanged } kind;
    int key;
    unsigned keys;
    bool operator==(const TEvent&) const = default;
};

class TRecordingClient : public IWindowClient {
public:
    void OnPaint(const RECT&) override {}
    void OnKeyDown(int key, unsigned keys) override {
        Events.push_back({TEvent::KeyDown, key, keys});
    }
    void OnKeyUp(int key, unsigned keys) override { Events.push_back({TEvent::KeyUp, key, keys}); }
    void OnMouseMove(unsigned keys, POINT p) override {
        Events.push_back({TEvent::Move, 0, keys});
        LastMove = p;
    }
    void OnKillFocus() override { Events.push_back({TEvent::KillFocus, 0, 0}); }
    void OnCaptureChanged() override { Events.push_back({TEvent::CaptureChanged, 0, 0}); }
    int Count(TEvent::Kind kind) const {
        int n = 0;
        for (const TEvent& e : Events) n += e.kind == kind;
        return n;
    }
    std::vector<TEvent> Events;
    POINT LastMove{};
};

QImage Alpha(const QPixmap& pixmap) {
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

bool Opaque(const QImage& img, int x, int y) {
    return x >= 0 && y >= 0 && x < img.width() && y < img.height() && qAlpha(img.pixel(x, y)) > 128;
}

// The hot spot is on the drawing (within 2 pixels of it), or inside it: the drawing is met
// within 10 pixels in all four directions, as for the magnifier's lens.
bool HotSpotOnDrawing(const QImage& img, QPoint hot) {
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx)
            if (Opaque(img, hot.x() + dx, hot.y() + dy)) return true;
    const QPoint dirs[4] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
    for (const QPoint d : dirs) {
        bool met = false;
        for (int i = 1; i <= 10 && !met; ++i)
            met = Opaque(img, hot.x() + d.x() * i, hot.y() + d.y() * i);
        if (!met) return false;
    }
    return true;
}

} // namespace

class WindowHostInputTest : public QObject {
    Q_OBJECT
private slots:
    void EveryToolCursorIsItsOwnPictureAtBothRatiosWithTheHotSpotOnIt() {
        std::vector<QImage> seen;
        for (int id = kFirstToolCursor; id <= kLastToolCursor; ++id) {
            const QImage one = Alpha(ToolCursorPixmap(id, 1));
            const QImage two = Alpha(ToolCursorPixmap(id, 2));
            QCOMPARE(one.size(), QSize(32, 32));
            QCOMPARE(two.size(), QSize(64, 64));
            // The 2x picture is the same drawing, not the 1x one in a corner: halved, its
            // coverage matches pixel for pixel within antialiasing.
            long diff = 0, ink = 0;
            for (int y = 0; y < 32; ++y)
                for (int x = 0; x < 32; ++x) {
                    const int a = qAlpha(one.pixel(x, y));
                    const int b =
                        (qAlpha(two.pixel(2 * x, 2 * y)) + qAlpha(two.pixel(2 * x + 1, 2 * y)) +
                         qAlpha(two.pixel(2 * x, 2 * y + 1)) +
                         qAlpha(two.pixel(2 * x + 1, 2 * y + 1))) /
                        4;
                    diff += std::abs(a - b);
                    ink += a;
                }
            QVERIFY2(ink > 255 * 40, qPrintable(QString("cursor %1 is nearly empty").arg(id)));
            QVERIFY2(diff * 5 < ink, qPrintable(QString("cursor %1 differs at 2x").arg(id)));
            QVERIFY2(HotSpotOnDrawing(one, ToolCursorHotSpot(id)),
                     qPrintable(QString("cursor %1 hot spot off its drawing").arg(id)));
            for (const QImage& other : seen)
                QVERIFY2(other != one, qPrintable(QString("cursor %1 repeats another").arg(id)));
            seen.push_back(one);
        }
        QVERIFY(ToolCursorPixmap(14, 1).isNull() && ToolCursorPixmap(40, 1).isNull());
    }

    void SetCursorShowsToolCursorsArrowAndNoEntry() {
        QtWindowHost host;
        host.resize(200, 150);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        host.SetCursor(18);
        const QCursor zoom = host.viewport()->cursor();
        QCOMPARE(zoom.shape(), Qt::BitmapCursor);
        QCOMPARE(zoom.hotSpot(), ToolCursorHotSpot(18));
        QCOMPARE(Alpha(zoom.pixmap()), Alpha(ToolCursorPixmap(18, host.devicePixelRatioF())));
        host.SetCursor(CURSOR_NO);
        QCOMPARE(host.viewport()->cursor().shape(), Qt::ForbiddenCursor);
        host.SetCursor(36);
        QCOMPARE(host.viewport()->cursor().hotSpot(), ToolCursorHotSpot(36));
        host.SetCursor(CURSOR_ARROW);
        QCOMPARE(host.viewport()->cursor().shape(), Qt::ArrowCursor);
        // A number nobody drew falls back to the arrow rather than an empty pointer.
        host.SetCursor(15);
        host.SetCursor(99);
        QCOMPARE(host.viewport()->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(host.CursorId(), 99);
    }

    void KeysReachTheViewWithTheModifiersHeldAfterThem() {
        QtWindowHost host;
        TRecordingClient client;
        host.SetClient(&client);
        host.resize(200, 150);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        // The events as the window system sends them, without QTest's own presses of the
        // modifiers. Whether a modifier's own press already carries its flag, or its
        // release still does, differs between systems; the view sees the state after.
        const auto send = [&](QEvent::Type type, int key, Qt::KeyboardModifiers m) {
            QKeyEvent e(type, key, m);
            QApplication::sendEvent(&host, &e);
        };
        const auto click = [&](int key, Qt::KeyboardModifiers m) {
            send(QEvent::KeyPress, key, m);
            send(QEvent::KeyRelease, key, m);
        };
        send(QEvent::KeyPress, Qt::Key_Alt, Qt::NoModifier);
        send(QEvent::KeyRelease, Qt::Key_Alt, Qt::AltModifier);
        send(QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
        send(QEvent::KeyRelease, Qt::Key_Alt, Qt::NoModifier);
        send(QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier);
        send(QEvent::KeyPress, Qt::Key_Control, Qt::ShiftModifier);
        send(QEvent::KeyRelease, Qt::Key_Shift, Qt::ShiftModifier | Qt::ControlModifier);
        send(QEvent::KeyRelease, Qt::Key_Control, Qt::ControlModifier);
        click(Qt::Key_Space, Qt::NoModifier);
        click(Qt::Key_Delete, Qt::NoModifier);
        click(Qt::Key_Escape, Qt::AltModifier);
        const std::vector<TEvent> expected = {
            {TEvent::KeyDown, VK_MENU, MK_ALT},
            {TEvent::KeyUp, VK_MENU, 0},
            {TEvent::KeyDown, VK_MENU, MK_ALT},
            {TEvent::KeyUp, VK_MENU, 0},
            {TEvent::KeyDown, VK_SHIFT, MK_SHIFT},
            {TEvent::KeyDown, VK_CONTROL, MK_SHIFT | MK_CONTROL},
            {TEvent::KeyUp, VK_SHIFT, MK_CONTROL},
            {TEvent::KeyUp, VK_CONTROL, 0},
            {TEvent::KeyDown, VK_SPACE, 0},
            {TEvent::KeyUp, VK_SPACE, 0},
            {TEvent::KeyDown, VK_DELETE, 0},
            {TEvent::KeyUp, VK_DELETE, 0},
            {TEvent::KeyDown, VK_ESCAPE, MK_ALT},
            {TEvent::KeyUp, VK_ESCAPE, MK_ALT},
        };
        QVERIFY(client.Events == expected);

        // A move without a button reaches the view, with the modifiers and at the point
        // in the viewport.
        client.Events.clear();
        QTest::mouseMove(host.viewport(), QPoint(40, 30));
        QMouseEvent move(QEvent::MouseMove, QPointF(50, 35),
                         host.viewport()->mapToGlobal(QPointF(50, 35)), Qt::NoButton, Qt::NoButton,
                         Qt::ShiftModifier | Qt::AltModifier);
        QApplication::sendEvent(host.viewport(), &move);
        QVERIFY(client.Count(TEvent::Move) >= 1);
        QCOMPARE(client.Events.back().keys, unsigned(MK_SHIFT | MK_ALT));
        QCOMPARE(client.LastMove.x, 50);
        QCOMPARE(client.LastMove.y, 35);
        host.SetClient(nullptr);
    }

    void LosingTheFocusOrTheMouseToAMenuTellsTheView() {
        QWidget window;
        auto* host = new QtWindowHost(&window);
        TRecordingClient client;
        host->SetClient(&client);
        window.resize(300, 200);
        host->resize(300, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        host->setFocus();
        QTRY_VERIFY(host->hasFocus());

        // The focus moving inside the window tells the view, but a drag keeps its mouse.
        auto* other = new QWidget(&window);
        other->setFocusPolicy(Qt::StrongFocus);
        other->show();
        host->SetCapture();
        other->setFocus(Qt::TabFocusReason);
        QCOMPARE(client.Count(TEvent::KillFocus), 1);
        QCOMPARE(client.Count(TEvent::CaptureChanged), 0);
        QVERIFY(host->HasCapture());

        // A menu popping up during the drag takes the mouse: the view hears of it once,
        // and the host no longer holds the grab.
        host->setFocus();
        QTRY_VERIFY(host->hasFocus());
        QMenu menu;
        menu.addAction(QStringLiteral("Item"));
        menu.popup(host->mapToGlobal(QPoint(20, 20)));
        QTRY_VERIFY(menu.isVisible());
        QTRY_COMPARE(client.Count(TEvent::CaptureChanged), 1);
        QVERIFY(!host->HasCapture());
        QVERIFY(QWidget::mouseGrabber() != host->viewport());
        menu.close();

        // Hiding the view's window while it holds the mouse lets the mouse go too.
        host->SetCapture();
        host->hide();
        QCOMPARE(client.Count(TEvent::CaptureChanged), 2);
        QVERIFY(!host->HasCapture());
        host->SetClient(nullptr);
    }
};

QUILLO_QT_TEST(WindowHostInputTest);
#include "WindowHostInputTest.moc"
