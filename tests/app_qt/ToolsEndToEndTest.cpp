// The tools as a user drives them in the real main window on the offscreen platform: a tool
// chosen on the Tools bar, real mouse events on the document window, the marching ants in
// what the window shows, the keyboard's Ctrl+D and Ctrl+Z, and the pointer and the status
// bar following along.
#include <cstring>
#include <vector>

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include "CommandIds.h"
#include "ImageDocManager.h"
#include "ImageView.h"
#include "MainWindow.h"
#include "QtWindowHost.h"
#include "TestRegistry.h"

namespace {
const std::string kSampleQlx = QUILLO_TEST_DATA "/../../data/sample.qlx";
const std::string kSamplePng = QUILLO_TEST_DATA "/sample.png";

struct TFixture {
    THeadlessMessageBoxes boxes;
    TImageDocManager manager;
    TQuilloFrame frame{manager};
    TFixture() { SetMessageBoxHost(&boxes); }
    ~TFixture() { SetMessageBoxHost(nullptr); }

    QtWindowHost* Host() const {
        QMdiSubWindow* sub = frame.MdiArea()->currentSubWindow();
        return sub ? qobject_cast<QtWindowHost*>(sub->widget()) : nullptr;
    }
    QWidget* Canvas() const { return Host()->viewport(); }
    TImageView& View() const { return *frame.ActiveView(); }
    // Where image point q is in the document window.
    QPoint At(int x, int y) const {
        const POINT p = View().ImageToClient(POINT{x, y}, true);
        return QPoint(p.x, p.y);
    }
    // A click on the Tools bar's button for the command, once the bar has enabled it.
    bool ChooseTool(int id) {
        QAction* action = frame.CommandAction(id);
        for (QToolBar* bar : frame.findChildren<QToolBar*>()) {
            auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(action));
            if (!button) continue;
            if (!QTest::qWaitFor([&] { return button->isEnabled(); })) return false;
            QTest::mouseClick(button, Qt::LeftButton);
            return true;
        }
        return false;
    }
    // A drag with the left button in steps, as a hand moves the mouse.
    void Drag(QPoint from, QPoint to) {
        QTest::mouseMove(Canvas(), from);
        QTest::mousePress(Canvas(), Qt::LeftButton, {}, from);
        for (int i = 1; i <= 4; ++i) QTest::mouseMove(Canvas(), from + (to - from) * i / 4);
        QTest::mouseRelease(Canvas(), Qt::LeftButton, {}, to);
    }
    QImage Shown() const {
        return Canvas()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
};

// How many pixels of the row from x0 to x1 differ between two pictures of the window.
int Differing(const QImage& a, const QImage& b, int y, int x0, int x1) {
    int n = 0;
    for (int x = x0; x <= x1; ++x) n += a.pixel(x, y) != b.pixel(x, y);
    return n;
}

} // namespace

class ToolsEndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void DragALayerWithTheMoveToolAndUndoIt() {
        TFixture fx;
        fx.frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&fx.frame));
        fx.manager.OpenDroppedFiles({kSampleQlx});
        QVERIFY(fx.Host());
        TLayeredImage& image = fx.View().GetImageData()->Image;
        // The title, 250 by 48 at (20, 20), is the current layer of the sample.
        TLayer* title = image.GetLayer(image.GetCurrentIndex());
        QCOMPARE(title->Name, std::string("Title"));
        const POINT start{title->X, title->Y};

        QVERIFY(fx.ChooseTool(CM_MOVE_TOOL));
        QCOMPARE(fx.View().Mode, 7);
        QCOMPARE(fx.frame.StatusText(IDG_MESSAGE), QStringLiteral("Click on layer to drag it"));
        // The pointer says what a press would do: grab a layer, nothing on the background.
        QTest::mouseMove(fx.Canvas(), fx.At(100, 40));
        QCOMPARE(fx.Host()->CursorId(), 15);
        QCOMPARE(fx.Canvas()->cursor().shape(), Qt::BitmapCursor);
        QTest::mouseMove(fx.Canvas(), fx.At(300, 200));
        QCOMPARE(fx.Host()->CursorId(), int(CURSOR_ARROW));

        const QPoint from = fx.At(100, 40), to = from + QPoint(30, 24);
        const POINT q0 = fx.View().ClientToImage(POINT{from.x(), from.y()}, true);
        const POINT q1 = fx.View().ClientToImage(POINT{to.x(), to.y()}, true);
        fx.Drag(from, to);
        QCOMPARE(title->X, start.x + (q1.x - q0.x));
        QCOMPARE(title->Y, start.y + (q1.y - q0.y));
        QVERIFY(!fx.Host()->HasCapture());

        // The whole drag is one step back.
        QTest::keyClick(fx.Canvas(), Qt::Key_Z, Qt::ControlModifier);
        title = image.GetLayer(image.GetCurrentIndex());
        QCOMPARE(title->Name, std::string("Title"));
        QCOMPARE(title->X, start.x);
        QCOMPARE(title->Y, start.y);
    }

    void SelectARectangleSeeTheAntsAndDeselectWithCtrlD() {
        TFixture fx;
        fx.frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&fx.frame));
        fx.manager.OpenDroppedFiles({kSampleQlx});
        QVERIFY(fx.Host());
        // Away from the default first, so that the button really changes the mode.
        QVERIFY(fx.ChooseTool(CM_ZOOM_TOOL));
        QCOMPARE(fx.Host()->CursorId(), 18);
        QVERIFY(fx.ChooseTool(CM_RECT_SELECTION));
        QCOMPARE(fx.View().Mode, 0);
        QCOMPARE(fx.frame.StatusText(IDG_MESSAGE),
                 QStringLiteral("Shift, Ctrl and Alt change selection mode"));
        QCOMPARE(fx.Host()->CursorId(), 19);
        // Holding Shift says what the next drag will do, at once, and shows the adding cross.
        QTest::keyPress(fx.Canvas(), Qt::Key_Shift);
        QCOMPARE(fx.frame.StatusText(IDG_MESSAGE), QStringLiteral("Add to selection"));
        QCOMPARE(fx.Host()->CursorId(), 20);
        QTest::keyRelease(fx.Canvas(), Qt::Key_Shift);
        QCOMPARE(fx.frame.StatusText(IDG_MESSAGE),
                 QStringLiteral("Shift, Ctrl and Alt change selection mode"));
        QCOMPARE(fx.Host()->CursorId(), 19);
        // Alt reaches the view past the menu bar: with the free hand it starts a polygon.
        QVERIFY(fx.ChooseTool(CM_FREEHAND_SELECTION));
        QTest::keyPress(fx.Canvas(), Qt::Key_Alt);
        QCOMPARE(fx.frame.StatusText(IDG_MESSAGE), QStringLiteral("Polygonal selection"));
        QTest::keyRelease(fx.Canvas(), Qt::Key_Alt);
        QVERIFY(fx.ChooseTool(CM_RECT_SELECTION));

        // Inside the current layer, the title at (20, 20) to (270, 68): a selection is
        // clipped to the layer it is made on.
        const QImage before = fx.Shown();
        const QPoint a = fx.At(40, 26), b = fx.At(200, 62);
        fx.Drag(a, b);
        QVERIFY(fx.View().HasSelection);
        QVERIFY(!fx.Host()->HasCapture());
        fx.frame.UpdateStatus();
        const QString bounds = fx.frame.StatusText(IDG_SELECTION);
        // The pixels pressed and released on are both selected; the gadget gives the
        // rectangle's end past them.
        QCOMPARE(bounds, QStringLiteral("(40,26) - (201,63)"));

        // The ants run along the rectangle's edges and leave its inside alone.
        const QImage ants = fx.Shown();
        const int width = b.x() - a.x();
        QVERIFY(Differing(before, ants, a.y(), a.x(), b.x()) > width / 3);
        QVERIFY(Differing(before, ants, b.y(), a.x(), b.x()) > width / 3);
        const int middle = (a.y() + b.y()) / 2;
        QCOMPARE(Differing(before, ants, middle, a.x() + 3, b.x() - 4), 0);

        // Each window keeps its own hint: a second image says its own, and going back to
        // the first brings the first one's back.
        QMdiSubWindow* first = fx.frame.MdiArea()->currentSubWindow();
        fx.manager.OpenDroppedFiles({kSamplePng});
        QVERIFY(fx.frame.MdiArea()->currentSubWindow() != first);
        QVERIFY(fx.ChooseTool(CM_HAND_TOOL));
        QCOMPARE(fx.frame.StatusText(IDG_MESSAGE), QStringLiteral("Click on image to scroll it"));
        fx.frame.MdiArea()->setActiveSubWindow(first);
        QCOMPARE(fx.frame.StatusText(IDG_MESSAGE),
                 QStringLiteral("Shift, Ctrl and Alt change selection mode"));

        fx.frame.UpdateCommandStates();
        QVERIFY(fx.frame.CommandAction(CM_SELECTION_DESELECT)->isEnabled());
        QTest::keyClick(fx.Canvas(), Qt::Key_D, Qt::ControlModifier);
        QVERIFY(!fx.View().HasSelection);
        const QImage after = fx.Shown();
        QCOMPARE(Differing(before, after, a.y(), a.x(), b.x()), 0);
        QCOMPARE(Differing(before, after, b.y(), a.x(), b.x()), 0);
    }

    void PaintABrushStrokeWithTheMouseAndUndoIt() {
        TFixture fx;
        fx.frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&fx.frame));
        fx.manager.OpenDroppedFiles({kSamplePng});
        QVERIFY(fx.Host());
        TLayeredImage& image = fx.View().GetImageData()->Image;
        auto bytes = [&] {
            const TLayer& l = *image.GetCurrentLayer();
            const uint8_t* p = L_RowPtr(&l, 0);
            return std::vector<uint8_t>(p, p + size_t(l.BytesPerLine) * size_t(l.Height));
        };
        const std::vector<uint8_t> before = bytes();
        QVERIFY(fx.ChooseTool(CM_BRUSH_TOOL));
        const QImage shownBefore = fx.Shown();
        const QPoint from = fx.At(10, 12), to = fx.At(50, 20);
        fx.Drag(from, to);
        QVERIFY(!fx.Host()->HasCapture());
        // The layer took the paint along the whole drag, and the window shows it.
        const std::vector<uint8_t> after = bytes();
        QCOMPARE(after.size(), before.size());
        const TLayer& l = *image.GetCurrentLayer();
        const int bpp = l.BitsPerPixel / 8;
        auto changedAt = [&](int x, int y) {
            const size_t at = size_t(y) * size_t(l.BytesPerLine) + size_t(x * bpp);
            return std::memcmp(&before[at], &after[at], size_t(bpp)) != 0;
        };
        QVERIFY(changedAt(10, 12) && changedAt(30, 16) && changedAt(50, 20));
        QVERIFY(!changedAt(30, 40));
        const QImage shown = fx.Shown();
        const QPoint middle = (from + to) / 2;
        QVERIFY(shown.pixel(middle) != shownBefore.pixel(middle));

        // Undo is offered at once, not only at the next idle update: its shortcut would do
        // nothing meanwhile. The stroke is one step back, to the byte.
        QAction* undo = fx.frame.CommandAction(CM_EDITUNDO);
        QVERIFY(undo->isEnabled());
        QTest::keyClick(fx.Canvas(), Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(bytes() == before);
        QVERIFY(!undo->isEnabled());

        // A click without a move is a stroke too: one dab, undone the same way.
        QTest::mouseClick(fx.Canvas(), Qt::LeftButton, {}, fx.At(30, 30));
        QVERIFY(bytes() != before);
        QVERIFY(undo->isEnabled());
        QTest::keyClick(fx.Canvas(), Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(bytes() == before);
    }
};

QUILLO_QT_TEST(ToolsEndToEndTest);
#include "ToolsEndToEndTest.moc"
