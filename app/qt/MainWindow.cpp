#include "MainWindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>

#include <algorithm>
#include <memory>

#include "AboutBox.h"
#include "ColorPaletteBar.h"
#include "CommandIcons.h"
#include "CommandTables.h"
#include "EffectCommands.h"
#include "HelpWindow.h"
#include "ImageDoc.h"
#include "ImageView.h"
#include "LayerListWindow.h"
#include "QtConvert.h"
#include "QtWindowHost.h"
#include "ToolOptionsWindow.h"
#include "ViewInteraction.h"

namespace {
constexpr int kIdleMs = 200;

} // namespace

// The status bar's gauge: hidden until an operation is slow enough to be worth showing.
class TStatusGauge : public QProgressBar, public IProgressGauge {
public:
    explicit TStatusGauge(QWidget* parent) : QProgressBar(parent) {
        setObjectName(QStringLiteral("gadget7000"));
        setRange(0, 100);
        setFixedSize(70, 20);
        setTextVisible(false);
        hide();
    }
    void SetValue(int percent) override {
        setValue(percent);
        // Back at 0 the operation is over: an empty gauge would only be noise.
        setVisible(percent > 0);
    }
    void Repaint() override {
        if (QWidget* bar = parentWidget()) bar->repaint();
    }
    void Hide() override { hide(); }
};

// A document window: the host of one view on one document. Closing it asks the document
// manager, which may keep the document open (a dirty one asks first); when the manager lets
// the document go it destroys the view here, and only then does the window go away.
class TImageChild : public QMdiSubWindow {
public:
    TImageChild(TQuilloFrame& frame, TImageDoc& doc)
        : frame_(frame), doc_(doc), host_(new QtWindowHost) {
        setWidget(host_);
        view_ = std::make_unique<TImageView>(doc_, *host_);
        AttachTools(*view_);
        AttachEffectCommands(*view_);
        setWindowIcon(DocumentIcon());
        UpdateTitle();
        // The document says when its unsaved state may have changed; the window may be
        // gone by then (the document outlives it while it closes).
        doc_.AddListener([self = QPointer<TImageChild>(this)](TDocument&, TDocEvent event) {
            if (self && event == TDocEvent::Changed) self->UpdateTitle();
        });
    }

    // The document's title, with "*" after it while it has unsaved changes.
    void UpdateTitle() {
        std::string title = doc_.GetTitle().empty() ? std::string("Untitled") : doc_.GetTitle();
        if (doc_.IsDirty()) title += '*';
        const QString text = ToQString(title);
        if (windowTitle() != text) setWindowTitle(text);
    }
    ~TImageChild() override { view_.reset(); }

    TImageDoc& Doc() const { return doc_; }
    TImageView* View() const { return view_.get(); }
    // What the view last wrote into the status bar's message area; it comes back when
    // the window is active again.
    const std::string& Hint() const { return hint_; }
    void SetHint(const std::string& hint) { hint_ = hint; }
    QtWindowHost* Host() const { return host_; }

    // The document is going: the view must go before it, the window may follow later.
    void DestroyView() {
        view_.reset();
        host_->SetClient(nullptr);
        hide();
        deleteLater();
    }

protected:
    void closeEvent(QCloseEvent* event) override {
        if (view_) {
            event->ignore();
            frame_.RequestCloseDoc(*this);
            return;
        }
        QMdiSubWindow::closeEvent(event);
    }

private:
    TQuilloFrame& frame_;
    TImageDoc& doc_;
    QtWindowHost* host_;
    std::unique_ptr<TImageView> view_;
    std::string hint_;
};

TMbResult QtMessageBoxes::Show(const std::string& text, const std::string& caption,
                               TMbButtons buttons, TMbIcon icon) {
    const QMessageBox::Icon qicon = icon == TMbIcon::Stop          ? QMessageBox::Critical
                                    : icon == TMbIcon::Exclamation ? QMessageBox::Warning
                                    : icon == TMbIcon::Question    ? QMessageBox::Question
                                                                   : QMessageBox::NoIcon;
    const QMessageBox::StandardButtons qbuttons =
        buttons == TMbButtons::YesNo ? QMessageBox::Yes | QMessageBox::No
        : buttons == TMbButtons::YesNoCancel
            ? QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel
            : QMessageBox::Ok;
    QMessageBox box(qicon, ToQString(caption), ToQString(text), qbuttons,
                    QApplication::activeWindow());
    if (buttons == TMbButtons::RecoverDiscardLater) {
        // The standard roles, with the words the question needs.
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.button(QMessageBox::Yes)->setText(QStringLiteral("&Recover"));
        box.button(QMessageBox::No)->setText(QStringLiteral("&Discard"));
        box.button(QMessageBox::Cancel)->setText(QStringLiteral("&Later"));
        box.setDefaultButton(QMessageBox::Yes);
    }
    switch (box.exec()) {
        case QMessageBox::Yes: return TMbResult::Yes;
        case QMessageBox::No: return TMbResult::No;
        case QMessageBox::Ok: return TMbResult::Ok;
        case QMessageBox::Cancel: return TMbResult::Cancel;
        // Closed with Esc or the title bar: the answer that changes nothing.
        default:
            return buttons == TMbButtons::YesNoCancel || buttons == TMbButtons::RecoverDiscardLater
                       ? TMbResult::Cancel
                   : buttons == TMbButtons::YesNo ? TMbResult::No
                                                  : TMbResult::Ok;
    }
}

// ---------------------------------------------------------------------------

TQuilloFrame::TQuilloFrame(TDocManager& manager, QWidget* parent)
    : QMainWindow(parent), manager_(manager), mdi_(new QMdiArea(this)) {
    setWindowTitle(QString::fromUtf8(kAppName));
    setWindowIcon(ApplicationIcon());
    setCentralWidget(mdi_);
    setAcceptDrops(true);
    resize(1024, 720);
    mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    BuildStatusBar();
    BuildActions();
    BuildToolBars();
    BuildToolWindows();
    InstallMenu(IDM_NODOC);

    manager_.SetViewFactory(this);
    connect(mdi_, &QMdiArea::subWindowActivated, this, &TQuilloFrame::OnActiveChildChanged);

    // Menus are brought up to date as they open; the bars and the status bar at idle time.
    idle_ = new QTimer(this);
    connect(idle_, &QTimer::timeout, this, &TQuilloFrame::OnIdle);
    idle_->start(kIdleMs);
    connect(qApp, &QApplication::focusChanged, this, [this] { OnIdle(); });
    UpdateCommandStates();
    UpdateStatus();
}

TQuilloFrame::~TQuilloFrame() {
    // The MDI area outlives these members while QWidget tears it down and reports
    // activations on the way; they must no longer reach the frame.
    disconnect(mdi_, nullptr, this, nullptr);
    disconnect(qApp, nullptr, this, nullptr);
    idle_->stop();
    layerList_->SetView(nullptr);
    toolOptions_->Logic().ShowEmpty();
    for (TImageChild* child : Children()) child->DestroyView();
    manager_.SetViewFactory(nullptr);
}

// --- Building --------------------------------------------------------------

void TQuilloFrame::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    // The message area takes the room the gadgets leave. Menu and button hints shown
    // while the mouse is over them cover it for a moment; then it shows again.
    auto* message = new QLabel(bar);
    message->setObjectName(QStringLiteral("gadget%1").arg(IDG_MESSAGE));
    bar->addWidget(message, 1);
    gadgets_.insert(IDG_MESSAGE, message);
    for (const int id : {IDG_IMAGESIZE, IDG_BPP, IDG_SELECTION, IDG_CURSOR}) {
        auto* label = new QLabel(bar);
        label->setObjectName(QStringLiteral("gadget%1").arg(id));
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        // Wide enough for typical texts, so the bar does not jump as the mouse moves.
        const QFontMetrics fm(label->font());
        const char* sample = id == IDG_IMAGESIZE   ? "W,H: 00000,00000"
                             : id == IDG_BPP       ? "00 BPP"
                             : id == IDG_SELECTION ? "(0000,0000) - (0000,0000)"
                                                   : "(00000,00000)";
        label->setMinimumWidth(fm.horizontalAdvance(QString::fromLatin1(sample)) + 8);
        bar->addPermanentWidget(label);
        gadgets_.insert(id, label);
    }
    gauge_ = new TStatusGauge(bar);
    bar->addPermanentWidget(gauge_);
    gauge_->hide();
}

QAction* TQuilloFrame::EnsureAction(int id, const std::string& text) {
    if (QAction* a = actions_.value(id)) return a;
    auto* action = new QAction(this);
    action->setData(id);
    action->setObjectName(QStringLiteral("cmd%1").arg(id));
    const QString qtext = ToQString(text);
    action->setText(qtext);
    tableTexts_.insert(id, qtext);
    const QString hint = ToQString(CommandHint(id));
    const QString plain = ToQString(PlainMenuText(text));
    action->setToolTip(hint.isEmpty() ? plain : hint);
    action->setStatusTip(hint);
    action->setIcon(CommandIcon(id, plain));
    action->setIconVisibleInMenu(false);
    action->setEnabled(false);
    // Accelerators work from every window of the program, tool windows included; Qt keeps
    // them from firing past a modal dialog.
    action->setShortcutContext(Qt::ApplicationShortcut);
    connect(action, &QAction::triggered, this, [this, id] { ExecuteCommand(id); });
    addAction(action);
    actions_.insert(id, action);
    return action;
}

void TQuilloFrame::BuildActions() {
    // One action per command id, shared by the menus, the bars and the accelerators. Menu
    // 200 holds every command; 100 adds nothing new but is walked for completeness.
    std::function<void(const TMenuDef&)> walk = [&](const TMenuDef& def) {
        for (const TMenuDef& item : def.Items) {
            if (item.IsPopup())
                walk(item);
            else if (!item.IsSeparator())
                EnsureAction(item.Id, item.Text);
        }
    };
    walk(MenuResource(IDM_IMAGE));
    walk(MenuResource(IDM_NODOC));
    for (const TToolbarDef& bar : Toolbars())
        for (const int id : bar.Buttons)
            if (id != 0) EnsureAction(id, CommandHint(id));
    QHash<int, QList<QKeySequence>> keys;
    for (const TAccelDef& accel : Accelerators())
        keys[accel.Id].append(
            QKeySequence::fromString(ToQString(accel.Key), QKeySequence::PortableText));
    for (auto it = keys.begin(); it != keys.end(); ++it)
        EnsureAction(it.key(), CommandHint(it.key()))->setShortcuts(it.value());
}

QMenu* TQuilloFrame::BuildMenu(const TMenuDef& def, QWidget* parent) {
    auto* menu = new QMenu(ToQString(def.Text), parent);
    menu->installEventFilter(this);
    for (const TMenuDef& item : def.Items) {
        if (item.IsPopup())
            menu->addMenu(BuildMenu(item, menu));
        else if (item.IsSeparator())
            menu->addSeparator();
        else
            menu->addAction(EnsureAction(item.Id, item.Text));
    }
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { UpdateMenuStates(menu); });
    return menu;
}

void TQuilloFrame::InstallMenu(int resourceId) {
    if (menuId_ == resourceId) return;
    QList<QMenu*>& menus = resourceId == IDM_NODOC ? menus100_ : menus200_;
    if (menus.isEmpty())
        for (const TMenuDef& popup : MenuResource(resourceId).Items)
            menus.append(BuildMenu(popup, this));
    menuBar()->clear();
    for (QMenu* menu : menus) menuBar()->addMenu(menu);
    menuId_ = resourceId;
}

void TQuilloFrame::BuildToolBars() {
    for (const TToolbarDef& def : Toolbars()) {
        auto* bar = new QToolBar(ToQString(def.Caption), this);
        bar->setObjectName(ToQString(def.Caption) + QStringLiteral("Bar"));
        bar->setIconSize(QSize(20, 20));
        QFont font = bar->font();
        font.setPointSize(10);
        bar->setFont(font);
        for (const int id : def.Buttons) {
            if (id == 0)
                bar->addSeparator();
            else
                bar->addAction(EnsureAction(id, CommandHint(id)));
        }
        const Qt::ToolBarArea area = def.Dock == TDock::Left     ? Qt::LeftToolBarArea
                                     : def.Dock == TDock::Bottom ? Qt::BottomToolBarArea
                                                                 : Qt::TopToolBarArea;
        addToolBar(area, bar);
        if (def.Caption == "Main")
            mainBar_ = bar;
        else if (def.Caption == "Effects")
            effectsBar_ = bar;
        else if (def.Caption == "Tools")
            toolsBar_ = bar;
    }
    palette_ = new TColorPaletteBar(this);
    palette_->setObjectName(QStringLiteral("ColorsBar"));
    addToolBar(Qt::BottomToolBarArea, palette_);
    // A text being typed takes the new colour at once.
    connect(palette_, &TColorPaletteBar::ForegroundChanged, this, [this] {
        if (TImageView* view = ActiveView()) view->TextColorChanged();
    });
}

void TQuilloFrame::BuildToolWindows() {
    toolOptions_ = new ToolOptionsWindow(this);
    toolOptions_->setObjectName(QStringLiteral("ToolOptions"));

    layerList_ = new LayerListWindow(this);
    layerList_->setObjectName(QStringLiteral("LayerList"));
}

// --- Commands --------------------------------------------------------------

const TCommandRouter& TQuilloFrame::Router() {
    router_.Chain = {ActiveView(), &manager_, this};
    return router_;
}

QAction* TQuilloFrame::CommandAction(int id) const { return actions_.value(id); }

bool TQuilloFrame::ExecuteCommand(int id) {
    // A shortcut can fire without a menu having been opened, so the chain decides again.
    const bool ran = Router().Execute(id);
    UpdateCommandStates();
    UpdateStatus();
    return ran;
}

void TQuilloFrame::UpdateActionState(QAction* action) {
    const int id = action->data().toInt();
    const TCommandEnabler ce = Router().State(id);
    if (action->isEnabled() != ce.Enabled) action->setEnabled(ce.Enabled);
    if (action->isCheckable() != ce.Checked) action->setCheckable(ce.Checked);
    if (action->isChecked() != ce.Checked) action->setChecked(ce.Checked);
    const QString text = ce.Text ? ToQString(*ce.Text) : tableTexts_.value(id);
    if (action->text() != text) action->setText(text);
    // An empty recent-file slot is not shown at all.
    if (id >= CM_MRU_FIRST && id < CM_MRU_FIRST + kRecentFileCount &&
        action->isVisible() != ce.Enabled)
        action->setVisible(ce.Enabled);
}

void TQuilloFrame::UpdateCommandStates() {
    for (QAction* action : std::as_const(actions_)) UpdateActionState(action);
}

void TQuilloFrame::UpdateMenuStates(QMenu* menu) {
    for (QAction* action : menu->actions())
        if (actions_.value(action->data().toInt()) == action) UpdateActionState(action);
    if (menu->actions().contains(actions_.value(CM_CASCADECHILDREN))) FillWindowList(menu);
}

void TQuilloFrame::FillWindowList(QMenu* menu) {
    // The Window menu ends with the open document windows, the active one checked.
    for (QAction* a : std::as_const(windowListActions_)) delete a;
    windowListActions_.clear();
    const QList<TImageChild*> children = Children();
    if (children.isEmpty()) return;
    windowListActions_.append(menu->addSeparator());
    int n = 1;
    for (TImageChild* child : children) {
        QAction* a = menu->addAction(QStringLiteral("&%1 %2").arg(n++).arg(child->windowTitle()));
        a->setCheckable(true);
        a->setChecked(child == ActiveChild());
        connect(a, &QAction::triggered, this, [this, child] {
            if (Children().contains(child)) mdi_->setActiveSubWindow(child);
        });
        windowListActions_.append(a);
    }
}

void TQuilloFrame::CommandEnable(TCommandEnabler& ce) {
    switch (ce.Id) {
        case CM_EXIT:
        case CM_HELPCONTENTS:
        case CM_HELPABOUT: ce.Enable(); break;
        case CM_CASCADECHILDREN:
        case CM_TILECHILDREN:
        case CM_ARRANGEICONS:
        case CM_CLOSECHILDREN: ce.Enable(!Children().isEmpty()); break;
        case CM_VIEW_MAINBAR:
        case CM_VIEW_EFFECTSBAR:
        case CM_VIEW_TOOLSBAR:
        case CM_VIEW_PALETTE:
        case CM_VIEW_TOOLOPTIONS:
        case CM_VIEW_LAYERLIST: {
            QWidget* w = ToggledWindow(ce.Id);
            ce.Enable(w != nullptr);
            ce.SetCheck(w && !w->isHidden());
            break;
        }
        default: break;
    }
}

bool TQuilloFrame::Command(int id) {
    switch (id) {
        case CM_EXIT:
            // Queued: the command may come from a menu that is still on its way closing.
            QTimer::singleShot(0, this, &QWidget::close);
            return true;
        case CM_CASCADECHILDREN: mdi_->cascadeSubWindows(); return true;
        case CM_TILECHILDREN: mdi_->tileSubWindows(); return true;
        case CM_ARRANGEICONS: ArrangeIcons(); return true;
        case CM_CLOSECHILDREN: manager_.CloseAll(); return true;
        case CM_VIEW_MAINBAR:
        case CM_VIEW_EFFECTSBAR:
        case CM_VIEW_TOOLSBAR:
        case CM_VIEW_PALETTE:
        case CM_VIEW_TOOLOPTIONS:
        case CM_VIEW_LAYERLIST: {
            QWidget* w = ToggledWindow(id);
            if (!w) return false;
            w->setVisible(w->isHidden());
            return true;
        }
        case CM_HELPCONTENTS: ShowHelp(this); return true;
        case CM_HELPABOUT:
            // Without the companion library there is no about box, and nothing to tell.
            ShowAboutBox(static_cast<QWidget*>(this));
            return true;
        default: return false;
    }
}

void TQuilloFrame::ArrangeIcons() {
    // Minimised document windows line up along the bottom of the MDI area.
    int x = 0;
    for (TImageChild* child : Children()) {
        if (!child->isMinimized()) continue;
        const QSize s = child->size();
        child->move(x, mdi_->viewport()->height() - s.height());
        x += s.width();
    }
}

QWidget* TQuilloFrame::ToolOptionsBar() const { return toolOptions_; }

QWidget* TQuilloFrame::ToggledWindow(int commandId) const {
    switch (commandId) {
        case CM_VIEW_MAINBAR: return mainBar_;
        case CM_VIEW_EFFECTSBAR: return effectsBar_;
        case CM_VIEW_TOOLSBAR: return toolsBar_;
        case CM_VIEW_PALETTE: return palette_;
        case CM_VIEW_TOOLOPTIONS: return toolOptions_;
        case CM_VIEW_LAYERLIST: return layerList_;
        default: return nullptr;
    }
}

// --- Document windows ------------------------------------------------------

QList<TImageChild*> TQuilloFrame::Children() const {
    QList<TImageChild*> children;
    for (QMdiSubWindow* sub : mdi_->subWindowList(QMdiArea::CreationOrder))
        if (auto* child = dynamic_cast<TImageChild*>(sub); child && child->View())
            children.append(child);
    return children;
}

TImageChild* TQuilloFrame::ActiveChild() const {
    auto* child = dynamic_cast<TImageChild*>(mdi_->currentSubWindow());
    return child && child->View() ? child : nullptr;
}

TImageView* TQuilloFrame::ActiveView() const {
    TImageChild* child = ActiveChild();
    return child ? child->View() : nullptr;
}

TDocument* TQuilloFrame::ActiveDocument() const {
    TImageChild* child = ActiveChild();
    return child ? &child->Doc() : nullptr;
}

void TQuilloFrame::ActivateView(TDocument& doc) {
    for (TImageChild* child : Children()) {
        if (&child->Doc() != &doc) continue;
        if (child->isMinimized()) child->showNormal();
        mdi_->setActiveSubWindow(child);
        child->raise();
        return;
    }
}

void TQuilloFrame::CreateView(TDocument& doc) {
    auto* imageDoc = dynamic_cast<TImageDoc*>(&doc);
    if (!imageDoc) return;
    auto* child = new TImageChild(*this, *imageDoc);
    child->setAttribute(Qt::WA_DeleteOnClose);
    mdi_->addSubWindow(child);
    child->resize(640, 480);
    child->show();
    // As large as the image where the MDI area allows, never larger than most of it. The
    // window's decoration is measured once it is laid out.
    const QSize room = mdi_->viewport()->size() * 0.9;
    const bool roomy = room.width() > 100 && room.height() > 100;
    QSize size = child->size();
    if (TImageView* view = child->View(); view->Canvas()) {
        if (QLayout* layout = child->layout()) layout->activate();
        const QSize extra = child->size() - child->Host()->maximumViewportSize();
        // The scroller's content is the image with the view's margin around it.
        const auto contentSize = [&] {
            view->UpdateScrollRanges();
            const TScrollState& content = child->Host()->Scroller();
            return QSize(content.RangeX * content.UnitX, content.RangeY * content.UnitY) + extra;
        };
        size = contentSize();
        // An image larger than the room opens at the largest of the zoom steps Zoom To Fit
        // uses (halves) at which all of it, margin included, fits; a small one is never
        // blown up.
        const auto fits = [&] {
            return size.width() <= room.width() && size.height() <= room.height();
        };
        while (roomy && !fits() && view->Zoom > 1.0 / 64) {
            view->Zoom /= 2;
            size = contentSize();
        }
        view->InvalidateAll();
    }
    if (roomy) size = size.boundedTo(room);
    child->resize(size.expandedTo(QSize(200, 150)));
    // Each new window a title bar lower than the one before, as cascading would place it,
    // but never so low or far right that part of it is outside the area.
    const int step = child->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, child) + 4;
    const int index = int(Children().size()) - 1;
    const QSize free = mdi_->viewport()->size() - child->size();
    child->move(std::clamp((index % 8) * step, 0, std::max(0, free.width())),
                std::clamp((index % 8) * step, 0, std::max(0, free.height())));
    child->View()->OnStatusHint = [this, child](const std::string& hint) {
        child->SetHint(hint);
        if (child == ActiveChild()) UpdateStatus();
    };
    // A tool command shows its panel bound to the view it was given to.
    child->View()->OnToolChanged = [this, view = child->View()] {
        toolOptions_->Logic().ShowFor(view);
    };
    child->View()->OnLayersChanged = [this] {
        layerList_->Refresh();
        UpdatePanelColors();
        UpdateCommandStates();
        UpdateStatus();
    };
    // Not only at idle time: a shortcut of a command still shown disabled does not fire.
    connect(child->Host(), &QtWindowHost::InputHandled, this, [this] {
        UpdateCommandStates();
        UpdateStatus();
    });
    if (!firstPaintSeen_)
        connect(child->Host(), &QtWindowHost::Painted, this, [this] {
            if (firstPaintSeen_) return;
            firstPaintSeen_ = true;
            emit DocumentPainted();
        });
    mdi_->setActiveSubWindow(child);
    child->View()->UpdateScrollRanges();
    OnActiveChildChanged();
}

void TQuilloFrame::DestroyViews(TDocument& doc) {
    for (TImageChild* child : Children()) {
        if (&child->Doc() != &doc) continue;
        // The list must let go of the view before it goes.
        if (layerList_->Logic().GetView() == child->View()) layerList_->SetView(nullptr);
        child->DestroyView();
    }
    OnActiveChildChanged();
}

void TQuilloFrame::RequestCloseDoc(TImageChild& child) { manager_.CloseDoc(child.Doc()); }

void TQuilloFrame::OnActiveChildChanged() {
    InstallMenu(Children().isEmpty() ? IDM_NODOC : IDM_IMAGE);
    layerList_->SetView(ActiveView());
    // The window that gets the focus shows its own tool's panel; without one, nothing is
    // bound.
    toolOptions_->Logic().ShowFor(ActiveView());
    UpdatePanelColors();
    UpdateCommandStates();
    UpdateStatus();
}

void TQuilloFrame::UpdatePanelColors() {
    RGBQUAD colors[256];
    int n = 0;
    if (const TImageView* view = ActiveView())
        n = view->PanelColors(colors);
    else if (L_GetFixedPalette(colors, 8) == SUCCESS)
        n = 256;
    TColorPalette& panel = palette_->Palette();
    // Layer changes arrive often; repaint the bar only when its colours really change.
    bool same = panel.ColorCount() == n;
    for (int i = 0; same && i < n; ++i)
        same = panel.Color(i) == RGB(colors[i].rgbRed, colors[i].rgbGreen, colors[i].rgbBlue);
    if (!same) panel.SetColors(colors, n);
}

void TQuilloFrame::OnIdle() {
    UpdateCommandStates();
    UpdateStatus();
    // Save As gives a document a new name; its window follows.
    for (TImageChild* child : Children()) child->UpdateTitle();
}

// --- Status bar ------------------------------------------------------------

void TQuilloFrame::UpdateStatus() {
    TImageChild* child = ActiveChild();
    TImageView* view = child ? child->View() : nullptr;
    const auto set = [this](int id, const std::string& text) {
        QLabel* label = gadgets_.value(id);
        const QString q = ToQString(text);
        if (label->text() != q) label->setText(q);
    };
    set(IDG_MESSAGE, child ? child->Hint() : std::string());
    set(IDG_IMAGESIZE, view ? view->StatusSize() : std::string());
    set(IDG_BPP, view ? view->StatusBpp() : std::string());
    set(IDG_SELECTION, view ? view->StatusSelection() : std::string());
    set(IDG_CURSOR, view ? view->StatusCursor() : std::string());
}

QString TQuilloFrame::StatusText(int gadgetId) const {
    const QLabel* label = gadgets_.value(gadgetId);
    return label ? label->text() : QString();
}

IProgressGauge& TQuilloFrame::Gauge() { return *gauge_; }
QProgressBar* TQuilloFrame::GaugeWidget() const { return gauge_; }

// --- Events ----------------------------------------------------------------

void TQuilloFrame::closeEvent(QCloseEvent* event) {
    const bool ok = CanCloseHandler ? CanCloseHandler() : manager_.CloseAll();
    if (!ok) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void TQuilloFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TQuilloFrame::dropEvent(QDropEvent* event) {
    std::vector<std::string> paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths.push_back(url.toLocalFile().toStdString());
    if (paths.empty()) return;
    event->acceptProposedAction();
    manager_.OpenDroppedFiles(paths);
    UpdateStatus();
}

bool TQuilloFrame::eventFilter(QObject* watched, QEvent* event) {
    // F1 over a highlighted menu item is a question about that item: the menus close and
    // the help opens on its topic instead of the command running.
    auto* menu = qobject_cast<QMenu*>(watched);
    // The F1 accelerator would open the contents first: claim the key for the menu.
    if (menu && event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_F1 && !(key->modifiers() & Qt::ShiftModifier)) {
            event->accept();
            return true;
        }
    }
    if (menu && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_F1 && !(key->modifiers() & Qt::ShiftModifier)) {
            const QAction* item = menu->activeAction();
            const int id = item ? item->data().toInt() : 0;
            while (QWidget* popup = QApplication::activePopupWidget()) popup->close();
            ShowHelp(this, id);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
