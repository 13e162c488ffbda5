#include "Autosaver.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>

#include "DocTemplate.h"
#include "ErrorDisplay.h"
#include "ImageDocManager.h"
#include "ImageSnapshot.h"
#include "MessageBox.h"

int AutosaveIntervalMs(int minutes, const char* secondsOverride) {
    if (secondsOverride && *secondsOverride) {
        const long seconds = std::strtol(secondsOverride, nullptr, 10);
        return seconds > 0 ? int(std::min<long>(seconds, 24 * 3600)) * 1000 : 0;
    }
    return minutes > 0 ? std::min(minutes, 24 * 60) * 60 * 1000 : 0;
}

// One thread that runs jobs in the order given; what is to happen once a job is over runs
// on the owner's thread, in Collect.
class TAutosaver::TWorker {
public:
    ~TWorker() {
        {
            std::lock_guard<std::mutex> lock(m_);
            stop_ = true;
        }
        cv_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

    void Post(std::function<void()> job, std::function<void()> done) {
        {
            std::lock_guard<std::mutex> lock(m_);
            jobs_.push_back({std::move(job), std::move(done)});
            ++pending_;
        }
        if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
        cv_.notify_all();
    }

    // Runs the completions of the jobs that have finished.
    void Collect() {
        std::deque<std::function<void()>> done;
        {
            std::lock_guard<std::mutex> lock(m_);
            done.swap(done_);
        }
        for (auto& d : done) d();
    }

    void WaitIdle() {
        std::unique_lock<std::mutex> lock(m_);
        idle_.wait(lock, [this] { return pending_ == 0; });
    }

private:
    struct TJob {
        std::function<void()> Work, Done;
    };

    void Run() {
        std::unique_lock<std::mutex> lock(m_);
        for (;;) {
            cv_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
            if (jobs_.empty()) return; // stopping, and nothing is left to write
            TJob job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job.Work();
            job.Work = nullptr; // the snapshot goes here, off the window thread
            lock.lock();
            done_.push_back(std::move(job.Done));
            --pending_;
            idle_.notify_all();
        }
    }

    std::mutex m_;
    std::condition_variable cv_, idle_;
    std::deque<TJob> jobs_;
    std::deque<std::function<void()>> done_;
    int pending_ = 0;
    bool stop_ = false;
    std::thread thread_;
};

TAutosaver::TAutosaver(TImageDocManager& manager, std::string folder)
    : manager_(manager), store_(std::move(folder)), worker_(std::make_unique<TWorker>()) {
    // A saved or closed document has nothing left to recover.
    manager_.DocumentSaved = [this](TDocument& doc) { Forget(doc); };
    manager_.DocumentClosed = [this](TDocument& doc) { Forget(doc); };
}

TAutosaver::~TAutosaver() {
    manager_.DocumentSaved = nullptr;
    manager_.DocumentClosed = nullptr;
    // A write that finishes for a document closed meanwhile must still be cleaned up, or
    // the next start would offer changes the user chose to drop.
    worker_->WaitIdle();
    worker_->Collect();
    worker_.reset();
}

TImageDoc* TAutosaver::Find(const TDocument* doc) const {
    for (const auto& d : manager_.Documents())
        if (d.get() == doc) return dynamic_cast<TImageDoc*>(d.get());
    return nullptr;
}

bool TAutosaver::NeedsAutosave(TImageDoc& doc) const {
    if (!doc.IsOpen() || !doc.IsDirty()) return false;
    auto it = entries_.find(&doc);
    if (it == entries_.end()) return true;
    const TEntry& e = it->second;
    const uint64_t now = doc.ChangeStamp();
    if (e.Pending > 0) return e.PendingStamp != now;
    return !e.Written || e.Stamp != now;
}

TAutosaver::TEntry& TAutosaver::EntryFor(TImageDoc& doc) {
    TEntry& e = entries_[&doc];
    if (e.Slot.empty()) {
        e.Id = nextId_++;
        e.Slot = store_.NewSlot();
    }
    return e;
}

TAutosaveRecord TAutosaver::RecordFor(TImageDoc& doc) const {
    TAutosaveRecord r;
    r.Path = doc.GetDocPath();
    r.Title = doc.GetTitle();
    if (const TDocTemplate* t = doc.GetTemplate()) r.Type = t->GetDescription();
    r.Writer = CurrentProcess();
    r.SavedAt = int64_t(std::time(nullptr));
    return r;
}

std::string TAutosaver::SlotOf(const TDocument& doc) const {
    auto it = entries_.find(&doc);
    return it == entries_.end() ? std::string() : it->second.Slot;
}

void TAutosaver::Failed(const std::string& title, L_INT code) {
    if (WriteFailed)
        WriteFailed(title, code);
    else
        std::fprintf(stderr, "quillo: autosave of %s failed: %s\n", title.c_str(),
                     ToolkitErrorText(code).c_str());
}

void TAutosaver::Forget(const TDocument& doc) {
    auto it = entries_.find(&doc);
    if (it != entries_.end()) {
        // A write still under way finds no entry when it is done and removes its files.
        store_.Remove(it->second.Slot);
        entries_.erase(it);
    }
    queue_.erase(std::remove(queue_.begin(), queue_.end(), &doc), queue_.end());
    if (copying_ == &doc) {
        copying_ = nullptr;
        snapshot_.reset();
        preparing_ = false;
    }
}

void TAutosaver::Sync() {
    std::vector<const TDocument*> stale;
    for (const auto& [doc, entry] : entries_) {
        TImageDoc* d = Find(doc);
        if (!d || !d->IsDirty()) stale.push_back(doc);
    }
    for (const TDocument* doc : stale) Forget(*doc);
}

void TAutosaver::StartRound() {
    worker_->Collect();
    Sync();
    for (const auto& d : manager_.Documents()) {
        auto* doc = dynamic_cast<TImageDoc*>(d.get());
        if (!doc || doc == copying_ || !NeedsAutosave(*doc)) continue;
        if (std::find(queue_.begin(), queue_.end(), doc) == queue_.end()) queue_.push_back(doc);
    }
}

TAutosaver::TStep TAutosaver::Step(size_t budget) {
    worker_->Collect();
    if (!copying_) {
        TImageDoc* next = nullptr;
        while (!queue_.empty() && !next) {
            next = Find(queue_.front());
            queue_.erase(queue_.begin());
            if (next && !NeedsAutosave(*next)) next = nullptr;
        }
        if (!next) return writing_ > 0 ? TStep::Waiting : TStep::Idle;
        auto snapshot = std::make_shared<TImageSnapshot>();
        if (const L_INT rc = snapshot->Begin(*next); rc != SUCCESS) {
            Failed(next->GetTitle(), rc);
            return TStep::Copying;
        }
        copying_ = next;
        snapshot_ = snapshot;
        preparing_ = true;
        // The fresh pixel blocks are faulted in by the worker: on the window thread that
        // would cost more than the copy.
        worker_->Post([snapshot] { snapshot->Prefault(); },
                      [this, snapshot] {
                          if (snapshot_ == snapshot) preparing_ = false;
                      });
        return TStep::Waiting;
    }
    if (preparing_) return TStep::Waiting;

    if (snapshot_->CopySome(*copying_, budget) != SUCCESS) {
        // A command ran meanwhile: the copy mixes two states. Start again with this
        // document.
        queue_.insert(queue_.begin(), copying_);
        copying_ = nullptr;
        snapshot_.reset();
        return TStep::Copying;
    }
    if (!snapshot_->Done()) return TStep::Copying;

    TImageDoc& doc = *copying_;
    TEntry& entry = EntryFor(doc);
    const uint64_t id = entry.Id, stamp = snapshot_->Stamp();
    const std::string slot = entry.Slot, title = doc.GetTitle();
    const TAutosaveRecord record = RecordFor(doc);
    std::shared_ptr<TLayeredImage> image(snapshot_->Take());
    copying_ = nullptr;
    snapshot_.reset();
    auto result = std::make_shared<L_INT>(SUCCESS);
    ++writing_;
    ++entry.Pending;
    entry.PendingStamp = stamp;
    // The record goes first: an image is never found without one.
    worker_->Post(
        [this, image, slot, record, result] {
            L_INT rc = store_.WriteRecord(slot, record);
            if (rc == SUCCESS) rc = image->SaveNative(store_.ImagePath(slot).c_str());
            *result = rc;
        },
        [this, id, stamp, slot, title, result] {
            --writing_;
            auto it = std::find_if(entries_.begin(), entries_.end(),
                                   [&](const auto& e) { return e.second.Id == id; });
            if (it == entries_.end()) {
                // Saved or closed while it was written: nothing of it may stay.
                store_.Remove(slot);
                return;
            }
            --it->second.Pending;
            if (*result != SUCCESS) {
                Failed(title, *result);
                return;
            }
            it->second.Written = true;
            it->second.Stamp = stamp;
        });
    return TStep::Copying;
}

int TAutosaver::SaveAllNow() {
    queue_.clear();
    copying_ = nullptr;
    snapshot_.reset();
    preparing_ = false;
    worker_->WaitIdle();
    worker_->Collect();
    Sync();
    int failed = 0;
    for (const auto& d : manager_.Documents()) {
        auto* doc = dynamic_cast<TImageDoc*>(d.get());
        if (!doc || !NeedsAutosave(*doc)) continue;
        TEntry& entry = EntryFor(*doc);
        const uint64_t stamp = doc->ChangeStamp();
        L_INT rc = store_.WriteRecord(entry.Slot, RecordFor(*doc));
        if (rc == SUCCESS) rc = doc->Image.SaveNative(store_.ImagePath(entry.Slot).c_str());
        if (rc != SUCCESS) {
            Failed(doc->GetTitle(), rc);
            ++failed;
            continue;
        }
        entry.Written = true;
        entry.Stamp = stamp;
    }
    return failed;
}

void TAutosaver::OfferRecovery() {
    for (const std::string& slot : store_.LeftBehind()) {
        TAutosaveRecord record;
        const bool described = store_.ReadRecord(slot, record);
        const std::string name = described && !record.Title.empty() ? record.Title : slot;
        TLayeredImage image;
        const L_INT rc =
            described ? image.LoadNative(store_.ImagePath(slot).c_str()) : ERROR_FILE_FORMAT;
        if (rc != SUCCESS) {
            const std::string kept = store_.SetAside(slot);
            MessageBoxHost().Show("The autosaved changes of " + name + " cannot be read (" +
                                      ToolkitErrorText(rc) +
                                      ") and are skipped.\nThe file is kept as " + kept + ".",
                                  kAppName, TMbButtons::Ok, TMbIcon::Exclamation);
            continue;
        }
        const std::string question = "Recover unsaved changes of " + name + " (saved at " +
                                     FormatSavedAt(record.SavedAt) + ")?";
        switch (MessageBoxHost().Show(question, kAppName, TMbButtons::RecoverDiscardLater,
                                      TMbIcon::Question)) {
            case TMbResult::Yes: {
                TImageDoc* doc =
                    manager_.OpenRecovered(image, record.Path, record.Title, record.Type);
                if (!doc) break; // kept for the next start
                // This process owns the autosave from now on: another editor started
                // meanwhile must not offer it, and it goes when the document is saved.
                TEntry& entry = entries_[doc];
                entry.Id = nextId_++;
                entry.Slot = slot;
                entry.Written = true;
                entry.Stamp = doc->ChangeStamp();
                record.Writer = CurrentProcess();
                store_.WriteRecord(slot, record);
                break;
            }
            case TMbResult::No: store_.Remove(slot); break;
            default: break; // later
        }
    }
}
