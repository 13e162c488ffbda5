// An adjustment dialog as a user meets it in the real main window: Brightness/Contrast from
// the Image menu, the slider dragged with the mouse, the preview pane changing, OK, and the
// change undone from the Edit menu.
#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include "ColorAdjustDialogs.h"
#include "CommandIds.h"
#include "ImageDocManager.h"
#include "ImageView.h"
#include "MainWindow.h"
#include "QtDialogHost.h"
#include "TestRegistry.h"

namespace {
const std::string kSamplePng = QUILLO_TEST_DATA "/sample.png";

template <class W = QWidget>
W* Control(QWidget* dialog, int id) {
    return dialog ? dialog->findChild<W*>(QStringLiteral("control%1").arg(id)) : nullptr;
}

QImage Picture(QWidget* w) { return w->grab().toImage().convertToFormat(QImage::Format_RGB32); }

} // namespace

class EffectDialogEndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void BrightnessFromTheMenuPreviewsAsTheSliderMovesAndUndoes() {
        THeadlessMessageBoxes boxes;
        SetMessageBoxHost(&boxes);
        TImageDocManager manager;
        TQuilloFrame frame{manager};
        InstallQtDialogHost(&frame);
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        manager.OpenDroppedFiles({kSamplePng});
        QVERIFY(frame.ActiveView());
        TImageView& view = *frame.ActiveView();
        TLayer& layer = *view.GetImageData()->Image.GetCurrentLayer();
        const COLORREF before = L_GetPixelColor(&layer, 10, 10);

        QAction* action = frame.CommandAction(CM_ADJUST_BRIGHTNESS_CONTRAST);
        QVERIFY(action);
        for (QAction* top : frame.menuBar()->actions())
            if (top->menu() && top->menu()->actions().contains(action))
                emit top->menu()->aboutToShow();
        QVERIFY(action->isEnabled());

        bool sawDialog = false, liveChanged = false, previewChanged = false;
        int position = 0;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            sawDialog = dialog->objectName() == QStringLiteral("dialog1503");
            auto* slider = Control<QSlider>(dialog, IDC_ADJUST1);
            QWidget* preview = Control(dialog, 502);
            if (slider && preview) {
                QVERIFY(QTest::qWaitForWindowExposed(dialog));
                const QImage first = Picture(preview);
                // The thumb sits in the middle at 25 of 0..50; drag it most of the way right.
                const QPoint from(slider->width() / 2, slider->height() / 2);
                const QPoint to(slider->width() * 9 / 10, slider->height() / 2);
                QTest::mousePress(slider, Qt::LeftButton, {}, from);
                for (int i = 1; i <= 4; ++i) QTest::mouseMove(slider, from + (to - from) * i / 4);
                // A small picture previews in far less than 40 ms: it follows the drag.
                liveChanged = Picture(preview) != first;
                QTest::mouseRelease(slider, Qt::LeftButton, {}, to);
                position = slider->value();
                previewChanged = Picture(preview) != first;
            }
            if (auto* ok = Control<QPushButton>(dialog, IDOK))
                QTest::mouseClick(ok, Qt::LeftButton);
            if (dialog->isVisible()) dialog->reject();
        });
        action->trigger();
        UninstallQtDialogHost();

        QVERIFY(sawDialog);
        QVERIFY2(position > 30, qPrintable(QString::number(position)));
        QVERIFY(liveChanged);
        QVERIFY(previewChanged);
        QCOMPARE(view.GetDocument().UndoName(), std::string("Brightness/Contrast"));
        QVERIFY(GetRValue(L_GetPixelColor(&layer, 10, 10)) > GetRValue(before) ||
                GetRValue(before) == 255);
        QVERIFY(L_GetPixelColor(&layer, 10, 10) != before);

        // Undo from the Edit menu, which names the step.
        QAction* undo = frame.CommandAction(CM_EDITUNDO);
        for (QAction* top : frame.menuBar()->actions())
            if (top->menu() && top->menu()->actions().contains(undo))
                emit top->menu()->aboutToShow();
        QVERIFY(undo->text().contains(QStringLiteral("Brightness/Contrast")));
        undo->trigger();
        QCOMPARE(L_GetPixelColor(view.GetImageData()->Image.GetCurrentLayer(), 10, 10), before);
        QVERIFY(boxes.Shown.empty());
        SetMessageBoxHost(nullptr);
    }
};

QUILLO_QT_TEST(EffectDialogEndToEndTest);
#include "EffectDialogEndToEndTest.moc"
