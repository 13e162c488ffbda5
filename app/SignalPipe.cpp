#include "SignalPipe.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

std::atomic<int> g_writeFd{-1};

void OnSignal(int signo) {
    const int saved = errno;
    const int fd = g_writeFd.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signo);
        // A full pipe already holds a pending request; one more is not needed.
        [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

} // namespace

TSignalPipe::TSignalPipe(std::vector<int> caught) : signals_(std::move(caught)) {
    if (::pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) {
        fds_[0] = fds_[1] = -1;
        return;
    }
    g_writeFd = fds_[1];
    for (int signo : signals_) {
        struct sigaction sa {};
        sa.sa_handler = OnSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        using TAction = struct sigaction;
        auto* old = new TAction();
        ::sigaction(signo, &sa, old);
        old_.push_back(old);
    }
}

TSignalPipe::~TSignalPipe() {
    for (size_t i = 0; i < old_.size(); ++i) {
        ::sigaction(signals_[i], old_[i], nullptr);
        delete old_[i];
    }
    if (g_writeFd.load() == fds_[1]) g_writeFd = -1;
    for (int fd : fds_)
        if (fd >= 0) ::close(fd);
}

std::vector<int> TSignalPipe::Take() {
    std::vector<int> got;
    if (fds_[0] < 0) return got;
    unsigned char buf[64];
    for (;;) {
        const ssize_t n = ::read(fds_[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}
