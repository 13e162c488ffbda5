#include "StartupRules.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string_view>

#include "ProfileFile.h"

namespace {

// True when `text` is a case-insensitive prefix of `word`, the empty text included: the
// unregister option may be shortened to any length, down to the bare sign.
bool IsPrefixOf(std::string_view text, std::string_view word) {
    if (text.size() > word.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (c != word[i]) return false;
    }
    return true;
}

} // namespace

std::vector<TStartupAction> ParseCommandLine(const std::vector<std::string>& args) {
    using K = TStartupAction::TKind;
    std::vector<TStartupAction> actions;
    for (const std::string& arg : args) {
        if (arg.empty()) continue; // an empty argument names no file
        // Here "/" also starts every absolute path: "/home/me/photo.png" or "/photo.png" is a
        // file, not an option, so a slash option is one word without further slashes or dots.
        bool slashOption = arg[0] == '/' && arg.find_first_of("/.", 1) == std::string::npos;
        if (slashOption || arg[0] == '-') {
            std::string_view option = std::string_view(arg).substr(1);
            if (IsPrefixOf(option, "unregister")) {
                actions.push_back({K::Unregister, std::string()});
                return actions;
            }
            if (option[0] == 'a' || option[0] == 'A')
                actions.push_back({K::SetInstanceName, std::string(option)});
            continue;
        }
        // Only the file's own name counts: a dot in a folder name ("~/v1.2/photo") does not
        // give the file an extension.
        size_t slash = arg.find_last_of('/');
        std::string_view name = slash == std::string::npos
                                    ? std::string_view(arg)
                                    : std::string_view(arg).substr(slash + 1);
        actions.push_back(
            {K::OpenFile, name.find('.') == std::string_view::npos ? arg + "." : arg});
    }
    actions.push_back({K::RegisterFileTypes, std::string()});
    return actions;
}

RECT DefaultPlacement(int screenWidth, int screenHeight) {
    RECT r;
    r.left = screenWidth / 8;
    r.top = screenHeight / 8;
    r.right = 7 * screenWidth / 8;
    r.bottom = 7 * screenHeight / 8;
    return r;
}

TPlacement ReadPlacement(const TProfileFile& profile, int screenWidth, int screenHeight) {
    TPlacement p;
    p.IsMaximized = profile.GetString("Placement", "IsMaximized", "0") == "1";
    p.Box = DefaultPlacement(screenWidth, screenHeight);
    std::string box = profile.GetString("Placement", "PlacementBox");
    RECT r;
    // A damaged or empty box would put the window out of reach; the default is better.
    if (std::sscanf(box.c_str(), "%d %d %d %d", &r.left, &r.top, &r.right, &r.bottom) == 4 &&
        r.right > r.left && r.bottom > r.top)
        p.Box = r;
    return p;
}

void WritePlacement(TProfileFile& profile, const TPlacement& placement) {
    char box[64];
    std::snprintf(box, sizeof box, "%d %d %d %d", placement.Box.left, placement.Box.top,
                  placement.Box.right, placement.Box.bottom);
    profile.WriteString("Placement", "IsMaximized", placement.IsMaximized ? "1" : "0");
    profile.WriteString("Placement", "PlacementBox", box);
}

// ---------------------------------------------------------------------------

TProgressRule::TProgressRule(IProgressGauge& gauge, TClock clock)
    : gauge_(gauge), clock_(std::move(clock)) {
    if (!clock_)
        clock_ = [] {
            using namespace std::chrono;
            return uint64_t(
                duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
        };
    start_ = lastTick_ = clock_();
}

int TProgressRule::OnProgress(int percent) {
    uint64_t now = clock_();
    if (percent <= 0) {
        start_ = lastTick_ = now;
        lastPercent_ = 0;
        visible_ = false;
        gauge_.Hide();
        return 1;
    }
    percent = std::min(percent, 100);
    // Repainting for every report of a fast operation costs more than the operation; but the
    // finishing report always gets through, or a visible gauge would be left part-filled.
    const bool finishing = percent > 98;
    if (percent == lastPercent_ || (now == lastTick_ && !finishing)) return 1;
    lastTick_ = now;
    lastPercent_ = percent;
    if (!visible_) {
        double elapsed = now > start_ ? double(now - start_) : 0.0;
        visible_ = elapsed / percent > 5.0 || finishing;
    }
    if (visible_) {
        gauge_.SetValue(percent);
        gauge_.Repaint();
        if (finishing) gauge_.SetValue(0);
    }
    return 1;
}

L_INT TProgressRule::StatusCallBack(L_INT percent, void* rule) {
    return rule ? static_cast<TProgressRule*>(rule)->OnProgress(percent) : 1;
}
