// Start-up decisions that do not need a window system: what the command line asks for, where
// the main window goes, and when the progress gauge is worth showing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ProgressGauge.h"
#include "Toolkit.h"

class TProfileFile;

// One thing the command line asks the application to do, in order.
struct TStartupAction {
    enum class TKind {
        Unregister,        // remove the file associations and stop: nothing follows it
        SetInstanceName,   // Text is the new instance name
        OpenFile,          // Text is the file name to open
        RegisterFileTypes, // after the last argument, unless unregistering
    };
    TKind Kind;
    std::string Text;
    bool operator==(const TStartupAction&) const = default;
};

// The actions for the arguments after the program name.
std::vector<TStartupAction> ParseCommandLine(const std::vector<std::string>& args);

// The main window's restored rectangle when none is stored: the middle three quarters of the screen.
RECT DefaultPlacement(int screenWidth, int screenHeight);

// The main window's placement as kept in section "Placement" of the settings file.
struct TPlacement {
    bool IsMaximized = false;
    RECT Box;
};
// Reads the placement; without a usable stored box the default one for the screen is used.
TPlacement ReadPlacement(const TProfileFile& profile, int screenWidth, int screenHeight);
void WritePlacement(TProfileFile& profile, const TPlacement& placement);

// Follows a long operation's progress reports and shows the gauge only when the operation is
// slow enough for it to help: quick operations would merely flicker it.
class TProgressRule {
public:
    // A clock in milliseconds; any fixed origin.
    using TClock = std::function<uint64_t()>;

    explicit TProgressRule(IProgressGauge& gauge, TClock clock = {});

    // Takes one report, 0..100 (0 starts an operation). Always answers 1: never cancels.
    int OnProgress(int percent);
    bool Visible() const { return visible_; }

    // A toolkit status callback (L_SetStatusCallBack) with the rule as its user data.
    static L_INT StatusCallBack(L_INT percent, void* rule);

private:
    IProgressGauge& gauge_;
    TClock clock_;
    uint64_t start_ = 0;
    uint64_t lastTick_ = 0;
    int lastPercent_ = 0;
    bool visible_ = false;
};
