// The editor's main frame: the document windows in an MDI area, the menu bar built from the
// menu tables (menu 100 while no document is open, menu 200 with one), the tool bars, the
// status bar with its gadgets and progress gauge, and the floating tool windows. Every menu
// item, button and accelerator is a command id routed through the active view, the document
// manager and the frame itself.
#pragma once

#include <QHash>
#include <QMainWindow>

#include <functional>
#include <string>

#include "CommandIds.h"
#include "Commands.h"
#include "DocManager.h"
#include "MessageBox.h"
#include "ProgressGauge.h"

class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QProgressBar;
class QTimer;
class QToolBar;
class TColorPaletteBar;
class TImageChild;
class TImageView;
class LayerListWindow;
class TStatusGauge;
class ToolOptionsWindow;

// Message boxes shown with QMessageBox, parented to the active window.
class QtMessageBoxes : public IMessageBoxHost {
public:
    TMbResult Show(const std::string& text, const std::string& caption, TMbButtons buttons,
                   TMbIcon icon) override;
};

// Status bar gadgets: the message area with the active view's hint, then the rest.
enum : int {
    IDG_MESSAGE = 32040,
    IDG_IMAGESIZE = 14001,
    IDG_BPP = 14002,
    IDG_SELECTION = 14003,
    IDG_CURSOR = 14004,
    IDG_GAUGE = 7000,
};

class TQuilloFrame : public QMainWindow, public ICommandTarget, public IDocViewFactory {
    Q_OBJECT
public:
    // The frame with its status bar, tool bars, menu 100 and the (hidden) tool windows. The
    // manager must outlive the frame; the frame becomes its view factory.
    explicit TQuilloFrame(TDocManager& manager, QWidget* parent = nullptr);
    ~TQuilloFrame() override;

    TDocManager& Manager() const { return manager_; }
    QMdiArea* MdiArea() const { return mdi_; }
    // The view of the active document window (null: none).
    TImageView* ActiveView() const;

    // --- Commands.
    // The chain as it stands now: the active view, the document manager, the frame.
    const TCommandRouter& Router();
    // The action of a command id (every id of the menus, bars and accelerators has one).
    QAction* CommandAction(int id) const;
    // Runs a command through the chain, then brings the bars, the status bar and the layer
    // list up to date. True when it ran.
    bool ExecuteCommand(int id);
    // Asks the chain for the enabled/checked/text state of every action.
    void UpdateCommandStates();
    // The menu resource installed: 100 or 200.
    int MenuResourceId() const { return menuId_; }

    // --- Status bar.
    // Re-reads the gadgets' texts from the active view; a gadget repaints only when its
    // text changed.
    void UpdateStatus();
    QString StatusText(int gadgetId) const;
    IProgressGauge& Gauge();
    QProgressBar* GaugeWidget() const;

    // --- Bars and tool windows.
    // The window a View toggle (CM_VIEW_MAINBAR .. CM_VIEW_LAYERLIST) shows or hides.
    QWidget* ToggledWindow(int commandId) const;
    QWidget* ToolOptionsBar() const;
    ToolOptionsWindow* ToolOptions() const { return toolOptions_; }
    LayerListWindow* LayerList() const { return layerList_; }
    TColorPaletteBar* PaletteBar() const { return palette_; }

    // Asked when the frame is about to close (the application's shutdown); false keeps the
    // frame open. Unset, the documents are closed through the manager.
    std::function<bool()> CanCloseHandler;

    // --- IDocViewFactory.
    void CreateView(TDocument& doc) override;
    void DestroyViews(TDocument& doc) override;
    TDocument* ActiveDocument() const override;
    void ActivateView(TDocument& doc) override;

    // --- The frame's own commands: Exit, the window commands, the View toggles and Help.
    void CommandEnable(TCommandEnabler& ce) override;
    bool Command(int id) override;

signals:
    // The first paint of a document window reached the screen.
    void DocumentPainted();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class TImageChild;

    void BuildStatusBar();
    void BuildToolBars();
    void BuildToolWindows();
    void BuildActions();
    QMenu* BuildMenu(const struct TMenuDef& def, QWidget* parent);
    void InstallMenu(int resourceId);
    QAction* EnsureAction(int id, const std::string& text);
    void UpdateActionState(QAction* action);
    void UpdateMenuStates(QMenu* menu);
    void FillWindowList(QMenu* menu);
    void OnActiveChildChanged();
    // The colour bar offers the active image's own colours (see TImageView::PanelColors).
    void UpdatePanelColors();
    void OnIdle();
    void ArrangeIcons();
    // The document windows whose views are alive.
    QList<TImageChild*> Children() const;
    TImageChild* ActiveChild() const;
    void RequestCloseDoc(TImageChild& child);

    TDocManager& manager_;
    QMdiArea* mdi_;
    TCommandRouter router_;
    QHash<int, QAction*> actions_;
    QHash<int, QString> tableTexts_; // the menu text of each id as the tables give it
    QList<QMenu*> menus100_, menus200_;
    QList<QAction*> windowListActions_;
    int menuId_ = 0;
    QHash<int, QLabel*> gadgets_;
    TStatusGauge* gauge_ = nullptr;
    QToolBar* mainBar_ = nullptr;
    QToolBar* effectsBar_ = nullptr;
    QToolBar* toolsBar_ = nullptr;
    TColorPaletteBar* palette_ = nullptr;
    ToolOptionsWindow* toolOptions_ = nullptr;
    LayerListWindow* layerList_ = nullptr;
    QTimer* idle_ = nullptr;
    bool firstPaintSeen_ = false;
};
