// The application object: builds the editor in its start-up order (settings, document
// manager, splash, main frame with its bars and status bar, placement, tool windows, the
// command line, the file associations) and takes it down again (documents closed, placement
// and tool-window positions written, settings saved).
#pragma once

#include <QPointer>

#include <memory>
#include <string>
#include <vector>

#include "Clipboard.h"
#include "DocManager.h"
#include "MainWindow.h"
#include "SplashWindow.h"
#include "StartupRules.h"

class QSocketNotifier;
class QTimer;
class TAutosaver;
class TImageDocManager;
class TSignalPipe;

class TQuilloApp {
public:
    // Which hosts the program's message boxes and dialogs go to.
    enum class THosts {
        Desktop, // Qt's message boxes, dialogs, file and colour choosers, wait cursor
        Keep,    // whatever is installed (tests install scripted ones)
    };

    // args: the arguments after the program name. Nothing is built before Start().
    explicit TQuilloApp(std::vector<std::string> args, THosts hosts = THosts::Desktop);
    // Saves the settings unless a shutdown already did.
    ~TQuilloApp();
    TQuilloApp(const TQuilloApp&) = delete;
    TQuilloApp& operator=(const TQuilloApp&) = delete;

    // Builds everything and shows the frame; the caller then runs the event loop.
    void Start();

    TQuilloFrame& Frame() const { return *frame_; }
    TImageDocManager& Manager() const { return *manager_; }
    const std::string& InstanceName() const { return instanceName_; }
    const std::string& SettingsPath() const { return settingsPath_; }
    TAutosaver& Autosaver() const { return *autosaver_; }
    TSplashWindow* Splash() const { return splash_; }

    // The frame is closing: false when a document stays open. Otherwise the placement is
    // written and the settings saved. The tool windows' positions go into the options in
    // every case.
    bool CanClose();

    // The process is told to end (SIGTERM, SIGHUP) or the desktop session ends: every
    // document with changes is autosaved and the settings and placement written, without
    // a question. A signal then ends the event loop with 128 + its number.
    void SaveForShutdown();
    void EndOnSignal(int signo);

private:
    void ConstructMainWindow();
    void InitInstance();
    void ProcessCommandLine();
    // Puts a tool window into the frame's document area, clear of every tool bar, at its
    // right edge and `below` pixels down; the height taken there, this window included.
    int PlaceInsideDocumentArea(QWidget& window, int below);
    void StoreToolWindowPositions();
    void SaveSettings();
    void FollowEnvironmentRequests();
    void StartAutosave();
    void RunAutosaveStep();
    void WriteFramePlacement();

    std::vector<std::string> args_;
    THosts hosts_;
    std::string settingsPath_;
    std::string instanceName_ = "Quillo";
    // Declared before the frame: the frame's windows hold views on the manager's documents.
    std::unique_ptr<TRecentFiles> recent_;
    std::unique_ptr<TImageDocManager> manager_;
    std::unique_ptr<TAutosaver> autosaver_;
    std::unique_ptr<TQuilloFrame> frame_;
    std::unique_ptr<TProgressRule> progress_;
    std::unique_ptr<IMessageBoxHost> boxes_;
    std::unique_ptr<IClipboard> clipboard_;
    QPointer<TSplashWindow> splash_;
    std::unique_ptr<QTimer> autosaveTimer_, autosaveStepTimer_;
    std::unique_ptr<TSignalPipe> signals_;
    std::unique_ptr<QSocketNotifier> signalNotifier_;
    bool settingsSaved_ = false;
};
