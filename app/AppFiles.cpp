#include "AppFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "CommandIds.h"
#include "ProfileFile.h"

namespace {

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// The folder part of a path: everything before the last '/' ("/" for a file at the root).
std::string DirName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string Join(const std::string& dir, const std::string& name) {
    if (dir.empty() || dir.back() == '/') return dir + name;
    return dir + "/" + name;
}

// Page names of the bundled help. Command ids are the menu ids the shell routes.
constexpr THelpTopic kTopics[] = {
    {CM_FILENEW, "files.html#new"},
    {CM_FILEOPEN, "files.html#open"},
    {CM_FILESAVE, "files.html#save"},
    {CM_FILESAVEAS, "files.html#save"},
    {CM_FILEREVERT, "files.html#revert"},
    {CM_FILECLOSE, "files.html#close"},
    {CM_MRU_FIRST, "files.html#recent"},
    {CM_MRU_FIRST + 1, "files.html#recent"},
    {CM_MRU_FIRST + 2, "files.html#recent"},
    {CM_MRU_FIRST + 3, "files.html#recent"},
    {CM_EDITUNDO, "getting-started.html#undo"},
    {CM_EDITREDO, "getting-started.html#undo"},
    {CM_VIEW_MAINBAR, "getting-started.html#bars"},
    {CM_VIEW_EFFECTSBAR, "getting-started.html#bars"},
    {CM_VIEW_TOOLSBAR, "getting-started.html#bars"},
    {CM_VIEW_PALETTE, "getting-started.html#bars"},
    {CM_VIEW_TOOLOPTIONS, "getting-started.html#bars"},
    {CM_VIEW_LAYERLIST, "layers.html#list"},
    {CM_OUTLINE_ACTIVE, "layers.html#outlines"},
    {CM_OUTLINE_INACTIVE, "layers.html#outlines"},
    {CM_ZOOM_OUT, "getting-started.html#zoom"},
    {CM_ZOOM_IN, "getting-started.html#zoom"},
    {CM_ZOOM_ORIGINAL, "getting-started.html#zoom"},
    {CM_ZOOM_FIT, "getting-started.html#zoom"},
    {CM_LAYER_MOVEUP, "layer-menu.html#order"},
    {CM_LAYER_MOVEDOWN, "layer-menu.html#order"},
    {CM_LAYER_SENDTOBACK, "layer-menu.html#order"},
    {CM_LAYER_BRINGTOFRONT, "layer-menu.html#order"},
    {CM_LAYER_DROPONLOWER, "layer-menu.html#merge"},
    {CM_LAYER_DROPONBACKGROUND, "layer-menu.html#merge"},
    {CM_LAYER_MERGEALL, "layer-menu.html#merge"},
    {CM_LAYER_MERGEVISIBLE, "layer-menu.html#merge"},
    {CM_LAYER_REMOVE, "layer-menu.html#remove"},
    {CM_LAYER_DUPLICATE, "layer-menu.html#duplicate"},
    {CM_LAYER_WALKUP, "layer-menu.html#walk"},
    {CM_LAYER_WALKDOWN, "layer-menu.html#walk"},
};

} // namespace

std::string ExecutablePath() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0 || size_t(n) >= sizeof buf - 1) return std::string();
    return std::string(buf, size_t(n));
}

std::string ExecutableDir() {
    const std::string exe = ExecutablePath();
    return exe.empty() ? exe : DirName(exe);
}

std::vector<std::string> DefaultsSearchDirs() {
    std::vector<std::string> dirs;
    if (std::string exe = ExecutableDir(); !exe.empty()) dirs.push_back(exe);

    std::string dataHome = Env("XDG_DATA_HOME");
    if (dataHome.empty() || dataHome[0] != '/') {
        const std::string home = Env("HOME");
        dataHome = home.empty() ? std::string() : Join(home, ".local/share");
    }
    if (!dataHome.empty()) dirs.push_back(Join(dataHome, "quillo"));

    std::string dataDirs = Env("XDG_DATA_DIRS");
    if (dataDirs.empty()) dataDirs = "/usr/local/share:/usr/share";
    size_t start = 0;
    while (start <= dataDirs.size()) {
        size_t end = dataDirs.find(':', start);
        if (end == std::string::npos) end = dataDirs.size();
        const std::string dir = dataDirs.substr(start, end - start);
        if (!dir.empty() && dir[0] == '/') dirs.push_back(Join(dir, "quillo"));
        start = end + 1;
    }
    return dirs;
}

std::string FindFileIn(const std::vector<std::string>& dirs, const std::string& name) {
    for (const std::string& dir : dirs) {
        if (dir.empty()) continue;
        std::string path = Join(dir, name);
        if (IsRegularFile(path)) return path;
    }
    return std::string();
}

std::string FindDefaultsFile() { return FindFileIn(DefaultsSearchDirs(), "QuilloDef.ini"); }

std::string IntroImagePath(const std::string& defaultsFile) {
    if (!IsRegularFile(defaultsFile)) return std::string();
    // The defaults file belongs to the installation: a damaged one is left as it is.
    const TProfileFile profile = TProfileFile::Read(defaultsFile, TProfileFile::TDamagedFile::Keep);
    std::string image = profile.GetString("Intro", "IntroImage");
    // Hand-edited files often carry blanks around the value.
    const auto first = image.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    image = image.substr(first, image.find_last_not_of(" \t") - first + 1);
    if (image[0] != '/') image = Join(DirName(defaultsFile), image);
    return IsRegularFile(image) ? image : std::string();
}

std::string IntroImagePath() { return IntroImagePath(FindDefaultsFile()); }

std::string DataDir() {
    // Installed: <prefix>/bin/quillo with <prefix>/share/quillo. From a build folder the
    // source tree's data folder, whose path the build passes in.
    std::vector<std::string> candidates;
    if (std::string exe = ExecutableDir(); !exe.empty())
        candidates.push_back(DirName(exe) + "/share/quillo");
#ifdef QUILLO_SOURCE_DATA_DIR
    candidates.push_back(QUILLO_SOURCE_DATA_DIR);
#endif
    for (const std::string& dir : candidates)
        if (IsDirectory(dir)) return dir;
    return std::string();
}

std::string FindHelpFile() {
    const std::string dir = DataDir();
    if (dir.empty()) return std::string();
    const std::string index = Join(dir, "help/index.html");
    return IsRegularFile(index) ? index : std::string();
}

std::span<const THelpTopic> HelpTopics() { return kTopics; }

std::string HelpPageFor(int contextId) {
    for (const THelpTopic& t : kTopics)
        if (t.ContextId == contextId) return t.Page;
    return "index.html";
}
