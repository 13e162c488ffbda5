// The desktop side of the filters: the open dialog's preview panel reading the file under
// the cursor after its delay, and the progress window of a long operation shown while the
// operation runs, its Cancel reaching the operation through the pumped events.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "MessageBox.h"
#include "ProgressDialog.h"
#include "QtDialogHost.h"
#include "QtImageOpenPreview.h"
#include "TestRegistry.h"

class FilterWindowsTest : public QObject {
    Q_OBJECT
private slots:
    void PreviewPanelShowsTheFileUnderTheCursorAfterItsDelay() {
        QFileDialog dialog(nullptr, QStringLiteral("Open"), QStringLiteral(QUILLO_TEST_DATA));
        AttachImagePreview(dialog);
        auto* width = dialog.findChild<QLabel*>(QStringLiteral("control103"));
        auto* check = dialog.findChild<QCheckBox*>(QStringLiteral("control107"));
        QVERIFY(width && check && check->isChecked());
        QCOMPARE(width->text(), QStringLiteral("n/a"));
        emit dialog.currentChanged(QStringLiteral(QUILLO_TEST_DATA "/sample.png"));
        QCOMPARE(width->text(), QStringLiteral("n/a")); // not before the delay
        QTRY_COMPARE_WITH_TIMEOUT(width->text(), QStringLiteral("320"), 3000);
        check->click(); // off: cleared at once, and for the rest of the run
        QCOMPARE(width->text(), QStringLiteral("n/a"));
        check->click();
        QCOMPARE(width->text(), QStringLiteral("320"));
    }

    void ProgressWindowIsUpWhileTheOperationRunsAndItsCancelStopsIt() {
        // With a frame to belong to: the window must stay clickable over it.
        QWidget frame;
        frame.show();
        InstallQtDialogHost(&frame);
        THeadlessMessageBoxes boxes;
        boxes.QueueAnswer(TMbResult::Yes);
        IMessageBoxHost* old = SetMessageBoxHost(&boxes);
        bool shown = false;
        QElapsedTimer clock;
        clock.start();
        const L_INT rc = RunWithProgress(nullptr, ProgressDialogTemplate(1519, "Progress"), [&] {
            QWidget* w = nullptr;
            for (QWidget* top : QApplication::topLevelWidgets())
                if (top->objectName() == QStringLiteral("dialog1519") && top->isVisible()) w = top;
            shown = w != nullptr;
            if (w)
                QTimer::singleShot(0, w->findChild<QPushButton*>(QStringLiteral("control2")),
                                   &QPushButton::click);
            // Reports until the click has come through the pumped events and been answered.
            for (int p = 0; clock.elapsed() < 5000; p = (p + 1) % 100)
                if (L_INT r = L_ReportStatus(p); r != SUCCESS) return r;
            return L_INT(SUCCESS);
        });
        SetMessageBoxHost(old);
        UninstallQtDialogHost();
        QVERIFY(shown);
        QCOMPARE(rc, L_INT(ERROR_CANCELLED));
        QCOMPARE(boxes.Shown.size(), size_t(1));
    }
};

QUILLO_QT_TEST(FilterWindowsTest);
#include "FilterWindowsTest.moc"
