// The whole editor as a user starts it, with files on the command line, in a private home
// folder: the document windows, the tool windows, the recent files, the file associations,
// and what shutdown writes.
#include <QDir>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

#include "AppFiles.h"
#include "CommandTables.h"
#include "CommonDialogs.h"
#include "ImageDocManager.h"
#include "ImageView.h"
#include "LayerListWindow.h"
#include "LayeredImageHandler.h"
#include "Options.h"
#include "PrivateHome.h"
#include "ProfileFile.h"
#include "QuilloApp.h"
#include "Registration.h"
#include "TestRegistry.h"

namespace {
const QString kSamplePng = QStringLiteral(QUILLO_TEST_DATA "/sample.png");
const QString kSampleQlx = QStringLiteral(QUILLO_TEST_DATA "/../../data/sample.qlx");

// The command's menu item, brought up to date by opening its pop-up as a user would.
QAction* MenuItem(TQuilloFrame& f, int id) {
    QAction* action = f.CommandAction(id);
    for (QAction* top : f.menuBar()->actions())
        if (top->menu() && top->menu()->actions().contains(action)) emit top->menu()->aboutToShow();
    return action;
}

std::vector<std::string> Args(const QStringList& list) {
    std::vector<std::string> args;
    for (const QString& s : list) args.push_back(s.toStdString());
    return args;
}

} // namespace

class EditorTest : public QObject {
    Q_OBJECT
private slots:
    void StartsWithFilesAndStoresWhereItsWindowsAreAtShutdown() {
        TPrivateHome home;
        TQuilloApp app(Args({home.Path("missing.png"), kSamplePng, "-aSecond", kSampleQlx}),
                       TQuilloApp::THosts::Keep);
        app.Start();
        TQuilloFrame& f = app.Frame();
        QVERIFY(QTest::qWaitForWindowExposed(&f));

        // The missing file was reported and the others still opened, the last one active.
        QCOMPARE(home.Boxes.Shown.size(), size_t(1));
        QVERIFY(home.Boxes.Shown[0].Text.find("missing.png") != std::string::npos);
        QCOMPARE(f.MdiArea()->subWindowList().size(), 2);
        QCOMPARE(f.MdiArea()->subWindowList()[0]->windowTitle(), QStringLiteral("sample.png"));
        QCOMPARE(f.MdiArea()->currentSubWindow()->windowTitle(), QStringLiteral("sample.qlx"));
        QCOMPARE(app.InstanceName(), std::string("aSecond"));
        QCOMPARE(f.MenuResourceId(), int(IDM_IMAGE));

        // The status bar and the layer list show the active image.
        TLayeredImage& image = f.ActiveView()->GetImageData()->Image;
        QCOMPARE(f.StatusText(IDG_IMAGESIZE), QStringLiteral("W,H: %1,%2")
                                                  .arg(image.GetLayer(0)->Width)
                                                  .arg(image.GetLayer(0)->Height));
        LayerListWindow& list = *f.LayerList();
        QVERIFY(list.isVisible());
        QVERIFY(image.Count() > 2); // unlike sample.png's one
        // On a first start it covers no tool bar.
        for (const QWidget* tool : {static_cast<QWidget*>(&list), f.ToolOptionsBar()}) {
            const QRect placed = tool->frameGeometry();
            QVERIFY(!placed.intersects(
                QRect(f.menuBar()->mapToGlobal(QPoint(0, 0)), f.menuBar()->size())));
            for (QToolBar* bar : f.findChildren<QToolBar*>())
                if (bar->isVisible())
                    QVERIFY2(!placed.intersects(QRect(bar->mapToGlobal(QPoint(0, 0)), bar->size())),
                             qPrintable(bar->objectName()));
        }
        QVERIFY(!list.frameGeometry().intersects(f.ToolOptionsBar()->frameGeometry()));
        QCOMPARE(list.Logic().Count(), image.Count());

        // The File menu offers the files just opened, newest first; empty slots are hidden.
        QAction* recent = MenuItem(f, CM_MRU_FIRST);
        QVERIFY(recent && recent->isVisible() && recent->isEnabled());
        QVERIFY2(recent->text().contains("sample.qlx"), qPrintable(recent->text()));
        QVERIFY(MenuItem(f, CM_MRU_FIRST + 1)->text().contains("sample.png"));
        QVERIFY(!MenuItem(f, CM_MRU_FIRST + 2)->isVisible());

        // The file associations were written into the private data folder.
        for (const std::string& file : RegisteredFiles())
            QVERIFY2(QFile::exists(home.Path("data/") + QString::fromStdString(file)),
                     file.c_str());

        // The active image reached the screen: its window is not one flat colour.
        QApplication::processEvents();
        const QImage img = f.grab().toImage();
        QWidget* area = f.MdiArea()->currentSubWindow()->widget();
        const QPoint c = area->mapTo(&f, area->rect().center());
        QVERIFY(img.pixel(c) != img.pixel(c + QPoint(30, 30)) ||
                img.pixel(c) != img.pixel(c - QPoint(30, 30)));

        // Shutdown writes where the windows are.
        f.setGeometry(60, 70, 800, 560);
        list.move(33, 150);
        list.resize(210, 130);
        QVERIFY(f.close());
        QVERIFY(app.Manager().Documents().empty());
        const TProfileFile ini = home.Settings();
        QCOMPARE(ini.GetString("Placement", "IsMaximized"), std::string("0"));
        QCOMPARE(ini.GetString("Placement", "PlacementBox"), std::string("60 70 860 630"));
        QCOMPARE(ini.GetInt("Options", "LayerListX", -1), 33);
        QCOMPARE(ini.GetInt("Options", "LayerListH", -1), 130);
        QCOMPARE(ini.GetString("Recent File List", "File1"),
                 QDir::cleanPath(kSampleQlx).toStdString());
    }

    // The frame comes back maximized over its stored box, which it keeps for the next run;
    // the tool windows come back where they were.
    void StoredPlacementIsRestoredAndKept() {
        TPrivateHome home;
        QDir().mkpath(home.Path("config/quillo"));
        QFile ini(home.SettingsPath());
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(
            "[Placement]\nIsMaximized=1\nPlacementBox=30 40 630 540\n"
            "[Options]\nLayerListX=70\nLayerListY=180\nToolOptX=300\n");
        ini.close();

        TQuilloApp app({}, TQuilloApp::THosts::Keep);
        app.Start();
        TQuilloFrame& f = app.Frame();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QVERIFY(f.isMaximized());
        QCOMPARE(f.normalGeometry(), QRect(30, 40, 600, 500));
        QCOMPARE(f.LayerList()->pos(), QPoint(70, 180));
        QCOMPARE(f.ToolOptionsBar()->x(), 300);
        QVERIFY(f.close());
        const TProfileFile saved = home.Settings();
        QCOMPARE(saved.GetString("Placement", "IsMaximized"), std::string("1"));
        QCOMPARE(saved.GetString("Placement", "PlacementBox"), std::string("30 40 630 540"));
    }

    void UnregisterRemovesTheAssociationsAndStops() {
        TPrivateHome home;
        QVERIFY(RegisterFileTypes(ExecutablePath()));
        TQuilloApp app(Args({"/unreg", kSamplePng}), TQuilloApp::THosts::Keep);
        app.Start();
        QVERIFY(app.Manager().Documents().empty());
        for (const std::string& file : RegisteredFiles())
            QVERIFY2(!QFile::exists(home.Path("data/") + QString::fromStdString(file)),
                     file.c_str());
    }

    void AnUnsavableDocumentKeepsTheEditorOpen() {
        TPrivateHome home;
        QDir().mkpath(home.Path("work"));
        const QString copy = home.Path("work/photo.png");
        QVERIFY(QFile::copy(kSamplePng, copy));
        TQuilloApp app(Args({copy}), TQuilloApp::THosts::Keep);
        app.Start();
        TQuilloFrame& f = app.Frame();
        QVERIFY(f.ExecuteCommand(CM_LAYER_DUPLICATE));
        // The folder goes away: saving fails, and Save As is cancelled.
        QVERIFY(QDir(home.Path("work")).removeRecursively());
        home.Boxes.QueueAnswer(TMbResult::Yes);
        QVERIFY(!f.close());
        QVERIFY(f.isVisible());
        QCOMPARE(app.Manager().Documents().size(), size_t(1));
        QVERIFY(!home.Settings().HasKey("Placement", "PlacementBox"));

        // Declining to save lets it close.
        home.Boxes.QueueAnswer(TMbResult::No);
        QVERIFY(f.close());
        QVERIFY(app.Manager().Documents().empty());
        QVERIFY(home.Settings().HasKey("Placement", "PlacementBox"));
    }
};

QUILLO_QT_TEST(EditorTest);
#include "EditorTest.moc"
