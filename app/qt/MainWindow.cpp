#include "MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>

#include <memory>

#include "ErrorDisplay.h"
#include "ImageDoc.h"
#include "ImageView.h"
#include "QtWindowHost.h"

namespace {
// An image window: the host owns its document and the view on it. The view is declared
// last so it goes first: it detaches from the host and the document on destruction.
class ImageWindow : public QtWindowHost {
public:
    explicit ImageWindow(std::unique_ptr<TImageDoc> doc)
        : doc_(std::move(doc)), view_(std::make_unique<TImageView>(*doc_, *this)) {}
    TImageView* View() const { return view_.get(); }

private:
    std::unique_ptr<TImageDoc> doc_;
    std::unique_ptr<TImageView> view_;
};
} // namespace

TMbResult QtMessageBoxes::Show(const std::string& text, const std::string& caption, TMbButtons buttons,
                               TMbIcon icon) {
    QMessageBox box(icon == TMbIcon::Stop          ? QMessageBox::Critical
                    : icon == TMbIcon::Exclamation ? QMessageBox::Warning
                                                   : QMessageBox::NoIcon,
                    QString::fromStdString(caption), QString::fromStdString(text),
                    buttons == TMbButtons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                    QApplication::activeWindow());
    switch (box.exec()) {
    case QMessageBox::Yes: return TMbResult::Yes;
    case QMessageBox::No: return TMbResult::No;
    case QMessageBox::Ok: return TMbResult::Ok;
    default: return buttons == TMbButtons::YesNo ? TMbResult::No : TMbResult::Ok;
    }
}

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), mdi_(new QMdiArea(this)) {
    setWindowTitle(QString::fromUtf8(kAppName));
    setCentralWidget(mdi_);
    resize(1024, 720);

    QMenu* file = menuBar()->addMenu(tr("&File"));
    QAction* open = file->addAction(tr("&Open..."), this, &MainWindow::OpenWithDialog);
    open->setShortcut(QKeySequence::Open);
    file->addSeparator();
    file->addAction(tr("E&xit"), this, &QWidget::close);

    QMenu* view = menuBar()->addMenu(tr("&View"));
    AddViewCommand(view, CM_ZOOM_IN, tr("Zoom I&n"), QKeySequence(Qt::CTRL | Qt::Key_Plus));
    AddViewCommand(view, CM_ZOOM_OUT, tr("Zoom &Out"), QKeySequence(Qt::CTRL | Qt::Key_Minus));
    AddViewCommand(view, CM_ZOOM_FIT, tr("Zoom To &Fit Window"), QKeySequence());
    AddViewCommand(view, CM_ZOOM_ORIGINAL, tr("Zoom To Original &Size"), QKeySequence());
    connect(view, &QMenu::aboutToShow, this, &MainWindow::EnableViewCommands);

    sizeLabel_ = new QLabel(this);
    bppLabel_ = new QLabel(this);
    statusBar()->addPermanentWidget(sizeLabel_);
    statusBar()->addPermanentWidget(bppLabel_);
    connect(mdi_, &QMdiArea::subWindowActivated, this, &MainWindow::UpdateStatus);
    EnableViewCommands();
}

MainWindow::~MainWindow() { disconnect(mdi_, nullptr, this, nullptr); }

void MainWindow::AddViewCommand(QMenu* menu, int id, const QString& text, const QKeySequence& key) {
    QAction* action = menu->addAction(text);
    action->setData(id);
    if (!key.isEmpty()) action->setShortcut(key);
    connect(action, &QAction::triggered, this, [this, id] {
        TImageView* view = ActiveView();
        // A shortcut can fire without the menu having been opened, so the view decides again.
        if (view && view->DoCommand(id)) UpdateStatus();
    });
    viewCommands_.append(action);
}

void MainWindow::EnableViewCommands() {
    TImageView* view = ActiveView();
    for (QAction* action : viewCommands_) action->setEnabled(view && view->IsCommandEnabled(action->data().toInt()));
}

TImageView* MainWindow::ActiveView() const {
    QMdiSubWindow* sub = mdi_->currentSubWindow();
    auto* window = sub ? dynamic_cast<ImageWindow*>(sub->widget()) : nullptr;
    return window ? window->View() : nullptr;
}

void MainWindow::UpdateStatus() {
    TImageView* view = ActiveView();
    sizeLabel_->setText(view ? QString::fromStdString(view->StatusSize()) : QString());
    bppLabel_->setText(view ? QString::fromStdString(view->StatusBpp()) : QString());
    EnableViewCommands();
}

bool MainWindow::OpenFile(const QString& path) {
    auto doc = std::make_unique<TImageDoc>();
    try {
        if (!doc->Open(OM_READ, path.toStdString())) return false;
    } catch (const TXLeadLib& e) {
        ShowToolkitError(e, kAppName);
        return false;
    }
    const QString title = doc->GetTitle().empty() ? QFileInfo(path).fileName() : QString::fromStdString(doc->GetTitle());
    auto* window = new ImageWindow(std::move(doc));
    window->setAttribute(Qt::WA_DeleteOnClose);
    QMdiSubWindow* sub = mdi_->addSubWindow(window);
    sub->setWindowTitle(title);
    sub->resize(640, 480);
    sub->show();
    mdi_->setActiveSubWindow(sub);
    UpdateStatus();
    return true;
}

void MainWindow::OpenWithDialog() {
    const QString path = QFileDialog::getOpenFileName(this, tr("Open"));
    if (!path.isEmpty()) OpenFile(path);
}
