// The real main window with the program's document manager and scripted message boxes, and
// the ways a user reaches it: the Tools bar, the menus, and the mouse on a document window.
#pragma once

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <string>

#include "ImageDocManager.h"
#include "ImageView.h"
#include "MainWindow.h"
#include "QtWindowHost.h"

const std::string kSamplePng = QUILLO_TEST_DATA "/sample.png";
const std::string kSampleQlx = QUILLO_TEST_DATA "/../../data/sample.qlx";

// The pop-up holding the action, opened as a user opens it so that its items are up to date.
inline QMenu* OpenMenuHolding(QMainWindow& w, QAction* action) {
    for (QAction* top : w.menuBar()->actions())
        if (QMenu* menu = top->menu(); menu && menu->actions().contains(action)) {
            emit menu->aboutToShow();
            return menu;
        }
    return nullptr;
}

// The command's menu item, up to date; null when no pop-up holds it.
inline QAction* MenuItem(TQuilloFrame& f, int id) {
    QAction* action = f.CommandAction(id);
    return OpenMenuHolding(f, action) ? action : nullptr;
}

struct TFrameFixture {
    THeadlessMessageBoxes boxes;
    TImageDocManager manager;
    TQuilloFrame frame{manager};
    TFrameFixture() { SetMessageBoxHost(&boxes); }
    ~TFrameFixture() { SetMessageBoxHost(nullptr); }

    // Shows the frame and opens the file in it.
    bool ShowWith(const std::string& file) {
        frame.show();
        if (!QTest::qWaitForWindowExposed(&frame)) return false;
        manager.OpenDroppedFiles({file});
        return Host() != nullptr;
    }
    QtWindowHost* Host() const {
        QMdiSubWindow* sub = frame.MdiArea()->currentSubWindow();
        return sub ? qobject_cast<QtWindowHost*>(sub->widget()) : nullptr;
    }
    QWidget* Canvas() const { return Host()->viewport(); }
    TImageView& View() const { return *frame.ActiveView(); }
    // Where image point (x, y) is in the document window.
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
