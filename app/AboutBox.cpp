#include "AboutBox.h"

#include <dlfcn.h>

#include "AppFiles.h"

TAboutLibrary::TAboutLibrary() { Load(AboutLibraryCandidates()); }

TAboutLibrary::TAboutLibrary(const std::vector<std::string>& candidates) { Load(candidates); }

TAboutLibrary::~TAboutLibrary() {
    if (handle_) ::dlclose(handle_);
}

void TAboutLibrary::Load(const std::vector<std::string>& candidates) {
    for (const std::string& path : candidates) {
        // Kept mapped after dlclose: Qt may still hold pointers into a library that has shown
        // widgets (styles, accessibility, metatype tables), and unmapping it would leave them
        // dangling. Loading it again later then costs nothing.
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (!handle) continue;
        // A library of that name without the entry point is someone else's: keep looking.
        void* entry = ::dlsym(handle, AboutEntryName);
        if (!entry) {
            ::dlclose(handle);
            continue;
        }
        handle_ = handle;
        entry_ = reinterpret_cast<TShowAboutBoxFn>(entry);
        path_ = path;
        return;
    }
}

std::vector<std::string> AboutLibraryCandidates() {
    std::vector<std::string> paths;
    if (const std::string dir = ExecutableDir(); !dir.empty()) {
        paths.push_back(dir + "/" + AboutLibraryName);
        paths.push_back(dir + "/../lib/quillo/" + AboutLibraryName);
    }
    paths.push_back(AboutLibraryName);
    return paths;
}

bool ShowAboutBox(void* mainWindow) {
    TAboutLibrary library;
    if (!library.Entry()) return false;
    library.Entry()(mainWindow, "QuilloDef.ini");
    return true;
}
