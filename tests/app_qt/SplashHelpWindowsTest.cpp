// The start-up picture and the help window on the offscreen platform.
#include <QApplication>
#include <QPointer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include <QLabel>
#include <QTimer>

#include "AboutBox.h"
#include "AppFiles.h"
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
        const QString notAnImage = dir.filePath("notes.png");
        QFile f(notAnImage);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("this is not a picture");
        f.close();
        for (const QString& path : {QString(), dir.filePath("missing.png"), notAnImage}) {
            TSplashWindow splash(path);
            QVERIFY2(splash.IsBuiltInPicture(), qPrintable(path));
            // The picture is compiled into the program: a missing resource would show black.
            QCOMPARE(splash.Picture().size(), QSize(400, 300));
        }
    }

    void introImageIsShownCentredAndFitted() {
        QTemporaryDir dir;
        QImage small(200, 100, QImage::Format_RGB32);
        small.fill(Qt::red);
        QVERIFY(small.save(dir.filePath("small.png")));
        TSplashWindow splash(dir.filePath("small.png"));
        QVERIFY(!splash.IsBuiltInPicture());
        QCOMPARE(splash.size(), QSize(400, 300));
        QImage shot = splash.grab().toImage();
        QCOMPARE(QColor(shot.pixel(200, 150)), QColor(Qt::red));
        // Smaller than the window: drawn unscaled at (100, 100)-(300, 200) on black.
        QCOMPARE(QColor(shot.pixel(100, 100)), QColor(Qt::red));
        QCOMPARE(QColor(shot.pixel(299, 199)), QColor(Qt::red));
        QCOMPARE(QColor(shot.pixel(99, 150)), QColor(Qt::black));
        QCOMPARE(QColor(shot.pixel(200, 200)), QColor(Qt::black));

        // Bigger than the window: shrunk to fit, keeping its shape (800 x 300 -> 400 x 150).
        QImage wide(800, 300, QImage::Format_RGB32);
        wide.fill(Qt::blue);
        QVERIFY(wide.save(dir.filePath("wide.png")));
        TSplashWindow big(dir.filePath("wide.png"));
        shot = big.grab().toImage();
        QCOMPARE(QColor(shot.pixel(2, 150)), QColor(Qt::blue));
        QCOMPARE(QColor(shot.pixel(200, 80)), QColor(Qt::blue));
        QCOMPARE(QColor(shot.pixel(200, 70)), QColor(Qt::black));
    }

    // Intro pictures in formats only the program's own toolkit reads still show.
    void picturesAreReadThroughTheToolkitToo() {
        QTemporaryDir dir;
        BITMAPHANDLE b;
        QCOMPARE(L_CreateBitmap(&b, 0, 30, 20, 24, ORDER_BGR, nullptr, TOP_LEFT), SUCCESS);
        for (int y = 0; y < 20; ++y) {
            uint8_t* row = L_RowPtr(&b, y);
            for (int x = 0; x < 30; ++x) row[3 * x] = 255, row[3 * x + 1] = uint8_t(y * 10), row[3 * x + 2] = 0;
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
        ShowHelp(nullptr, 15856);
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
        QWidget* dialogParent = nullptr;
        QStringList texts;
        QSize picture;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            if (!dialog) return;
            dialogParent = dialog->parentWidget();
            for (QLabel* label : dialog->findChildren<QLabel*>()) {
                if (!label->text().isEmpty()) texts << label->text();
                if (!label->pixmap().isNull()) picture = label->pixmap().size();
            }
            dialog->close();
        });
        poll.start(10);
        QVERIFY(ShowAboutBox(&mainWindow));
        QCOMPARE(dialogParent, &mainWindow);
        QVERIFY2(texts.join('|').contains("Quillo Professional"), qPrintable(texts.join('|')));
        QVERIFY2(texts.join('|').contains(QRegularExpression("Version \\d+\\.\\d+")), qPrintable(texts.join('|')));
        QCOMPARE(picture, QSize(400, 300));
    }
};

QUILLO_QT_TEST(SplashHelpWindowsTest);
#include "SplashHelpWindowsTest.moc"
