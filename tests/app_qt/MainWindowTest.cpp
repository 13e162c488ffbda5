// The main window on the offscreen platform: opening an image from the command-line path,
// the status bar, a View menu command reaching the view, and a picture of the result.
#include <QDir>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>

#include "ImageView.h"
#include "MainWindow.h"
#include "TestRegistry.h"

namespace {
QAction* FindAction(QMenu* menu, const QString& text) {
    for (QAction* a : menu->actions())
        if (a->text() == text) return a;
    return nullptr;
}

QMenu* FindMenu(QMainWindow& w, const QString& title) {
    for (QAction* a : w.menuBar()->actions())
        if (a->text() == title) return a->menu();
    return nullptr;
}

QStringList StatusTexts(QMainWindow& w) {
    QStringList texts;
    for (QLabel* label : w.statusBar()->findChildren<QLabel*>()) texts << label->text();
    return texts;
}
} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void OpensSampleAndZoomsFromViewMenu() {
        THeadlessMessageBoxes boxes;
        SetMessageBoxHost(&boxes);
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(w.OpenFile(QStringLiteral(QUILLO_TEST_DATA "/sample.png")));
        QCOMPARE(w.MdiArea()->subWindowList().size(), 1);
        QVERIFY(StatusTexts(w).contains("W,H: 320,240"));

        TImageView* view = w.ActiveView();
        QVERIFY(view);
        QCOMPARE(view->Zoom, 1.0);
        QMenu* menu = FindMenu(w, "&View");
        QVERIFY(menu);
        emit menu->aboutToShow();
        QAction* zoomIn = FindAction(menu, "Zoom I&n");
        QVERIFY(zoomIn && zoomIn->isEnabled());
        zoomIn->trigger();
        QCOMPARE(view->Zoom, 2.0);

        QApplication::processEvents();
        const QPixmap shot = w.grab();
        QVERIFY(!shot.isNull());
        QDir().mkpath(QUILLO_TEST_OUT);
        QVERIFY(shot.save(QUILLO_TEST_OUT "/main-window.png"));
        // The image reached the screen: the view's area is not all one colour.
        const QImage img = shot.toImage();
        const QMdiSubWindow* sub = w.MdiArea()->subWindowList().first();
        const QPoint centre = sub->widget()->mapTo(&w, sub->widget()->rect().center());
        QVERIFY(img.pixel(centre) != img.pixel(sub->widget()->mapTo(&w, QPoint(1, 1))) ||
                img.pixel(centre) != img.pixel(centre + QPoint(20, 20)));
        SetMessageBoxHost(nullptr);
    }

    void UnreadableFileShowsTheToolkitMessage() {
        THeadlessMessageBoxes boxes;
        SetMessageBoxHost(&boxes);
        MainWindow w;
        QVERIFY(!w.OpenFile(QStringLiteral(QUILLO_TEST_DATA "/no-such-file.png")));
        QCOMPARE(w.MdiArea()->subWindowList().size(), 0);
        QCOMPARE(boxes.Shown.size(), size_t(1));
        QVERIFY(boxes.Shown[0].Text.find("no-such-file.png") != std::string::npos);
        SetMessageBoxHost(nullptr);
    }
};

QUILLO_QT_TEST(MainWindowTest);
#include "MainWindowTest.moc"
