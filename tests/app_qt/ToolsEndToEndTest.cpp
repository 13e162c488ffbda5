// The tools as a user drives them in the real main window: a tool chosen on the Tools bar,
// real mouse events on the document window, the marching ants in what the window shows,
// Ctrl+D and Ctrl+Z from the keyboard, and the status bar following the active window.
#include <cstring>
#include <vector>

#include "CommandIds.h"
#include "FrameFixture.h"
#include "TestRegistry.h"

namespace {

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
    void SelectARectangleSeeTheAntsAndDeselectWithCtrlD() {
        TFrameFixture fx;
        QVERIFY(fx.ShowWith(kSampleQlx));
        QVERIFY(fx.ChooseTool(CM_ZOOM_TOOL)); // away from the default, so the button counts
        QVERIFY(fx.ChooseTool(CM_RECT_SELECTION));
        QCOMPARE(fx.View().Mode, 0);
        QCOMPARE(fx.Host()->CursorId(), 19);
        // Alt reaches the view past the menu bar: with the free hand it starts a polygon.
        QVERIFY(fx.ChooseTool(CM_FREEHAND_SELECTION));
        QTest::keyPress(fx.Canvas(), Qt::Key_Alt);
        QCOMPARE(fx.frame.StatusText(IDG_MESSAGE), QStringLiteral("Polygonal selection"));
        QTest::keyRelease(fx.Canvas(), Qt::Key_Alt);
        QVERIFY(fx.ChooseTool(CM_RECT_SELECTION));

        // Inside the current layer, the title at (20, 20) to (270, 68).
        const QImage before = fx.Shown();
        const QPoint a = fx.At(40, 26), b = fx.At(200, 62);
        fx.Drag(a, b);
        QVERIFY(fx.View().HasSelection);
        QVERIFY(!fx.Host()->HasCapture());
        fx.frame.UpdateStatus();
        QCOMPARE(fx.frame.StatusText(IDG_SELECTION), QStringLiteral("(40,26) - (201,63)"));

        // The ants run along the rectangle's edges and leave its inside alone.
        const QImage ants = fx.Shown();
        const int width = b.x() - a.x();
        QVERIFY(Differing(before, ants, a.y(), a.x(), b.x()) > width / 3);
        QVERIFY(Differing(before, ants, b.y(), a.x(), b.x()) > width / 3);
        QCOMPARE(Differing(before, ants, (a.y() + b.y()) / 2, a.x() + 3, b.x() - 4), 0);

        // Each window keeps its own hint.
        QMdiSubWindow* first = fx.frame.MdiArea()->currentSubWindow();
        fx.manager.OpenDroppedFiles({kSamplePng});
        QVERIFY(fx.ChooseTool(CM_HAND_TOOL));
        QCOMPARE(fx.frame.StatusText(IDG_MESSAGE), QStringLiteral("Click on image to scroll it"));
        fx.frame.MdiArea()->setActiveSubWindow(first);
        QCOMPARE(fx.frame.StatusText(IDG_MESSAGE),
                 QStringLiteral("Shift, Ctrl and Alt change selection mode"));

        QTest::keyClick(fx.Canvas(), Qt::Key_D, Qt::ControlModifier);
        QVERIFY(!fx.View().HasSelection);
        const QImage after = fx.Shown();
        QCOMPARE(Differing(before, after, a.y(), a.x(), b.x()), 0);
        QCOMPARE(Differing(before, after, b.y(), a.x(), b.x()), 0);
    }

    void PaintABrushStrokeWithTheMouseAndUndoIt() {
        TFrameFixture fx;
        QVERIFY(fx.ShowWith(kSamplePng));
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
        const TLayer& l = *image.GetCurrentLayer();
        const int bpp = l.BitsPerPixel / 8;
        auto changedAt = [&](int x, int y) {
            const size_t at = size_t(y) * size_t(l.BytesPerLine) + size_t(x * bpp);
            return std::memcmp(&before[at], &after[at], size_t(bpp)) != 0;
        };
        QVERIFY(changedAt(10, 12) && changedAt(30, 16) && changedAt(50, 20));
        QVERIFY(!changedAt(30, 40));
        QVERIFY(fx.Shown().pixel((from + to) / 2) != shownBefore.pixel((from + to) / 2));

        // Undo is offered at once, not only at the next idle update: its shortcut would do
        // nothing meanwhile. The stroke is one step back, to the byte.
        QAction* undo = fx.frame.CommandAction(CM_EDITUNDO);
        QVERIFY(undo->isEnabled());
        QTest::keyClick(fx.Canvas(), Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(bytes() == before);
        QVERIFY(!undo->isEnabled());
    }
};

QUILLO_QT_TEST(ToolsEndToEndTest);
#include "ToolsEndToEndTest.moc"
