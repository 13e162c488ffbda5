// Ending signals turned into ordinary events. The handler only writes the signal's number
// into a pipe; the window thread watches the pipe's read end and does the real work
// (autosave, settings) there, where anything may be called.
#pragma once

#include <vector>

struct sigaction;

class TSignalPipe {
public:
    // Catches the given signals from now on (one pipe per process: a second object takes
    // them over). The previous handlers come back when this object goes.
    explicit TSignalPipe(std::vector<int> caught);
    ~TSignalPipe();
    TSignalPipe(const TSignalPipe&) = delete;
    TSignalPipe& operator=(const TSignalPipe&) = delete;

    // The end to watch for reading; -1 when the pipe could not be made (nothing is caught).
    int ReadFd() const { return fds_[0]; }
    // The signals that arrived since the last call, in order; never blocks.
    std::vector<int> Take();

private:
    int fds_[2] = {-1, -1};
    std::vector<int> signals_;
    std::vector<struct sigaction*> old_;
};
