// The text tool in the real main window: chosen on the Tools bar, a frame dragged with the
// mouse, words typed with key events into the edit widget floating over the image, the
// size changed through the view's options while typing, committed by a click, undone.
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>

#include "CommandIds.h"
#include "ImageDocManager.h"
#include "ImageView.h"
#include "MainWindow.h"
#include "QtWindowHost.h"
#include "TestRegistry.h"
#include "TextTool.h"
#include "ViewInteraction.h"

namespace {
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
    QPoint At(int x, int y) const {
        const POINT p = View().ImageToClient(POINT{x, y}, true);
        return QPoint(p.x, p.y);
    }
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
    TTextPaintTool* Tool() const {
        auto* tools = dynamic_cast<TViewInteraction*>(View().Tools());
        return tools ? dynamic_cast<TTextPaintTool*>(tools->PaintTool()) : nullptr;
    }
    QTextEdit* Edit() const {
        for (QTextEdit* e : Canvas()->findChildren<QTextEdit*>())
            if (e->isVisible()) return e;
        return nullptr;
    }
};

// Pixels of the current layer that differ between two copies of it.
int Changed(const BITMAPHANDLE& a, const BITMAPHANDLE& b) {
    int n = 0;
    for (int y = 0; y < a.Height; ++y)
        for (int x = 0; x < a.Width; ++x)
            n += L_GetPixelColor(&a, y, x) != L_GetPixelColor(&b, y, x);
    return n;
}

} // namespace

class TextToolEndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void TypeIntoAFrameResizeCommitAndUndo() {
        TFixture fx;
        fx.frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&fx.frame));
        fx.manager.OpenDroppedFiles({kSamplePng});
        QVERIFY(fx.Host());
        TLayeredImage& image = fx.View().GetImageData()->Image;
        BITMAPHANDLE before;
        QCOMPARE(L_CopyBitmap(&before, image.GetCurrentLayer()), SUCCESS);

        QVERIFY(fx.ChooseTool(CM_TEXT_TOOL));
        const QPoint a = fx.At(10, 10), b = fx.At(150, 60);
        QTest::mousePress(fx.Canvas(), Qt::LeftButton, {}, a);
        for (int i = 1; i <= 4; ++i) QTest::mouseMove(fx.Canvas(), a + (b - a) * i / 4);
        QTest::mouseRelease(fx.Canvas(), Qt::LeftButton, {}, b);
        QVERIFY(fx.Tool() && fx.Tool()->Frame());
        QTextEdit* edit = fx.Edit();
        QVERIFY(edit);
        QVERIFY(QTest::qWaitFor([&] { return edit->hasFocus(); }));
        const QImage empty = fx.Canvas()->grab().toImage();

        QTest::keyClicks(edit, "Hi");
        QTest::keyClick(edit, Qt::Key_Return);
        QTest::keyClicks(edit, "there");
        QCOMPARE(fx.Tool()->Frame()->Text(), std::string("Hi\nthere"));
        // The view draws the typed text over the image; the layer is untouched so far.
        QVERIFY(QTest::qWaitFor([&] { return fx.Canvas()->grab().toImage() != empty; }));
        QCOMPARE(Changed(before, *image.GetCurrentLayer()), 0);

        const int em = GetFontMetrics(fx.Tool()->Frame()->Font()).tmEmHeight;
        fx.View().ToolOptions.TextSize *= 2;
        fx.View().TextOptionsChanged();
        QCOMPARE(GetFontMetrics(fx.Tool()->Frame()->Font()).tmEmHeight, 2 * em);
        QCOMPARE(edit->font().pixelSize(), 2 * em);

        // A click outside commits, and nothing else starts.
        QTest::mouseClick(fx.Canvas(), Qt::LeftButton, {}, fx.At(250, 150));
        QVERIFY(!fx.Tool());
        QVERIFY(Changed(before, *image.GetCurrentLayer()) > 50);
        QCOMPARE(fx.View().GetImageData()->UndoName(), std::string("Text"));

        QTest::keyClick(fx.Canvas(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(Changed(before, *image.GetCurrentLayer()), 0);
        L_FreeBitmap(&before);
    }
};

QUILLO_QT_TEST(TextToolEndToEndTest);
#include "TextToolEndToEndTest.moc"
