#include "AutosaveStore.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "ProfileFile.h"
#include "XdgDirs.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSection = "Autosave";
constexpr const char* kImageExt = ".qlx";
constexpr const char* kRecordExt = ".ini";
constexpr const char* kAsideExt = ".damaged";

// The start time of a process (field 22 of /proc/PID/stat); 0 when it cannot be read.
uint64_t StartTimeOf(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The command name in field 2 may hold blanks and parentheses; the fields after its
    // closing parenthesis are plain numbers and letters.
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    for (int i = 3; i <= 22; ++i)
        if (!(fields >> field)) return 0;
    return std::strtoull(field.c_str(), nullptr, 10);
}

// Line breaks cannot stand in a settings value; paths may hold them.
std::string Escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char c = s[++i];
        out += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

} // namespace

TProcessId CurrentProcess() {
    static const TProcessId self{long(::getpid()), StartTimeOf(long(::getpid()))};
    return self;
}

bool ProcessRuns(const TProcessId& process) {
    if (process.Pid <= 0) return false;
    if (::kill(pid_t(process.Pid), 0) != 0 && errno == ESRCH) return false;
    // Someone has that id; a different start time means it is not the writer.
    const uint64_t start = StartTimeOf(process.Pid);
    return start == 0 || process.Start == 0 || start == process.Start;
}

std::string TAutosaveStore::DefaultFolder() {
    const std::string base = XdgBaseDir("XDG_STATE_HOME", ".local/state");
    return base.empty() ? base : base + "/quillo/autosave";
}

TAutosaveStore::TAutosaveStore(std::string folder) : folder_(std::move(folder)) {}

std::string TAutosaveStore::ImagePath(const std::string& slot) const {
    return folder_ + "/" + slot + kImageExt;
}

std::string TAutosaveStore::RecordPath(const std::string& slot) const {
    return folder_ + "/" + slot + kRecordExt;
}

std::string TAutosaveStore::NewSlot() {
    const TProcessId self = CurrentProcess();
    for (;;) {
        const std::string slot = std::to_string(self.Pid) + "-" + std::to_string(self.Start) + "-" +
                                 std::to_string(next_++);
        std::error_code ec;
        if (!fs::exists(ImagePath(slot), ec) && !fs::exists(RecordPath(slot), ec)) return slot;
    }
}

L_INT TAutosaveStore::WriteRecord(const std::string& slot, const TAutosaveRecord& r) const {
    if (folder_.empty()) return ERROR_INV_FILENAME;
    std::error_code ec;
    fs::create_directories(folder_, ec);
    if (ec) return ERROR_FILE_OPEN;
    TProfileFile p;
    p.WriteString(kSection, "Path", Escape(r.Path));
    p.WriteString(kSection, "Title", Escape(r.Title));
    p.WriteString(kSection, "Type", Escape(r.Type));
    p.WriteString(kSection, "Pid", std::to_string(r.Writer.Pid));
    p.WriteString(kSection, "Process Start", std::to_string(r.Writer.Start));
    p.WriteString(kSection, "Saved At", std::to_string(r.SavedAt));
    return p.Write(RecordPath(slot));
}

bool TAutosaveStore::ReadRecord(const std::string& slot, TAutosaveRecord& r) const {
    const TProfileFile p = TProfileFile::Read(RecordPath(slot));
    if (!p.HasKey(kSection, "Pid") || !p.HasKey(kSection, "Saved At")) return false;
    r.Path = Unescape(p.GetString(kSection, "Path"));
    r.Title = Unescape(p.GetString(kSection, "Title"));
    r.Type = Unescape(p.GetString(kSection, "Type"));
    r.Writer.Pid = p.GetInt(kSection, "Pid", 0);
    r.Writer.Start = std::strtoull(p.GetString(kSection, "Process Start").c_str(), nullptr, 10);
    r.SavedAt = std::strtoll(p.GetString(kSection, "Saved At").c_str(), nullptr, 10);
    return r.Writer.Pid > 0;
}

std::vector<std::string> TAutosaveStore::LeftBehind() const {
    std::vector<std::pair<int64_t, std::string>> found;
    std::error_code ec;
    for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& p = it->path();
        const std::string slot = p.stem().string();
        TAutosaveRecord r;
        if (p.extension() == kRecordExt) {
            // The record is written first: one without its image is a first autosave that
            // did not finish, and has nothing to offer once its writer is gone.
            std::error_code missing;
            if (!fs::exists(ImagePath(slot), missing) && ReadRecord(slot, r) &&
                !ProcessRuns(r.Writer))
                fs::remove(p, missing);
            continue;
        }
        if (p.extension() != kImageExt) continue;
        if (!ReadRecord(slot, r)) {
            found.emplace_back(0, slot); // reported as damaged
            continue;
        }
        if (!ProcessRuns(r.Writer)) found.emplace_back(r.SavedAt, slot);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> slots;
    for (auto& f : found) slots.push_back(std::move(f.second));
    return slots;
}

void TAutosaveStore::Remove(const std::string& slot) const {
    std::error_code ec;
    fs::remove(ImagePath(slot), ec);
    fs::remove(RecordPath(slot), ec);
}

std::string TAutosaveStore::SetAside(const std::string& slot) const {
    std::error_code ec;
    const std::string image = ImagePath(slot) + kAsideExt;
    fs::rename(ImagePath(slot), image, ec);
    fs::rename(RecordPath(slot), RecordPath(slot) + kAsideExt, ec);
    return image;
}

std::string FormatSavedAt(int64_t seconds) {
    const std::time_t t = std::time_t(seconds);
    std::tm local{};
    if (!localtime_r(&t, &local)) return std::to_string(seconds);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}
