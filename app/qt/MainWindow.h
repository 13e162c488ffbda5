// The editor's main window: an MDI area of image windows, the File and View menus and a
// status bar showing the active image's size and depth.
#pragma once

#include <QMainWindow>

#include "MessageBox.h"

class QAction;
class QLabel;
class QMdiArea;
class TImageView;

// Message boxes shown with QMessageBox, parented to the active window.
class QtMessageBoxes : public IMessageBoxHost {
public:
    TMbResult Show(const std::string& text, const std::string& caption, TMbButtons buttons, TMbIcon icon) override;
};

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    // The MDI area outlives this class's members while QWidget tears it down, and it
    // reports activations on the way; they must no longer reach the status bar.
    ~MainWindow() override;

    // Opens the file in a new image window; on failure the user is told why and no window
    // is added. True when the window was added.
    bool OpenFile(const QString& path);

    QMdiArea* MdiArea() const { return mdi_; }
    // The view of the current image window (null: none).
    TImageView* ActiveView() const;
    // Re-reads the status texts of the active view.
    void UpdateStatus();

private:
    void AddViewCommand(QMenu* menu, int id, const QString& text, const QKeySequence& key);
    void EnableViewCommands();
    void OpenWithDialog();

    QMdiArea* mdi_;
    QLabel* sizeLabel_;
    QLabel* bppLabel_;
    QList<QAction*> viewCommands_;
};
