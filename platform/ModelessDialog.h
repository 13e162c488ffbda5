// Windows that stay up while the program goes on working: a progress window shown during a
// long operation on the user-interface thread. The operation keeps the windows alive by
// handling their pending events now and then (PumpEvents); meanwhile the owner is disabled
// and no command may start (TBusySection), so only the progress window takes input.
#pragma once

#include <functional>
#include <vector>

class TDialog;
class IWindowHost;

class IModelessHost {
public:
    virtual ~IModelessHost() = default;
    // Opens the dialog and runs its set-up; it stays open until Destroy.
    virtual void Show(TDialog& dialog, IWindowHost* owner) = 0;
    // Closes the window (ending the dialog if the logic has not) and detaches it.
    virtual void Destroy(TDialog& dialog) = 0;
    // Handles the events waiting for any window of the program, then returns.
    virtual void PumpEvents() = 0;
    // Lets the owner (null: the main window) take input again, or not.
    virtual void EnableOwner(IWindowHost* owner, bool enable) = 0;
};

// The host the program uses; without one installed, a headless host that pumps nothing.
IModelessHost& ModelessHost();
// Installs a host (null restores the default); returns the previous one.
IModelessHost* SetModelessHost(IModelessHost* host);

// Headless host for tests: each PumpEvents runs the next queued action (then nothing), as
// if the user had clicked while the operation ran; owner changes are recorded.
class THeadlessModelessHost : public IModelessHost {
public:
    void Show(TDialog& dialog, IWindowHost* owner) override;
    void Destroy(TDialog& dialog) override;
    void PumpEvents() override;
    void EnableOwner(IWindowHost* owner, bool enable) override;

    void QueuePump(std::function<void()> action) { pumps_.push_back(std::move(action)); }

    int Pumps = 0;
    std::vector<bool> OwnerStates; // each EnableOwner's value, in order
    TDialog* Current = nullptr;    // the dialog shown, until destroyed

private:
    std::vector<std::function<void()>> pumps_;
    size_t next_ = 0;
};

// Marks a stretch during which the program must not start another command: events are
// handled meanwhile, but a command reaching the router is refused.
class TBusySection {
public:
    TBusySection() { ++depth_; }
    ~TBusySection() { --depth_; }
    TBusySection(const TBusySection&) = delete;
    TBusySection& operator=(const TBusySection&) = delete;
    static bool Active() { return depth_ > 0; }

private:
    static inline int depth_ = 0;
};
