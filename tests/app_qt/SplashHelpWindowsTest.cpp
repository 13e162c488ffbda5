// The start-up picture and the help window on the offscreen platform.
#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include "AboutBox.h"
#include "AppFiles.h"
#include "CommandIds.h"
#include "HelpWindow.h"
#include "SplashWindow.h"
#include "TestRegistry.h"
#include "Toolkit.h"

namespace {

// The open help window's browser, if any.
QTextBrowser* HelpBrowser() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible())
            if (auto* b = w->findChild<QTextBrowser*>()) return b;
    return nullptr;
}

} // namespace

class SplashHelpWindowsTest : public QObject {
    Q_OBJECT
private slots:
    void builtInPictureIsUsedWithoutAUsableIntroImage() {
        QTemporaryDir dir;
        QFile notes(dir.filePath("notes.png"));
        QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("this is not a picture") > 0);
        notes.close();
        for (const QString& path : {QString(), dir.filePath("missing.png"), notes.fileName()}) {
            TSplashWindow splash(path);
            QVERIFY2(splash.IsBuiltInPicture(), qPrintable(path));
            // The picture is compiled into the program: a missing resource would show black.
            QCOMPARE(splash.Picture().size(), QSize(400, 300));
        }
    }

    // A smaller picture is drawn unscaled in the middle, on black; a bigger one is shrunk to
    // fit, keeping its shape (800 x 300 -> 400 x 150).
    void introImageIsShownCentredAndFitted() {
        const struct {
            QSize size;
            QColor colour;
            QList<QPoint> inside, outside;
        } cases[] = {
            {{200, 100}, Qt::red, {{200, 150}, {100, 100}, {299, 199}}, {{99, 150}, {200, 200}}},
            {{800, 300}, Qt::blue, {{2, 150}, {200, 80}}, {{200, 70}}}};
        QTemporaryDir dir;
        for (const auto& c : cases) {
            QImage picture(c.size, QImage::Format_RGB32);
            picture.fill(c.colour);
            const QString path = dir.filePath(QStringLiteral("%1.png").arg(c.size.width()));
            QVERIFY(picture.save(path));
            TSplashWindow splash(path);
            QVERIFY(!splash.IsBuiltInPicture());
            QCOMPARE(splash.size(), QSize(400, 300));
            const QImage shot = splash.grab().toImage();
            for (QPoint p : c.inside) QCOMPARE(QColor(shot.pixel(p)), c.colour);
            for (QPoint p : c.outside) QCOMPARE(QColor(shot.pixel(p)), QColor(Qt::black));
        }
    }

    // Intro pictures in formats only the program's own toolkit reads still show.
    void picturesAreReadThroughTheToolkitToo() {
        QTemporaryDir dir;
        BITMAPHANDLE b;
        QCOMPARE(L_CreateBitmap(&b, 0, 30, 20, 24, ORDER_BGR, nullptr, TOP_LEFT), SUCCESS);
        for (int y = 0; y < 20; ++y) {
            uint8_t* row = L_RowPtr(&b, y);
            for (int x = 0; x < 30; ++x)
                row[3 * x] = 255, row[3 * x + 1] = uint8_t(y * 10), row[3 * x + 2] = 0;
        }
        const QByteArray path = dir.filePath("picture.tif").toLocal8Bit();
        QCOMPARE(L_SaveBitmap(path.constData(), &b, 3, 24, 0), SUCCESS);
        L_FreeBitmap(&b);
        const QImage image = TSplashWindow::LoadPicture(QString::fromLocal8Bit(path));
        QCOMPARE(image.size(), QSize(30, 20));
        QCOMPARE(QColor(image.pixel(4, 7)), QColor(0, 70, 255));
    }

    void closesItselfAfterItsTimeOrWhenClicked() {
        QPointer<TSplashWindow> timed = new TSplashWindow(QString(), 50);
        timed->ShowNow();
        QVERIFY(timed->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(timed.isNull(), 2000);

        QPointer<TSplashWindow> clicked = new TSplashWindow(QString(), 60000);
        clicked->ShowNow();
        QTest::mouseClick(clicked.data(), Qt::LeftButton, {}, QPoint(10, 10));
        QTRY_VERIFY_WITH_TIMEOUT(clicked.isNull(), 2000);
    }

    void helpOpensOnTheTopicsPageAndClosesAtShutdown() {
        QVERIFY(!FindHelpFile().empty());
        ShowHelp(nullptr, CM_LAYER_REMOVE);
        QVERIFY(HelpWasOpened());
        QTextBrowser* browser = HelpBrowser();
        QVERIFY(browser);
        QCOMPARE(browser->source().fileName(), QString("layer-menu.html"));
        QCOMPARE(browser->source().fragment(), QString("remove"));
        QVERIFY(browser->toPlainText().contains("Remove"));

        // Asking again reuses the window.
        ShowHelp(nullptr, 0);
        QCOMPARE(HelpBrowser(), browser);
        QCOMPARE(browser->source().fileName(), QString("index.html"));

        QPointer<QTextBrowser> watch = browser;
        CloseHelp();
        QTRY_VERIFY(watch.isNull());
        QVERIFY(!HelpBrowser());
        CloseHelp(); // nothing open: nothing happens
    }

    // The companion library built with the program shows its dialog over the main window.
    void aboutBoxShowsTheProgramsNameVersionAndPicture() {
        TAboutLibrary library;
        if (!library.Entry()) QSKIP("the about-box library was not built");
        QWidget mainWindow;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            if (!dialog) return;
            poll.stop();
            const auto close = qScopeGuard([dialog] { dialog->close(); });
            QCOMPARE(dialog->parentWidget(), &mainWindow);
            QStringList texts;
            QSize picture;
            for (QLabel* label : dialog->findChildren<QLabel*>()) {
                if (!label->text().isEmpty()) texts << label->text();
                if (!label->pixmap().isNull()) picture = label->pixmap().size();
            }
            QVERIFY2(texts.join('|').contains("Quillo Professional"), qPrintable(texts.join('|')));
            QVERIFY2(texts.join('|').contains(QRegularExpression("Version \\d+\\.\\d+")),
                     qPrintable(texts.join('|')));
            QCOMPARE(picture, QSize(400, 300));
        });
        poll.start(10);
        QVERIFY(ShowAboutBox(&mainWindow));
        QVERIFY(!poll.isActive()); // the dialog was seen
    }
};

QUILLO_QT_TEST(SplashHelpWindowsTest);
#include "SplashHelpWindowsTest.moc"
