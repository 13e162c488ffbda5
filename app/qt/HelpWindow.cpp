#include "HelpWindow.h"

#include <QFileInfo>
#include <QPointer>
#include <QTextBrowser>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>

#include "AppFiles.h"

namespace {

QPointer<QWidget> helpWindow;
QPointer<QTextBrowser> helpBrowser;
bool helpOpened = false;

// The browser with Back, Forward and Contents above it.
QWidget* CreateHelpWindow(QWidget* parent, const QUrl& contents) {
    auto* window = new QWidget(parent, Qt::Window);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QStringLiteral("Quillo Professional Help"));
    window->resize(640, 560);
    auto* browser = new QTextBrowser(window);
    browser->setOpenExternalLinks(true);
    auto* bar = new QToolBar(window);
    QAction* back = bar->addAction(QStringLiteral("Back"), browser, &QTextBrowser::backward);
    QAction* forward = bar->addAction(QStringLiteral("Forward"), browser, &QTextBrowser::forward);
    bar->addAction(QStringLiteral("Contents"), browser,
                   [browser, contents] { browser->setSource(contents); });
    back->setEnabled(false);
    forward->setEnabled(false);
    QObject::connect(browser, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
    QObject::connect(browser, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(bar);
    layout->addWidget(browser);
    helpBrowser = browser;
    return window;
}

} // namespace

void ShowHelp(QWidget* parent, int contextId) {
    const QString index = QString::fromStdString(FindHelpFile());
    if (index.isEmpty()) return;
    const QString folder = QFileInfo(index).absolutePath();
    const QString page = QString::fromStdString(HelpPageFor(contextId));
    QUrl url =
        QUrl::fromLocalFile(folder + QLatin1Char('/') + page.section(QLatin1Char('#'), 0, 0));
    const QString anchor = page.section(QLatin1Char('#'), 1);
    if (!anchor.isEmpty()) url.setFragment(anchor);

    if (!helpWindow) helpWindow = CreateHelpWindow(parent, QUrl::fromLocalFile(index));
    helpBrowser->setSource(url);
    helpWindow->show();
    helpWindow->raise();
    helpWindow->activateWindow();
    helpOpened = true;
}

bool HelpWasOpened() { return helpOpened; }

void CloseHelp() {
    if (helpWindow) helpWindow->close();
}
