// Autosave and crash recovery. Every few minutes each document with changes since its
// last autosave is copied (a slice at a time, on the window thread, between events) and
// written as a layered file by a worker thread into the autosave folder. Saving or closing
// a document removes its autosave; at start-up, autosaves left by a process that no longer
// runs are offered back. On a signal or at the end of the session everything is written at
// once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "AutosaveStore.h"

class TDocument;
class TImageDoc;
class TImageDocManager;
class TImageSnapshot;

// The autosave period in milliseconds: `minutes` from the settings, or a count of seconds
// from the environment when one is given (tests); 0 means off.
int AutosaveIntervalMs(int minutes, const char* secondsOverride);

class TAutosaver {
public:
    // Pixels copied per step: well under a frame's time even where memory is slow.
    static constexpr size_t kSliceBytes = size_t(4) << 20;
    enum class TStep {
        Copying, // call again at once
        Waiting, // the writer is busy: call again in a little while
        Idle,    // the round is over
    };

    // The autosaves of the manager's documents go into `folder`. Listens to the manager's
    // saves and closes while it lives, so the manager must outlive it.
    TAutosaver(TImageDocManager& manager, std::string folder);
    // Waits for a write under way.
    ~TAutosaver();
    TAutosaver(const TAutosaver&) = delete;
    TAutosaver& operator=(const TAutosaver&) = delete;

    TAutosaveStore& Store() { return store_; }

    // A new round: queues every document with changes since its autosave, and removes the
    // autosaves of documents that are clean again or gone.
    void StartRound();
    // The next piece of the round. Window thread only.
    TStep Step(size_t budget = kSliceBytes);
    // Writes every document with changes since its autosave now, on this thread, after
    // waiting for the writer. The number of documents that could not be written.
    int SaveAllNow();
    // The document was saved or closed: its autosave goes.
    void Forget(const TDocument& doc);
    // Offers each autosave left by a process that no longer runs: Recover opens it as a
    // dirty document with its old path, title and type; Discard deletes it; Later keeps
    // it for the next start. One that cannot be read is reported and set aside.
    void OfferRecovery();

    // The slot holding doc's autosave, empty when it has none.
    std::string SlotOf(const TDocument& doc) const;
    // A failed write, with the document's title and the toolkit code. Unset: printed on
    // the standard error.
    std::function<void(const std::string& title, L_INT code)> WriteFailed;

private:
    struct TEntry {
        uint64_t Id = 0;
        std::string Slot;
        bool Written = false;      // the slot holds a complete autosave
        uint64_t Stamp = 0;        // the document's change stamp it was taken at
        int Pending = 0;           // writes under way
        uint64_t PendingStamp = 0; // the stamp of the newest of them
    };
    class TWorker;

    TImageDoc* Find(const TDocument* doc) const;
    bool NeedsAutosave(TImageDoc& doc) const;
    TEntry& EntryFor(TImageDoc& doc);
    TAutosaveRecord RecordFor(TImageDoc& doc) const;
    void Sync();
    void Failed(const std::string& title, L_INT code);

    TImageDocManager& manager_;
    TAutosaveStore store_;
    std::unique_ptr<TWorker> worker_;
    std::map<const TDocument*, TEntry> entries_;
    uint64_t nextId_ = 1;
    std::vector<const TDocument*> queue_;
    // The copy under way: its document and whether the worker is still preparing it.
    TImageDoc* copying_ = nullptr;
    std::shared_ptr<TImageSnapshot> snapshot_;
    bool preparing_ = false;
    int writing_ = 0;
};
