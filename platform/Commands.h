// Commands by id. A menu item, toolbar button or accelerator carries a command id; the
// shell asks a chain of command targets (the active view, its layer handler, the document
// manager, the application) whether the id is enabled, checked or has a changed text, and
// runs it on the first target that handles it.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The state of one command as its handler reports it.
struct TCommandEnabler {
    explicit TCommandEnabler(int id) : Id(id) {}
    int Id;
    bool Enabled = false;
    bool Checked = false;
    // A replacement for the item's text (e.g. "&Undo Crop\tCtrl+Z"); none keeps the table's.
    std::optional<std::string> Text;
    // Set by the target that answered; the chain stops there.
    bool Handled = false;

    void Enable(bool on = true) { Enabled = on, Handled = true; }
    void SetCheck(bool on) { Checked = on; }
    void SetText(std::string text) { Text = std::move(text); }
};

class ICommandTarget {
public:
    virtual ~ICommandTarget() = default;
    // Fills ce (calling Enable, which marks it handled) when this target handles ce.Id.
    virtual void CommandEnable(TCommandEnabler& ce) = 0;
    // Runs the command; false when the id is not this target's (the chain goes on).
    // Called only when CommandEnable reported the command enabled.
    virtual bool Command(int id) = 0;
};

// The chain of targets, asked in order. Targets are not owned; null entries are skipped.
class TCommandRouter {
public:
    std::vector<ICommandTarget*> Chain;

    // The first handling target's answer; an id nobody handles is disabled.
    TCommandEnabler State(int id) const;
    // Runs id on the first target that handles it, when enabled. True when it ran.
    bool Execute(int id) const;
};
