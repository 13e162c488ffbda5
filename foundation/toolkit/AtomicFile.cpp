// Writes files so that the target is always either the old file or the complete new one,
// whatever happens meanwhile (a full disk, a crash, a kill). The new file is written without
// a name where the filesystem allows, so an interrupted write leaves nothing behind;
// elsewhere it gets a short hidden name in the target's folder, which a failure removes and
// the next save into that folder sweeps when its writer died. Either way one rename puts it
// in place.
#include "AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "Toolkit.h"

namespace {

thread_local L_INT g_lastWriteError = 0;
std::atomic<bool> g_namelessAllowed{true};

// As many hops as the kernel follows before it answers ELOOP.
constexpr int kMaxLinkHops = 40;
// A temporary this old is stale even when a live process has its pid: a writer finishes
// within moments of its last write, so the pid must have been reused since.
constexpr time_t kStaleSeconds = 24 * 60 * 60;
constexpr std::string_view kTempPrefix = ".~q";
constexpr size_t kTempRandomChars = 6;

L_INT Fail(L_INT cause) {
    g_lastWriteError = cause;
    return ERROR_FILE_WRITE;
}

class TFd {
public:
    explicit TFd(int fd = -1) : fd_(fd) {}
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    ~TFd() { Close(); }
    int Get() const { return fd_; }
    void Reset(int fd) {
        Close();
        fd_ = fd;
    }
    // 0, or the errno of a failed close (NFS reports late write errors there).
    int Close() {
        if (fd_ < 0) return 0;
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0 ? 0 : errno;
    }

private:
    int fd_;
};

// Follows a chain of symbolic links to the file that is really to be replaced, so the links
// stay links. A dangling link leads to the name where the new file is created. 0 or an errno.
int ResolveTarget(std::string path, std::string& out) {
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            // A new file; a missing folder is reported when it is opened.
            if (errno == ENOENT) break;
            return errno;
        }
        if (!S_ISLNK(st.st_mode)) break;
        if (hops == kMaxLinkHops) return ELOOP;
        std::string link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
        if (n < 0) return errno;
        if (size_t(n) == link.size()) return ENAMETOOLONG;
        link.resize(size_t(n));
        if (link.empty()) return ENOENT;
        const auto slash = path.find_last_of('/');
        if (link[0] == '/' || slash == std::string::npos)
            path = link;
        else
            path = path.substr(0, slash + 1) + link;
    }
    out = std::move(path);
    return 0;
}

// Splits a path into its folder and file name; false when it names no file ("x/", "..").
bool SplitPath(const std::string& path, std::string& dir, std::string& base) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        dir.assign(1, '.');
        base = path;
    } else {
        dir.assign(path, 0, slash == 0 ? 1 : slash); // "/x" lives in "/"
        base.assign(path, slash + 1);
    }
    return !base.empty() && base != "." && base != "..";
}

bool IsAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A short name, whatever the length of the target's: a target of the longest allowed name
// still has a temporary beside it.
std::string TemporaryName() {
    static constexpr char kChars[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<uint64_t> counter{0};
    uint8_t r[kTempRandomChars];
    if (::getrandom(r, sizeof r, GRND_NONBLOCK) != ssize_t(sizeof r)) {
        // Without the kernel's randomness the clock and a counter still differ per try;
        // a clash only costs another try, as O_EXCL and link() refuse taken names.
        timespec ts{};
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
        uint64_t x = uint64_t(ts.tv_nsec) ^ (counter++ * 0x9E3779B97F4A7C15ull);
        for (uint8_t& b : r) {
            b = uint8_t(x);
            x = (x >> 8) | (x << 56);
        }
    }
    std::string name(kTempPrefix);
    name += std::to_string(::getpid());
    name += '.';
    for (uint8_t b : r) name += kChars[b % (sizeof kChars - 1)];
    return name;
}

bool WriterIsAlive(std::string_view name) {
    const long pid = std::strtol(std::string(name.substr(kTempPrefix.size())).c_str(), nullptr, 10);
    if (pid <= 0 || pid > INT_MAX) return false;
    // Our own pid may be another thread of this program writing into the same folder.
    if (pid == ::getpid()) return true;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

// Removes the temporaries that interrupted saves left in the folder: only our exact names,
// only regular files, and only those whose writer is gone.
void SweepStaleTemporaries(int dirFd) {
    const int fd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    DIR* d = ::fdopendir(fd);
    if (!d) {
        ::close(fd);
        return;
    }
    const time_t now = ::time(nullptr);
    while (const dirent* e = ::readdir(d)) {
        const std::string_view name = e->d_name;
        if (!lt::atomic::IsTemporaryName(name)) continue;
        struct stat st {};
        if (::fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (WriterIsAlive(name) && now - st.st_mtime < kStaleSeconds) continue;
        ::unlinkat(dirFd, e->d_name, 0);
    }
    ::closedir(d);
}

// Gives a nameless file a name in the folder. 0 or an errno.
int LinkNameless(int fd, int dirFd, const std::string& name) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, self.c_str(), dirFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    const int err = errno;
    // Without /proc mounted the descriptor itself can be linked (where privileges allow).
    if (err == ENOENT && ::linkat(fd, "", dirFd, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
    return err;
}

int WriteAll(int fd, const uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        done += size_t(n);
    }
    return ::fsync(fd) == 0 ? 0 : errno;
}

// The replaced file's owner and permission bits carry over; a new file keeps the
// 0666 & ~umask it was created with.
void KeepOwnerAndMode(int fd, const struct stat& old) {
    // Owner first: a change of owner clears set-id bits that the mode then restores.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0 && ::fchown(fd, uid_t(-1), old.st_gid) != 0) {
        // Not the owner and not in the group: the new file stays ours, as any editor's would.
    }
    if (::fchmod(fd, old.st_mode & 07777) != 0) {
        // Filesystems without permission bits refuse; the file is still written.
    }
}

} // namespace

namespace lt::atomic {

void SetNamelessFiles(TNamelessFiles use) { g_namelessAllowed = use == TNamelessFiles::Allowed; }

bool IsTemporaryName(std::string_view name) {
    if (!name.starts_with(kTempPrefix)) return false;
    name.remove_prefix(kTempPrefix.size());
    size_t digits = 0;
    while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9') ++digits;
    if (digits == 0 || digits > 10) return false;
    name.remove_prefix(digits);
    if (name.size() != kTempRandomChars + 1 || name[0] != '.') return false;
    for (char c : name.substr(1))
        if (!IsAlnum(c)) return false;
    return true;
}

} // namespace lt::atomic

L_INT L_GetLastWriteError() { return g_lastWriteError; }

void L_ClearLastWriteError() { g_lastWriteError = 0; }

const char* L_WriteErrorText(L_INT cause) {
    switch (cause) {
        case 0: return "";
        case WRITE_ERROR_NOT_REGULAR:
            return "The target is not a regular file (a folder, a device or a pipe).";
        case EACCES:
        case EPERM: return "Permission denied: the folder or the file is write-protected.";
        case EROFS: return "The disk is read-only.";
        case ENOSPC:
        case EDQUOT:
        case EFBIG: return "The disk is full.";
        case ENAMETOOLONG: return "The file name is too long.";
        case ENOENT:
        case ENOTDIR: return "The folder does not exist.";
        case ELOOP: return "Too many symbolic links.";
        case EIO: return "The disk reported an input/output error.";
        default: {
            const char* text = ::strerrordesc_np(cause);
            return text ? text : "The system refused the write.";
        }
    }
}

L_INT L_WriteFileAtomically(const char* path, const uint8_t* data, size_t size) {
    g_lastWriteError = 0;
    if (!path || !*path) return ERROR_INV_FILENAME;
    if (!data && size) return ERROR_INV_PARAMETER;
    std::string target, dir, base;
    if (const int err = ResolveTarget(path, target)) return Fail(err);
    if (!SplitPath(target, dir, base)) return Fail(WRITE_ERROR_NOT_REGULAR);
    if (base.size() > NAME_MAX) return Fail(ENAMETOOLONG);

    // A folder we may write but not list still takes files; it only goes unswept.
    TFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.Get() < 0 && errno == EACCES)
        dirFd.Reset(::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.Get() < 0) return Fail(errno);

    // Refused before anything is written: a pipe would block the writer, and a folder or a
    // device must not be swapped for a file.
    struct stat old {};
    bool replacing = ::fstatat(dirFd.Get(), base.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (!replacing && errno != ENOENT) return Fail(errno);
    if (replacing && !S_ISREG(old.st_mode)) return Fail(WRITE_ERROR_NOT_REGULAR);

    SweepStaleTemporaries(dirFd.Get());

    std::string tmpName; // the new file's name in the folder; empty while it has none
    TFd file;
    if (g_namelessAllowed) {
        file.Reset(::openat(dirFd.Get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
        if (file.Get() < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return Fail(errno);
    }
    if (file.Get() < 0) {
        for (int tries = 0; tries < 100 && file.Get() < 0; ++tries) {
            tmpName = TemporaryName();
            file.Reset(::openat(dirFd.Get(), tmpName.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
            if (file.Get() < 0 && errno != EEXIST) break;
        }
        if (file.Get() < 0) return Fail(errno);
    }
    auto abandon = [&](int err) {
        file.Close();
        if (!tmpName.empty()) ::unlinkat(dirFd.Get(), tmpName.c_str(), 0);
        return Fail(err);
    };

    if (replacing) KeepOwnerAndMode(file.Get(), old);
    if (const int err = WriteAll(file.Get(), data, size)) return abandon(err);

    if (tmpName.empty()) {
        // A new target takes the file's name directly. A link cannot take the place of an
        // existing name, so a replaced one goes through a short-lived name and a rename; a
        // kill between the two leaves only that name, for the next save to sweep.
        if (!replacing) {
            const int err = LinkNameless(file.Get(), dirFd.Get(), base);
            if (err == 0) {
                file.Close();
                ::fsync(dirFd.Get());
                return SUCCESS;
            }
            if (err != EEXIST) return Fail(err);
            // Someone created the target meanwhile: replace it like any other, if it is a file.
            if (::fstatat(dirFd.Get(), base.c_str(), &old, AT_SYMLINK_NOFOLLOW) != 0)
                return Fail(errno);
            if (!S_ISREG(old.st_mode)) return Fail(WRITE_ERROR_NOT_REGULAR);
        }
        for (int tries = 0; tries < 100 && tmpName.empty(); ++tries) {
            std::string name = TemporaryName();
            const int err = LinkNameless(file.Get(), dirFd.Get(), name);
            if (err == 0)
                tmpName = std::move(name);
            else if (err != EEXIST)
                return Fail(err);
        }
        if (tmpName.empty()) return Fail(EEXIST);
    }
    if (const int err = file.Close()) return abandon(err);
    if (::renameat(dirFd.Get(), tmpName.c_str(), dirFd.Get(), base.c_str()) != 0)
        return abandon(errno);
    // Make the rename itself durable (an O_PATH folder cannot be synced; nothing to do then).
    ::fsync(dirFd.Get());
    return SUCCESS;
}
