#include "ProfileFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <utility>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

} // namespace

TProfileFile::TProfileFile(std::string_view text) {
    // A byte-order mark from an editor would otherwise become part of the first line.
    while (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    sections_.push_back({std::string(), false, {}});
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        // Every carriage return before the line feed belongs to the line end: a value never
        // ends in one (none can be written), and keeping one would change the file each
        // time it is rewritten.
        while (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        std::string_view t = Trim(line);
        if (t.starts_with('[')) {
            t.remove_prefix(1);
            t = t.substr(0, t.find(']'));
            sections_.push_back({std::string(Trim(t)), true, {}});
            continue;
        }
        size_t eq = line.find('=');
        std::string_view key =
            eq == std::string_view::npos ? std::string_view() : Trim(line.substr(0, eq));
        if (!key.empty() && !t.starts_with(';'))
            sections_.back().Lines.push_back(
                {std::string(key), std::string(line.substr(eq + 1)), std::string(line)});
        else
            sections_.back().Lines.push_back({std::string(), std::string(), std::string(line)});
    }
}

namespace {

// Unavailable: the system could not open it just now (out of descriptors or memory), which
// says nothing about the file.
enum class TFileState { Missing, NotAFile, Unavailable, Damaged, Read };

TFileState Load(const std::string& path, std::string& data) {
    // Non-blocking, so that a pipe in the file's place cannot hang the program.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return TFileState::Missing;
        if (errno == EMFILE || errno == ENFILE || errno == ENOMEM || errno == EINTR)
            return TFileState::Unavailable;
        return TFileState::Damaged;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return TFileState::NotAFile;
    }
    // Read one byte past the limit, so an oversized file is noticed without trusting a size
    // reported up front.
    data.assign(TProfileFile::MaxFileSize + 1, '\0');
    size_t got = 0;
    bool failed = false;
    while (got < data.size()) {
        const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failed = n < 0;
            break;
        }
        got += size_t(n);
    }
    ::close(fd);
    data.resize(got);
    // A settings file never holds a NUL byte; a file cut short by a crash is often full of them.
    if (failed || got > TProfileFile::MaxFileSize || data.find('\0') != std::string::npos)
        return TFileState::Damaged;
    return TFileState::Read;
}

// Keeps an unusable settings file under "<name>.bad"; true when it is out of the way.
bool SetAside(const std::string& path) {
    return ::rename(path.c_str(), (path + ".bad").c_str()) == 0 || errno == ENOENT;
}

} // namespace

TProfileFile TProfileFile::Read(const std::string& path, TDamagedFile damaged) {
    std::string data;
    switch (path.empty() ? TFileState::Missing : Load(path, data)) {
        case TFileState::Read: return TProfileFile(data);
        case TFileState::Damaged:
            if (damaged == TDamagedFile::SetAside && SetAside(path)) break;
            [[fallthrough]];
        case TFileState::Unavailable: {
            TProfileFile empty;
            empty.unreadable_ = path;
            return empty;
        }
        case TFileState::Missing:
        case TFileState::NotAFile: break;
    }
    return TProfileFile();
}

L_INT TProfileFile::Write(const std::string& path) const {
    std::string current;
    switch (path.empty() ? TFileState::Missing : Load(path, current)) {
        case TFileState::Damaged:
            if (!SetAside(path)) return ERROR_FILE_WRITE;
            break;
        case TFileState::Unavailable: return ERROR_FILE_WRITE;
        case TFileState::Read:
            // It reads well now, but this profile holds none of its settings.
            if (path == unreadable_) return ERROR_FILE_WRITE;
            break;
        case TFileState::Missing:
        case TFileState::NotAFile: break;
    }
    std::string text = Text();
    return L_WriteFileAtomically(path.c_str(), reinterpret_cast<const uint8_t*>(text.data()),
                                 text.size());
}

const TProfileFile::TSection* TProfileFile::FindSection(std::string_view name) const {
    // Like the system's profile calls, the first of two sections with one name wins.
    for (const TSection& s : sections_)
        if (s.HasHeader && SameName(s.Name, name)) return &s;
    return nullptr;
}

TProfileFile::TSection* TProfileFile::FindSection(std::string_view name) {
    return const_cast<TSection*>(std::as_const(*this).FindSection(name));
}

const TProfileFile::TLine* TProfileFile::FindKey(const TSection& s, std::string_view key) {
    for (const TLine& l : s.Lines)
        if (!l.Key.empty() && SameName(l.Key, key)) return &l;
    return nullptr;
}

bool TProfileFile::HasKey(std::string_view section, std::string_view key) const {
    const TSection* s = FindSection(section);
    return s && FindKey(*s, key);
}

std::string TProfileFile::GetString(std::string_view section, std::string_view key,
                                    std::string_view def) const {
    const TSection* s = FindSection(section);
    const TLine* l = s ? FindKey(*s, key) : nullptr;
    return std::string(l ? std::string_view(l->Value) : def);
}

int TProfileFile::GetInt(std::string_view section, std::string_view key, int def) const {
    const TSection* s = FindSection(section);
    const TLine* l = s ? FindKey(*s, key) : nullptr;
    if (!l || l->Value.empty()) return def;
    std::string_view v = l->Value;
    while (!v.empty() && IsBlank(v.front())) v.remove_prefix(1);
    bool negative = false;
    if (!v.empty() && (v.front() == '-' || v.front() == '+')) {
        negative = v.front() == '-';
        v.remove_prefix(1);
    }
    long long n = 0;
    for (char c : v) {
        if (c < '0' || c > '9') break;
        n = n * 10 + (c - '0');
        if (n > (long long)INT_MAX + 1) n = (long long)INT_MAX + 1; // saturate, never overflow
    }
    if (negative) n = -n;
    if (n > INT_MAX) n = INT_MAX;
    return int(n);
}

bool TProfileFile::WriteString(std::string_view section, std::string_view key,
                               std::string_view value) {
    std::string_view sname = Trim(section), kname = Trim(key);
    if (sname.empty() || HasLineBreak(sname) || sname.find(']') != std::string_view::npos)
        return false;
    if (kname.empty() || HasLineBreak(kname) || kname.find('=') != std::string_view::npos ||
        kname.front() == '[' || kname.front() == ';')
        return false;
    if (HasLineBreak(value)) return false;

    if (sections_.empty()) sections_.push_back({std::string(), false, {}});
    TSection* s = FindSection(sname);
    if (!s) s = &sections_.emplace_back(TSection{std::string(sname), true, {}});
    if (TLine* l = const_cast<TLine*>(FindKey(*s, kname))) {
        l->Value = std::string(value);
        l->Raw.clear();
        return true;
    }
    // New keys go after the section's last entry, ahead of any trailing comments or blanks.
    size_t at = s->Lines.size();
    for (size_t i = s->Lines.size(); i-- > 0;)
        if (!s->Lines[i].Key.empty()) {
            at = i + 1;
            break;
        }
    s->Lines.insert(s->Lines.begin() + std::ptrdiff_t(at),
                    TLine{std::string(kname), std::string(value), std::string()});
    return true;
}

bool TProfileFile::DeleteKey(std::string_view section, std::string_view key) {
    TSection* s = FindSection(section);
    if (!s) return false;
    for (auto it = s->Lines.begin(); it != s->Lines.end(); ++it)
        if (!it->Key.empty() && SameName(it->Key, key)) {
            s->Lines.erase(it);
            return true;
        }
    return false;
}

std::string TProfileFile::Text() const {
    std::string out;
    for (const TSection& s : sections_) {
        if (s.HasHeader) out += "[" + s.Name + "]\n";
        for (const TLine& l : s.Lines) {
            if (l.Key.empty() || !l.Raw.empty())
                out += l.Raw;
            else
                out += l.Key + "=" + l.Value;
            out += '\n';
        }
    }
    return out;
}
