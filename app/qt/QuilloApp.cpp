#include "QuilloApp.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QLayout>
#include <QMdiArea>
#include <QScreen>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTimer>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "AppFiles.h"
#include "Autosaver.h"
#include "ColorPaletteBar.h"
#include "ErrorDisplay.h"
#include "HelpWindow.h"
#include "ImageDocManager.h"
#include "Options.h"
#include "ProfileFile.h"
#include "QtClipboard.h"
#include "QtCommonDialogs.h"
#include "QtConvert.h"
#include "QtDialogHost.h"
#include "Registration.h"
#include "ResizeDialog.h"
#include "SignalPipe.h"
#include "SplashWindow.h"
#include "WaitCursor.h"

namespace {
// Taken while the program's statics are set up, before main runs: the time to the first
// painted frame is measured from here.
const std::chrono::steady_clock::time_point g_processStart = std::chrono::steady_clock::now();

void QtWaitCursor(bool busy) {
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

const char* Env(const char* name) {
    const char* v = std::getenv(name);
    return v && *v ? v : nullptr;
}

QSize ScreenSize() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().size() : QSize(1024, 768);
}

} // namespace

TQuilloApp::TQuilloApp(std::vector<std::string> args, THosts hosts)
    : args_(std::move(args)), hosts_(hosts) {}

TQuilloApp::~TQuilloApp() {
    autosaveStepTimer_.reset();
    autosaveTimer_.reset();
    signalNotifier_.reset();
    signals_.reset();
    if (frame_) {
        frame_->CanCloseHandler = nullptr;
        if (!settingsSaved_) {
            StoreToolWindowPositions();
            SaveSettings();
        }
    }
    if (progress_) L_SetStatusCallBack(nullptr, nullptr);
    TImageDoc::SetProgressGauge(nullptr);
    if (hosts_ == THosts::Desktop) {
        UninstallQtCommonDialogs();
        UninstallQtDialogHost();
        SetMessageBoxHost(nullptr);
        SetClipboard(nullptr);
        TWaitCursor::SetHook(nullptr);
    }
    if (splash_) delete splash_.data();
    // The windows go before the manager and its documents; the autosaver, listening to the
    // manager, before both (what it wrote stays for the next start).
    autosaver_.reset();
    frame_.reset();
    manager_.reset();
}

void TQuilloApp::Start() {
    // The settings come first: everything below reads them.
    settingsPath_ = DefaultSettingsPath();
    Options().Load(settingsPath_);
    // Recent files and the placement are written into the same file as they change; its
    // folder must be there from the start, not only once the options are first saved.
    if (!settingsPath_.empty()) {
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(settingsPath_).parent_path(),
                                            ignored);
    }
    recent_ = std::make_unique<TRecentFiles>(settingsPath_);
    manager_ = std::make_unique<TImageDocManager>();
    manager_->SetRecentFiles(recent_.get());
    autosaver_ = std::make_unique<TAutosaver>(*manager_, TAutosaveStore::DefaultFolder());
    manager_->AskNewImage = [](int& w, int& h, int& bpp) { return RunNewImageDialog(w, h, bpp); };
    if (hosts_ == THosts::Desktop) {
        boxes_ = std::make_unique<QtMessageBoxes>();
        SetMessageBoxHost(boxes_.get());
        clipboard_ = std::make_unique<QtClipboard>();
        SetClipboard(clipboard_.get());
        TWaitCursor::SetHook(QtWaitCursor);
    }
    ConstructMainWindow();
    InitInstance();
    StartAutosave();
    FollowEnvironmentRequests();
}

void TQuilloApp::StartAutosave() {
    // The signal handler only wakes the window thread, which does the saving.
    signals_ = std::make_unique<TSignalPipe>(std::vector<int>{SIGTERM, SIGHUP});
    if (signals_->ReadFd() >= 0) {
        signalNotifier_ =
            std::make_unique<QSocketNotifier>(signals_->ReadFd(), QSocketNotifier::Read);
        QObject::connect(signalNotifier_.get(), &QSocketNotifier::activated, frame_.get(), [this] {
            const std::vector<int> got = signals_->Take();
            if (!got.empty()) EndOnSignal(got.front());
        });
    }
#ifndef QT_NO_SESSIONMANAGER
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, frame_.get(),
                     [this](QSessionManager&) { SaveForShutdown(); });
#endif

    autosaver_->WriteFailed = [this](const std::string& title, L_INT code) {
        // Said once per run: a full disk would otherwise raise a box every few minutes.
        static bool told = false;
        std::fprintf(stderr, "quillo: autosave of %s failed: %s\n", title.c_str(),
                     ToolkitErrorText(code).c_str());
        if (told) return;
        told = true;
        // Not from inside the step: a box runs its own event loop.
        QTimer::singleShot(0, frame_.get(), [title, code] {
            ShowToolkitError(code, kAppName, "The changes of " + title + " could not be autosaved");
        });
    };
    const int interval =
        AutosaveIntervalMs(Options().AutosaveMinutes, Env("QUILLO_AUTOSAVE_SECONDS"));
    if (interval <= 0) return;
    autosaveStepTimer_ = std::make_unique<QTimer>();
    autosaveStepTimer_->setSingleShot(true);
    QObject::connect(autosaveStepTimer_.get(), &QTimer::timeout, frame_.get(),
                     [this] { RunAutosaveStep(); });
    autosaveTimer_ = std::make_unique<QTimer>();
    QObject::connect(autosaveTimer_.get(), &QTimer::timeout, frame_.get(), [this] {
        autosaver_->StartRound();
        RunAutosaveStep();
    });
    autosaveTimer_->start(interval);
}

void TQuilloApp::RunAutosaveStep() {
    switch (autosaver_->Step()) {
        // Each step copies a slice; the events that queued meanwhile come first.
        case TAutosaver::TStep::Copying: autosaveStepTimer_->start(0); break;
        case TAutosaver::TStep::Waiting: autosaveStepTimer_->start(25); break;
        case TAutosaver::TStep::Idle: break;
    }
}

void TQuilloApp::SaveForShutdown() {
    if (autosaveStepTimer_) autosaveStepTimer_->stop();
    autosaver_->SaveAllNow();
    if (!frame_) return;
    StoreToolWindowPositions();
    WriteFramePlacement();
    SaveSettings();
}

void TQuilloApp::EndOnSignal(int signo) {
    SaveForShutdown();
    // No question may hold the end up: the frame is not asked whether it can close.
    frame_->CanCloseHandler = nullptr;
    QApplication::exit(128 + signo);
}

void TQuilloApp::ConstructMainWindow() {
    QString intro;
    {
        TWaitCursor wait;
        intro = QString::fromStdString(IntroImagePath());
    }
    splash_ = new TSplashWindow(intro);
    splash_->ShowNow();

    // FIXME: the plug-in pop-up joins the menu when plug-in filters can be run.

    frame_ = std::make_unique<TQuilloFrame>(*manager_);
    frame_->CanCloseHandler = [this] { return CanClose(); };
    if (hosts_ == THosts::Desktop) {
        InstallQtDialogHost(frame_.get());
        InstallQtCommonDialogs(frame_.get());
    }
    TColorPaletteBar* palette = frame_->PaletteBar();
    manager_->BackgroundColor = [palette] { return palette->Palette().BackgroundColor(); };
    manager_->ForegroundColor = [palette] { return palette->Palette().ForegroundColor(); };
    manager_->ColorPicked = [palette](bool background, COLORREF c) {
        if (background)
            palette->Palette().SetBackgroundColor(c);
        else
            palette->Palette().SetForegroundColor(c);
    };

    // Long toolkit operations report through one callback; the rule decides when the gauge
    // is worth showing. File loads drive the same gauge.
    progress_ = std::make_unique<TProgressRule>(frame_->Gauge());
    L_SetStatusCallBack(TProgressRule::StatusCallBack, progress_.get());
    TImageDoc::SetProgressGauge(&frame_->Gauge());
}

void TQuilloApp::InitInstance() {
    const QSize screen = ScreenSize();
    const TPlacement placement =
        ReadPlacement(TProfileFile::Read(settingsPath_), screen.width(), screen.height());

    const TOptions& o = Options();
    // Until the user has put the tool windows somewhere, their stored defaults would drop
    // them on the frame's menu and tool bars; they go beside them once the frame is laid out.
    const TProfileFile stored = TProfileFile::Read(settingsPath_);
    const bool layersPlaced = stored.HasKey("Options", "LayerListX");
    const bool toolOptionsPlaced = stored.HasKey("Options", "ToolOptX");
    QWidget* toolOptions = frame_->ToolOptionsBar();
    toolOptions->move(o.ToolOptX, o.ToolOptY);
    if (QWidget* layers = frame_->ToggledWindow(CM_VIEW_LAYERLIST)) {
        // The stored position is the window's outer corner, the size its inside.
        layers->move(o.LayerListX, o.LayerListY);
        layers->resize(o.LayerListW, o.LayerListH);
    }

    frame_->setGeometry(ToQRect(placement.Box));
    if (placement.IsMaximized)
        frame_->showMaximized();
    else
        frame_->show();
    int taken = 0;
    if (QWidget* layers = frame_->ToggledWindow(CM_VIEW_LAYERLIST)) {
        if (!layersPlaced) taken = PlaceInsideDocumentArea(*layers, 0);
        layers->show();
    }
    if (!toolOptionsPlaced) PlaceInsideDocumentArea(*toolOptions, taken);
    toolOptions->show();
    if (splash_) splash_->raise();

    // Changes a crash left behind come back before the command line opens anything, so a
    // file named there again finds its recovered document.
    autosaver_->OfferRecovery();

    // The palette bar offers the toolkit's fixed 256 colours.
    L_SetDisplayMode(0x4 | 0x80 | 0x100, 0);
    RGBQUAD fixed[256];
    if (L_GetFixedPalette(fixed, 8) == SUCCESS)
        frame_->PaletteBar()->Palette().SetColors(fixed, 256);

    ProcessCommandLine();
}

int TQuilloApp::PlaceInsideDocumentArea(QWidget& window, int below) {
    // The top right corner of the document area: under the top tool bars, left of any bar
    // docked at the right, and where a new document window (placed top left) is not.
    if (QLayout* layout = frame_->layout()) layout->activate();
    const QMdiArea* area = frame_->MdiArea();
    const QPoint topLeft = area->mapToGlobal(QPoint(0, 0));
    constexpr int kGap = 8;
    QSize outer = window.frameGeometry().size();
    // A window never shown has no decoration yet; the window manager adds about this much.
    constexpr int kTitleBarAllowance = 32;
    if (outer == window.size()) outer.rheight() += kTitleBarAllowance;
    const int x = std::max(topLeft.x(), topLeft.x() + area->width() - outer.width() - kGap);
    window.move(x, topLeft.y() + below + kGap);
    return below + kGap + outer.height();
}

void TQuilloApp::ProcessCommandLine() {
    using K = TStartupAction::TKind;
    for (const TStartupAction& action : ParseCommandLine(args_)) {
        switch (action.Kind) {
            case K::Unregister: UnregisterFileTypes(); return;
            case K::SetInstanceName: instanceName_ = action.Text; break;
            // A file that fails is reported by the manager; the next one is still opened.
            case K::OpenFile: manager_->OpenCommandLineFile(action.Text); break;
            case K::RegisterFileTypes: RegisterFileTypes(ExecutablePath()); break;
        }
    }
}

void TQuilloApp::StoreToolWindowPositions() {
    TOptions& o = Options();
    if (QWidget* tools = frame_->ToolOptionsBar()) {
        o.ToolOptX = tools->x();
        o.ToolOptY = tools->y();
    }
    if (QWidget* layers = frame_->ToggledWindow(CM_VIEW_LAYERLIST)) {
        o.LayerListX = layers->x();
        o.LayerListY = layers->y();
        o.LayerListW = layers->width();
        o.LayerListH = layers->height();
    }
}

void TQuilloApp::SaveSettings() {
    if (!settingsPath_.empty()) Options().Save(settingsPath_);
    settingsSaved_ = true;
}

bool TQuilloApp::CanClose() {
    StoreToolWindowPositions();
    if (!manager_->CloseAll()) return false;
    CloseHelp();
    WriteFramePlacement();
    SaveSettings();
    return true;
}

void TQuilloApp::WriteFramePlacement() {
    if (settingsPath_.empty()) return;
    TProfileFile profile = TProfileFile::Read(settingsPath_);
    TPlacement placement;
    placement.IsMaximized = frame_->isMaximized();
    // The restored rectangle: a maximized frame comes back maximized over it.
    const QRect normal = frame_->isMaximized() || frame_->isMinimized() ? frame_->normalGeometry()
                                                                        : frame_->geometry();
    placement.Box = ToRect(normal.isValid() ? normal : frame_->geometry());
    WritePlacement(profile, placement);
    profile.Write(settingsPath_);
}

void TQuilloApp::FollowEnvironmentRequests() {
    // QUILLO_TIMING=1: how long from process start until the first document was on screen.
    if (Env("QUILLO_TIMING"))
        QObject::connect(frame_.get(), &TQuilloFrame::DocumentPainted, frame_.get(), [] {
            const auto ms = std::chrono::duration<double, std::milli>(
                std::chrono::steady_clock::now() - g_processStart);
            std::fprintf(stderr, "quillo: first frame painted after %.1f ms\n", ms.count());
        });

    // QUILLO_COMMANDS=id,id,...: once the first document is on screen, run these menu
    // commands on it as if chosen, then say so on the standard error. Lets a test edit a
    // document in a real editor it cannot click in.
    if (const char* list = Env("QUILLO_COMMANDS")) {
        const QStringList ids = QString::fromLatin1(list).split(',', Qt::SkipEmptyParts);
        auto run = [this, ids] {
            for (const QString& id : ids) frame_->ExecuteCommand(id.toInt());
            std::fprintf(stderr, "quillo: commands done\n");
        };
        if (manager_->Documents().empty())
            QTimer::singleShot(0, frame_.get(), run);
        else
            QObject::connect(frame_.get(), &TQuilloFrame::DocumentPainted, frame_.get(), run,
                             Qt::SingleShotConnection);
    }

    // QUILLO_SCREENSHOT=path: once the first document (or the empty frame) is on screen, save
    // a picture of it and quit.
    if (const char* out = Env("QUILLO_SCREENSHOT")) {
        const QString path = QString::fromLocal8Bit(out);
        auto shoot = [this, path] {
            if (splash_) splash_->close();
            // Let the closing splash and any late paints settle first.
            QTimer::singleShot(400, frame_.get(), [this, path] {
                QScreen* screen = frame_->screen();
                // On a real display the whole screen shows the floating tool windows too.
                QPixmap shot =
                    QGuiApplication::platformName() == QLatin1String("offscreen") || !screen
                        ? frame_->grab()
                        : screen->grabWindow(0);
                if (!shot.save(path))
                    std::fprintf(stderr, "quillo: could not write %s\n", qPrintable(path));
                QApplication::quit();
            });
        };
        if (manager_->Documents().empty())
            QTimer::singleShot(300, frame_.get(), shoot);
        else
            QObject::connect(frame_.get(), &TQuilloFrame::DocumentPainted, frame_.get(), shoot);
    }
}
