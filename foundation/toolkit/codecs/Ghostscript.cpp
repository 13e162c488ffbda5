#include "Ghostscript.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "Toolkit.h"
#include "WholeFile.h"

extern char** environ;

namespace lt::codec {
namespace {

// The interpreter's path, or "" when there is none to run.
std::string FindInterpreter() {
    const char* chosen = std::getenv("QUILLO_GHOSTSCRIPT");
    if (chosen && *chosen) return ::access(chosen, X_OK) == 0 ? chosen : "";
    const char* path = std::getenv("PATH");
    std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = dirs.substr(start, end - start);
        // A relative entry would let the current folder choose the program.
        if (!dir.empty() && dir[0] == '/') {
            const std::string candidate = dir + "/gs";
            if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        }
        start = end + 1;
    }
    return "";
}

bool WriteAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t k = ::write(fd, p, n);
        if (k < 0 && errno == EINTR) continue;
        if (k <= 0) return false;
        p += k;
        n -= size_t(k);
    }
    return true;
}

// A folder only this user can enter, removed with what the interpreter left in it.
class PrivateDir {
public:
    PrivateDir() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp == '/' ? tmp : "/tmp") + "/quillo-ps-XXXXXX";
        if (::mkdtemp(pattern.data())) path_ = pattern;
    }
    ~PrivateDir() {
        if (path_.empty()) return;
        for (const char* name : {"/in.eps", "/out.bmp"}) ::unlink((path_ + name).c_str());
        ::rmdir(path_.c_str());
    }
    bool ok() const { return !path_.empty(); }
    std::string File(const char* name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Runs argv with no shell, stdin and output on /dev/null, under the limits; true when it ran
// to the end and exited with 0.
bool Run(const std::vector<std::string>& args, const std::string& cwd, const RenderLimits& limits,
         uint64_t maxOutput) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // A small, fixed environment: nothing of the user's (GS_OPTIONS, GS_LIB) changes what runs,
    // and the private folder is the temporary folder, the one place -dSAFER lets it write.
    std::string path = "PATH=/usr/bin:/bin", tmp = "TMPDIR=" + cwd, temp = "TEMP=" + cwd;
    char* envp[] = {path.data(), tmp.data(), temp.data(), nullptr};
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        ::setpgid(0, 0);
        const rlimit mem{rlim_t(limits.memoryBytes), rlim_t(limits.memoryBytes)};
        ::setrlimit(RLIMIT_AS, &mem);
        const rlimit cpu{rlim_t(limits.seconds), rlim_t(limits.seconds + 1)};
        ::setrlimit(RLIMIT_CPU, &cpu);
        // No file it writes can fill the disk: the output is checked against maxOutput
        // afterwards, and the band lists of a large page get room of about that size.
        const rlim_t files = rlim_t(2 * maxOutput + (uint64_t(64) << 20));
        const rlimit fsize{files, files};
        ::setrlimit(RLIMIT_FSIZE, &fsize);
        const rlimit core{0, 0};
        ::setrlimit(RLIMIT_CORE, &core);
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        if (::chdir(cwd.c_str()) != 0) ::_exit(127);
        ::execve(argv[0], argv.data(), envp);
        ::_exit(127);
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(limits.seconds);
    int status = 0;
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) break;
        if (r < 0 && errno != EINTR) return false;
        if (Clock::now() >= deadline) {
            ::kill(-pid, SIGKILL);
            ::kill(pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

int RenderPostScript(const uint8_t* ps, size_t size, int x, int y, int width, int height,
                     const RenderLimits& limits, uint64_t maxOutput, std::vector<uint8_t>& bmp) {
    bmp.clear();
    const std::string gs = FindInterpreter();
    if (gs.empty()) return ERROR_NO_GHOSTSCRIPT;
    PrivateDir dir;
    if (!dir.ok()) return ERROR_FILE_WRITE;
    const std::string in = dir.File("in.eps"), out = dir.File("out.bmp");
    const int fd = ::open(in.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return ERROR_FILE_WRITE;
    const bool written = WriteAll(fd, ps, size);
    if (::close(fd) != 0 || !written) return ERROR_FILE_WRITE;
    // The page is fixed to the box, and the program's coordinates moved so that the box's
    // corner is the page's.
    const std::vector<std::string> args = {
        gs,
        "-q",
        "-dSAFER",
        "-dBATCH",
        "-dNOPAUSE",
        "-dNOPROMPT",
        "-dFirstPage=1",
        "-dLastPage=1",
        "-r72",
        "-g" + std::to_string(width) + "x" + std::to_string(height),
        "-dFIXEDMEDIA",
        "-dTextAlphaBits=4",
        "-dGraphicsAlphaBits=4",
        "-sDEVICE=bmp16m",
        "-sOutputFile=out.bmp",
        "-c",
        std::to_string(-int64_t(x)) + " " + std::to_string(-int64_t(y)) + " translate",
        "-f",
        "in.eps"};
    if (!Run(args, dir.File(""), limits, maxOutput)) return ERROR_FILE_FORMAT;
    struct stat st {};
    if (::stat(out.c_str(), &st) != 0 || st.st_size == 0) return ERROR_FILE_FORMAT;
    if (uint64_t(st.st_size) > maxOutput) return ERROR_FILE_FORMAT;
    const int rc = ReadWholeFile(out.c_str(), bmp);
    return rc == SUCCESS ? SUCCESS : ERROR_FILE_READ;
}

} // namespace lt::codec
