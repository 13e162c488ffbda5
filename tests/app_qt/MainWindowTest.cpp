// The main frame on the offscreen platform: menus that follow the open documents, commands
// and Undo from the menus, the View toggles, closing document windows, dropped files and
// the gauge.
#include <QMimeData>
#include <QProgressBar>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBrowser>

#include "AppFiles.h"
#include "CommandTables.h"
#include "FrameFixture.h"
#include "HelpWindow.h"
#include "LayerListWindow.h"
#include "StartupRules.h"
#include "TestRegistry.h"

namespace {
const std::string kSample = kSamplePng;

QStringList MenuTitles(QMainWindow& w) {
    QStringList titles;
    for (QAction* a : w.menuBar()->actions()) titles << a->text();
    return titles;
}

QStringList ResourceTitles(int id) {
    QStringList titles;
    for (const TMenuDef& popup : MenuResource(id).Items)
        titles << QString::fromStdString(popup.Text);
    return titles;
}

QStringList Gadgets(const TQuilloFrame& f) {
    return {f.StatusText(IDG_IMAGESIZE), f.StatusText(IDG_BPP), f.StatusText(IDG_SELECTION),
            f.StatusText(IDG_CURSOR)};
}

using TFixture = TFrameFixture;
} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void DroppedFilesOpenAndMenusStatusAndLayerListFollow() {
        TFixture fx;
        TQuilloFrame& f = fx.frame;
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        const auto checkEmpty = [&] {
            QCOMPARE(f.MenuResourceId(), int(IDM_NODOC));
            QCOMPARE(MenuTitles(f), ResourceTitles(IDM_NODOC));
            QCOMPARE(Gadgets(f), QStringList(4, QString()));
            QCOMPARE(f.LayerList()->Logic().Count(), 0);
        };
        checkEmpty();

        // A dropped image opens; a dropped file of an unknown type is skipped without a word.
        QTemporaryDir dir;
        const QString notes = dir.filePath("notes.txt");
        QFile(notes).open(QIODevice::WriteOnly);
        QMimeData data;
        data.setUrls(
            {QUrl::fromLocalFile(QString::fromStdString(kSample)), QUrl::fromLocalFile(notes)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(&f, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&f, &drop);
        QCOMPARE(fx.manager.Documents().size(), size_t(1));
        QCOMPARE(f.MdiArea()->subWindowList().size(), 1);
        QVERIFY(fx.boxes.Shown.empty());
        QCOMPARE(f.MenuResourceId(), int(IDM_IMAGE));
        QCOMPARE(MenuTitles(f), ResourceTitles(IDM_IMAGE));
        QCOMPARE(f.StatusText(IDG_IMAGESIZE), QStringLiteral("W,H: 320,240"));
        QCOMPARE(f.StatusText(IDG_BPP), QStringLiteral("24 BPP"));
        QCOMPARE(f.LayerList()->Logic().Count(), 1);
        QCOMPARE(f.ActiveDocument(), fx.manager.Documents().front().get());
        // A small image gets a window that shows all of it, without scroll bars.
        auto* host = qobject_cast<QAbstractScrollArea*>(f.MdiArea()->currentSubWindow()->widget());
        QVERIFY(host);
        QApplication::processEvents();
        QVERIFY(!host->horizontalScrollBar()->isVisible() &&
                !host->verticalScrollBar()->isVisible());
        QVERIFY(host->viewport()->width() >= 320 && host->viewport()->height() >= 240);

        // The view's own command, from its menu item.
        QAction* zoomIn = MenuItem(f, CM_ZOOM_IN);
        QVERIFY(zoomIn && zoomIn->isEnabled());
        zoomIn->trigger();
        QCOMPARE(f.ActiveView()->Zoom, 2.0);

        // Closing the (unchanged) window closes the document without a question.
        f.MdiArea()->subWindowList().first()->close();
        QApplication::processEvents();
        QVERIFY(fx.manager.Documents().empty());
        QVERIFY(fx.boxes.Shown.empty());
        checkEmpty();
        QTRY_VERIFY(f.MdiArea()->subWindowList().isEmpty());
    }

    // Commands reach the view from the menus; Undo and Redo take their texts and keys from
    // the history.
    void LayerCommandsAndUndoWorkFromTheMenus() {
        TFixture fx;
        TQuilloFrame& f = fx.frame;
        QVERIFY(fx.manager.OpenCommandLineFile(kSample));
        QMdiSubWindow* window = f.MdiArea()->currentSubWindow();
        QCOMPARE(window->windowTitle(), QStringLiteral("sample.png"));
        QAction* undo = MenuItem(f, CM_EDITUNDO);
        QVERIFY(undo && !undo->isEnabled());
        QAction* duplicate = MenuItem(f, CM_LAYER_DUPLICATE);
        QVERIFY(duplicate && duplicate->isEnabled());
        duplicate->trigger();
        QCOMPARE(f.LayerList()->Logic().Count(), 2);
        // Changed: the title says so at once, without waiting for the window to idle.
        QCOMPARE(window->windowTitle(), QStringLiteral("sample.png*"));

        MenuItem(f, CM_EDITUNDO);
        QVERIFY(undo->isEnabled());
        QCOMPARE(undo->text(), QStringLiteral("&Undo Duplicate Layer 'Background'\tCtrl+Z"));
        QVERIFY(undo->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_Z)));
        undo->trigger();
        QCOMPARE(f.LayerList()->Logic().Count(), 1);
        MenuItem(f, CM_EDITUNDO);
        QVERIFY(!undo->isEnabled());
        QCOMPARE(undo->text(), QStringLiteral("Undo"));
        QCOMPARE(window->windowTitle(), QStringLiteral("sample.png"));
        QCOMPARE(MenuItem(f, CM_EDITREDO)->text(),
                 QStringLiteral("&Redo Duplicate Layer 'Background'\tCtrl+Y"));
    }

    // A photo larger than the document area opens at the zoom that shows all of it, in a
    // window inside the area.
    void LargeImagesOpenZoomedToFitInsideTheDocumentArea() {
        TFixture fx;
        TQuilloFrame& f = fx.frame;
        f.resize(900, 700);
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QTemporaryDir dir;
        const QString big = dir.filePath("big.png");
        QImage image(3000, 1000, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        QVERIFY(image.save(big));
        QVERIFY(fx.manager.OpenCommandLineFile(big.toStdString()));
        QApplication::processEvents();
        const double zoom = f.ActiveView()->Zoom;
        QVERIFY2(zoom < 1 && zoom * 3000 <= f.MdiArea()->viewport()->width(),
                 qPrintable(QString::number(zoom)));
        QMdiSubWindow* window = f.MdiArea()->currentSubWindow();
        QVERIFY(f.MdiArea()->viewport()->rect().contains(window->geometry()));
        auto* host = qobject_cast<QAbstractScrollArea*>(window->widget());
        QVERIFY(host && !host->horizontalScrollBar()->isVisible() &&
                !host->verticalScrollBar()->isVisible());
        // A small one is shown at its size, never blown up.
        QVERIFY(fx.manager.OpenCommandLineFile(kSample));
        QCOMPARE(f.ActiveView()->Zoom, 1.0);
        QVERIFY(
            f.MdiArea()->viewport()->rect().contains(f.MdiArea()->currentSubWindow()->geometry()));
    }

    void F1OverAMenuItemOpensItsHelpInsteadOfRunningIt() {
        TFixture fx;
        TQuilloFrame& f = fx.frame;
        f.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QVERIFY(fx.manager.OpenCommandLineFile(kSample));
        QAction* duplicate = f.CommandAction(CM_LAYER_DUPLICATE);
        QMenu* menu = OpenMenuHolding(f, duplicate);
        QVERIFY(menu && duplicate->isEnabled());
        menu->popup(QPoint(50, 50));
        QVERIFY(QTest::qWaitForWindowExposed(menu));
        menu->setActiveAction(duplicate);
        QTest::keyClick(menu, Qt::Key_F1);
        QTRY_VERIFY(!menu->isVisible());
        QCOMPARE(f.ActiveView()->GetImageData()->Image.Count(), 1);
        QTextBrowser* help = nullptr;
        for (QWidget* w : QApplication::allWidgets())
            if (auto* b = qobject_cast<QTextBrowser*>(w)) help = b;
        QVERIFY(help);
        const QString page =
            QString::fromStdString(HelpPageFor(CM_LAYER_DUPLICATE)).section('#', 0, 0);
        QVERIFY2(help->source().toString().contains(page), qPrintable(help->source().toString()));
        CloseHelp();
    }

    void ClosingADirtyWindowAsksFirst() {
        TFixture fx;
        TQuilloFrame& f = fx.frame;
        QVERIFY(fx.manager.OpenCommandLineFile(kSample));
        QVERIFY(f.ExecuteCommand(CM_LAYER_DUPLICATE));
        // Cancelled: the window and its document stay.
        QMdiSubWindow* sub = f.MdiArea()->subWindowList().first();
        sub->close();
        QApplication::processEvents();
        QCOMPARE(fx.boxes.Shown.size(), size_t(1));
        QCOMPARE(fx.boxes.Shown[0].Text, std::string("Save changes to sample.png?"));
        QCOMPARE(fx.manager.Documents().size(), size_t(1));
        QCOMPARE(f.MdiArea()->subWindowList(), QList<QMdiSubWindow*>{sub});
        QVERIFY(f.ActiveView());
        // Declining to save, asked again: the window and the document go.
        fx.boxes.QueueAnswer(TMbResult::No);
        sub->close();
        QApplication::processEvents();
        QCOMPARE(fx.boxes.Shown.size(), size_t(2));
        QVERIFY(fx.manager.Documents().empty());
        QCOMPARE(f.MenuResourceId(), int(IDM_NODOC));

        // A frame closing without the application's say closes the documents through the
        // manager (the editor's own refusal is the editor test's).
        QVERIFY(fx.manager.OpenCommandLineFile(kSample));
        f.show();
        QVERIFY(f.close());
        QVERIFY(fx.manager.Documents().empty());
    }

    void ViewTogglesShowAndHideTheBarsAndToolWindows() {
        TFixture fx;
        TQuilloFrame& f = fx.frame;
        f.show();
        f.ToolOptionsBar()->show();
        f.LayerList()->show();
        QVERIFY(QTest::qWaitForWindowExposed(&f));
        QSet<QWidget*> windows;
        for (int id = CM_VIEW_MAINBAR; id <= CM_VIEW_LAYERLIST; ++id) {
            QWidget* w = f.ToggledWindow(id);
            QVERIFY2(w, qPrintable(QString::number(id)));
            windows.insert(w);
            QAction* toggle = MenuItem(f, id);
            QVERIFY(toggle && toggle->isEnabled() && toggle->isChecked());
            toggle->trigger();
            QVERIFY(w->isHidden());
            QVERIFY(!MenuItem(f, id)->isChecked());
            toggle->trigger();
            QVERIFY(!w->isHidden());
            QVERIFY(MenuItem(f, id)->isChecked());
        }
        QCOMPARE(windows.size(), CM_VIEW_LAYERLIST - CM_VIEW_MAINBAR + 1);
    }

    // When the gauge shows is the progress rule's business; here, that it drives this bar.
    void GaugeShowsASlowOperationAndGoesWhenItEnds() {
        TFixture fx;
        fx.frame.show();
        uint64_t now = 0;
        TProgressRule rule(fx.frame.Gauge(), [&] { return now; });
        QProgressBar* gauge = fx.frame.GaugeWidget();
        QVERIFY(gauge->isHidden());
        rule.OnProgress(0);
        now = 100;
        rule.OnProgress(10); // 10 ms per percent: slow
        QVERIFY(!gauge->isHidden());
        QCOMPARE(gauge->value(), 10);
        rule.OnProgress(100);
        QVERIFY(gauge->isHidden());
    }
};

QUILLO_QT_TEST(MainWindowTest);
#include "MainWindowTest.moc"
