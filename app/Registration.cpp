#include "Registration.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "AppFiles.h"
#include "Toolkit.h"

extern char** environ;

namespace {

constexpr const char* kDesktopFile = "applications/quillo.desktop";
constexpr const char* kMimePackage = "mime/packages/quillo.xml";
constexpr int kIconSizes[] = {16, 32, 48, 128};

// The formats the program opens besides its own. FIXME: extend as the toolkit learns to read
// more formats; claiming them earlier would hand the user files we refuse.
constexpr const char* kImageMimeTypes[] = {"image/bmp",
                                           "image/x-bmp",
                                           "image/jpeg",
                                           "image/png",
                                           "image/tiff",
                                           "image/x-pcx",
                                           "image/vnd.zbrush.pcx",
                                           "image/x-tga",
                                           "image/x-sun-raster",
                                           "image/x-cals",
                                           "image/gif",
                                           "image/vnd.adobe.photoshop",
                                           "image/x-psd",
                                           "image/x-macpaint",
                                           "image/x-gem",
                                           "image/x-msp",
                                           "image/x-pict",
                                           "image/x-quillo-cmp",
                                           "application/x-wpg",
                                           "image/x-ioca",
                                           "image/x-eps",
                                           "image/x-photo-cd",
                                           "image/x-quillo-fxs",
                                           "image/vnd.fpx"};

std::string AppIconFile(int size) {
    return "icons/hicolor/" + std::to_string(size) + "x" + std::to_string(size) +
           "/apps/quillo.png";
}
std::string DocIconFile(int size) {
    return "icons/hicolor/" + std::to_string(size) + "x" + std::to_string(size) +
           "/mimetypes/application-x-quillo-layered.png";
}

bool ReadWholeFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    if (in.bad()) return false;
    out = ss.str();
    return true;
}

enum class TWrite { Unchanged, Written, Failed };

// Replaces the file atomically, but only when its content differs: desktops watch these
// folders and rebuild their caches on every change.
TWrite WriteIfChanged(const std::string& path, const std::string& content) {
    std::string old;
    if (ReadWholeFile(path, old) && old == content) return TWrite::Unchanged;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    if (ec) return TWrite::Failed;
    const L_INT rc = L_WriteFileAtomically(
        path.c_str(), reinterpret_cast<const uint8_t*>(content.data()), content.size());
    return rc == SUCCESS ? TWrite::Written : TWrite::Failed;
}

// One argument of an Exec line: quoted when it holds anything the launcher would split or
// expand. Inside quotes ", `, $ and \ take a backslash, and the file format doubles every
// backslash once more (so a literal backslash is four); a literal % is written %%.
bool QuoteExecArg(const std::string& arg, std::string& out) {
    static const std::string reserved = " \t\"'\\><~|&;$*?#()`";
    std::string quoted;
    bool needQuotes = false;
    for (char c : arg) {
        if (c == '\n' || c == '\r') return false; // not representable on an Exec line
        if (reserved.find(c) != std::string::npos) needQuotes = true;
        if (c == '"' || c == '`' || c == '$') {
            quoted += "\\\\";
            quoted += c;
        } else if (c == '\\') {
            quoted += "\\\\\\\\";
        } else if (c == '%') {
            quoted += "%%";
        } else {
            quoted += c;
        }
    }
    out = needQuotes ? "\"" + quoted + "\"" : quoted;
    return true;
}

std::string DesktopEntry(const std::string& execArg) {
    std::string mime;
    for (const char* type : kImageMimeTypes) mime += std::string(type) + ";";
    mime += std::string(QuilloLayeredMimeType) + ";";
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Quillo Professional\n"
           "GenericName=Image Editor\n"
           "Comment=Edit layered raster images\n"
           "Exec=" +
           execArg +
           " %F\n"
           "Icon=quillo\n"
           "Terminal=false\n"
           "Categories=Graphics;RasterGraphics;2DGraphics;\n"
           "MimeType=" +
           mime + "\n";
}

// The layered files start with "QLX " (the reader checks exactly these four bytes).
std::string MimePackage() {
    return std::string(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
               "  <mime-type type=\"") +
           QuilloLayeredMimeType +
           "\">\n"
           "    <comment>QLX multilayered image</comment>\n"
           "    <icon name=\"application-x-quillo-layered\"/>\n"
           "    <glob pattern=\"*.qlx\"/>\n"
           "    <magic priority=\"50\">\n"
           "      <match type=\"string\" offset=\"0\" value=\"QLX \"/>\n"
           "    </magic>\n"
           "  </mime-type>\n"
           // Two old formats the shared database has no type for. GEM files share .img with
           // disk images, so their header decides: version 1, eight header words.
           "  <mime-type type=\"image/x-gem\">\n"
           "    <comment>GEM image</comment>\n"
           "    <glob pattern=\"*.img\" weight=\"20\"/>\n"
           "    <magic priority=\"40\">\n"
           "      <match type=\"big32\" offset=\"0\" value=\"0x00010008\"/>\n"
           "    </magic>\n"
           "  </mime-type>\n"
           "  <mime-type type=\"image/x-msp\">\n"
           "    <comment>Microsoft Paint image</comment>\n"
           "    <glob pattern=\"*.msp\"/>\n"
           "    <magic priority=\"50\">\n"
           "      <match type=\"string\" offset=\"0\" value=\"DanM\"/>\n"
           "      <match type=\"string\" offset=\"0\" value=\"LinS\"/>\n"
           "    </magic>\n"
           "  </mime-type>\n"
           // Our own .cmp and .fxs containers, and IOCA images (.ica is also Citrix's text files, so
           // the content decides: a MO:DCA document or a bare image segment).
           "  <mime-type type=\"image/x-quillo-cmp\">\n"
           "    <comment>Quillo compressed image</comment>\n"
           "    <glob pattern=\"*.cmp\" weight=\"20\"/>\n"
           "    <magic priority=\"50\">\n"
           "      <match type=\"string\" offset=\"0\" value=\"QCMP\"/>\n"
           "    </magic>\n"
           "  </mime-type>\n"
           "  <mime-type type=\"image/x-quillo-fxs\">\n"
           "    <comment>Quillo fax page</comment>\n"
           "    <glob pattern=\"*.fxs\" weight=\"20\"/>\n"
           "    <magic priority=\"50\">\n"
           "      <match type=\"string\" offset=\"0\" value=\"QFXS\"/>\n"
           "    </magic>\n"
           "  </mime-type>\n"
           "  <mime-type type=\"image/x-ioca\">\n"
           "    <comment>IBM IOCA image</comment>\n"
           "    <glob pattern=\"*.ica\" weight=\"20\"/>\n"
           "    <magic priority=\"60\">\n"
           "      <match type=\"byte\" offset=\"0\" value=\"0x5A\">\n"
           "        <match type=\"big16\" offset=\"3\" value=\"0xD3A8\"/>\n"
           "      </match>\n"
           "      <match type=\"big16\" offset=\"0\" value=\"0x7000\">\n"
           "        <match type=\"string\" offset=\"2\" value=\"\\x91\\x01\\xff\"/>\n"
           "      </match>\n"
           "    </magic>\n"
           "  </mime-type>\n"
           "</mime-info>\n";
}

std::string FindProgram(const std::string& name) {
    const char* env = std::getenv("PATH");
    const std::string path = env ? env : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        const std::string dir = path.substr(start, end - start);
        start = end + 1;
        if (dir.empty() || dir[0] != '/') continue;
        const std::string candidate = dir + "/" + name;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::string();
}

// Runs a cache updater when it is installed; its output and its result are of no interest
// (a stale cache only delays the desktop noticing the type).
void RunIfPresent(const std::string& program, const std::string& arg) {
    const std::string exe = FindProgram(program);
    if (exe.empty()) return;
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return;
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::string a0 = exe, a1 = arg;
    char* argv[] = {a0.data(), a1.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, environ) == 0) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    }
    posix_spawn_file_actions_destroy(&actions);
}

void UpdateCaches(const std::string& home, bool mime, bool desktop) {
    if (mime) RunIfPresent("update-mime-database", home + "/mime");
    if (desktop) RunIfPresent("update-desktop-database", home + "/applications");
}

} // namespace

std::string UserDataHome() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (!home || !home[0]) return std::string();
    return std::string(home) + "/.local/share";
}

std::vector<std::string> RegisteredFiles() {
    std::vector<std::string> files{kDesktopFile, kMimePackage};
    for (int size : kIconSizes) {
        files.push_back(AppIconFile(size));
        files.push_back(DocIconFile(size));
    }
    return files;
}

bool RegisterFileTypes(const std::string& exePath) {
    const std::string home = UserDataHome();
    std::string execArg;
    if (home.empty() || exePath.empty() || exePath[0] != '/' || !QuoteExecArg(exePath, execArg))
        return false;

    bool ok = true;
    auto note = [&ok](TWrite w) {
        if (w == TWrite::Failed) ok = false;
        return w == TWrite::Written;
    };
    const bool desktopChanged =
        note(WriteIfChanged(home + "/" + kDesktopFile, DesktopEntry(execArg)));
    const bool mimeChanged = note(WriteIfChanged(home + "/" + kMimePackage, MimePackage()));

    const std::string data = DataDir();
    if (data.empty()) ok = false;
    for (int size : kIconSizes) {
        const std::string sz = std::to_string(size);
        std::string png;
        if (!data.empty() && ReadWholeFile(data + "/icons/quillo-" + sz + ".png", png))
            note(WriteIfChanged(home + "/" + AppIconFile(size), png));
        else
            ok = false;
        if (!data.empty() && ReadWholeFile(data + "/icons/document-" + sz + ".png", png))
            note(WriteIfChanged(home + "/" + DocIconFile(size), png));
        else
            ok = false;
    }
    UpdateCaches(home, mimeChanged, desktopChanged);
    return ok;
}

void UnregisterFileTypes() {
    const std::string home = UserDataHome();
    if (home.empty()) return;
    bool mime = false, desktop = false;
    for (const std::string& file : RegisteredFiles()) {
        if (::unlink((home + "/" + file).c_str()) != 0) continue;
        if (file == kDesktopFile)
            desktop = true;
        else if (file == kMimePackage)
            mime = true;
    }
    UpdateCaches(home, mime, desktop);
}
