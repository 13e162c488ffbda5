// The folder of autosaved documents. Each autosave is a slot of two files: NAME.qlx, the
// layered image, and NAME.ini, a small record of the document it belongs to (its path,
// title and type) and of the process that wrote it. A slot whose process no longer runs
// holds changes a crash left behind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Toolkit.h"

// Who wrote a slot: a process id and the process's start time (clock ticks since boot),
// which tells a live writer from a later process that got the same id.
struct TProcessId {
    long Pid = 0;
    uint64_t Start = 0;
    bool operator==(const TProcessId&) const = default;
};
// This process.
TProcessId CurrentProcess();
// Whether that process still runs. When the system does not say, it is taken to run: its
// autosaves are then left alone rather than offered twice.
bool ProcessRuns(const TProcessId& process);

struct TAutosaveRecord {
    std::string Path;  // the document's file, empty for one never saved
    std::string Title; // the title its window showed
    std::string Type;  // the description of its file type
    TProcessId Writer;
    int64_t SavedAt = 0; // seconds since 1970
};

class TAutosaveStore {
public:
    // $XDG_STATE_HOME/quillo/autosave, or ~/.local/state/quillo/autosave when the variable
    // is unset or not absolute. Empty without a home either.
    static std::string DefaultFolder();

    explicit TAutosaveStore(std::string folder);
    const std::string& Folder() const { return folder_; }

    // A slot name no file in the folder uses yet, made from this process's identity.
    std::string NewSlot();
    std::string ImagePath(const std::string& slot) const;
    std::string RecordPath(const std::string& slot) const;

    // Writes the record (atomically, creating the folder). SUCCESS or a toolkit code.
    L_INT WriteRecord(const std::string& slot, const TAutosaveRecord& record) const;
    // False when the record is missing, unreadable or lacks its writer.
    bool ReadRecord(const std::string& slot, TAutosaveRecord& record) const;
    // Slots whose writer no longer runs, oldest first. A record that cannot be read is
    // listed too (its writer is unknown) so that it can be reported. Records a gone writer
    // left without their image are deleted on the way.
    std::vector<std::string> LeftBehind() const;
    // Deletes both files of the slot.
    void Remove(const std::string& slot) const;
    // Renames both files so the slot is no longer offered but its content stays for
    // whoever wants to look at it; the new image path.
    std::string SetAside(const std::string& slot) const;

private:
    std::string folder_;
    unsigned next_ = 1;
};

// "2026-12-07 14:38": a record's time in local time, as the recovery question shows it.
std::string FormatSavedAt(int64_t seconds);
