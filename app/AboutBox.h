// The about box lives in an optional companion library loaded when asked for, so the program
// runs without it: the library "libKestrel32.so" exports
//   extern "C" void ShowAboutBox_C(void* parentWidget, const char* defaultsFile);
// which shows a modal dialog over the parent (a QWidget*) and returns when it is closed.
#pragma once

#include <string>
#include <vector>

inline constexpr const char* AboutLibraryName = "libKestrel32.so";
inline constexpr const char* AboutEntryName = "ShowAboutBox_C";

using TShowAboutBoxFn = void (*)(void* parent, const char* defaultsFile);

// A loaded about-box library; unloaded when destroyed.
class TAboutLibrary {
public:
    // Tries the executable's folder, <exe>/../lib/quillo, then the normal library path.
    TAboutLibrary();
    // Tries the given paths in order (a name without '/' goes through the library path).
    explicit TAboutLibrary(const std::vector<std::string>& candidates);
    ~TAboutLibrary();
    TAboutLibrary(const TAboutLibrary&) = delete;
    TAboutLibrary& operator=(const TAboutLibrary&) = delete;

    // The entry point; null when no library loaded or it lacks the function.
    TShowAboutBoxFn Entry() const { return entry_; }
    // The candidate that loaded; empty when none did.
    const std::string& Path() const { return path_; }

private:
    void Load(const std::vector<std::string>& candidates);

    void* handle_ = nullptr;
    TShowAboutBoxFn entry_ = nullptr;
    std::string path_;
};

// The paths TAboutLibrary() tries, in order.
std::vector<std::string> AboutLibraryCandidates();

// Shows the about box over the main window (a QWidget*) with "QuilloDef.ini" as the defaults
// file. When the library or its function is missing nothing happens and the answer is false.
bool ShowAboutBox(void* mainWindow);
