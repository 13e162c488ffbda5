// The document base of the document manager: a file (path and title), its type, whether
// it has unsaved changes, and the operations the manager calls on it. Derived documents
// do the real loading and saving; the base keeps the bookkeeping.
#pragma once

#include <functional>
#include <string>
#include <vector>

class TDocTemplate;

// Open modes (bit flags, as the manager passes them through).
enum TDocOpenMode : int {
    OM_READ = 0x0001,
    OM_WRITE = 0x0002,
    OM_NEW = 0x0004,
};

// What the views of a document are told. Changed: whether it has unsaved changes may
// have changed.
enum class TDocEvent { Opened, Closed, Changed };

class TDocument {
public:
    TDocument() = default;
    virtual ~TDocument() = default;
    TDocument(const TDocument&) = delete;
    TDocument& operator=(const TDocument&) = delete;

    const std::string& GetDocPath() const { return path_; }
    // Also makes the title the path's file name.
    void SetDocPath(const std::string& path);
    const std::string& GetTitle() const { return title_; }
    void SetTitle(const std::string& title) { title_ = title; }
    TDocTemplate* GetTemplate() const { return template_; }
    void SetTemplate(TDocTemplate* t) { template_ = t; }
    int GetOpenMode() const { return openMode_; }
    void SetOpenMode(int mode) { openMode_ = mode; }

    // The base's own change flag; derived documents add their own state in IsDirty.
    bool GetDirtyFlag() const { return dirty_; }
    void SetDirty(bool dirty = true) { dirty_ = dirty; }

    virtual bool Open(int mode, const std::string& path);
    virtual bool Close();
    // Saves; the base accepts and has nothing to write.
    virtual bool Commit(bool force = false);
    // Drops the changes; the base clears the change flag.
    virtual bool Revert(bool clear = false);
    virtual bool IsDirty() { return dirty_; }
    virtual bool IsOpen() { return false; }

    // "Save As": asks for a new path and type and saves there. The manager installs the
    // handler; without one nothing happens and the answer is false.
    std::function<bool(TDocument&)> SaveAsHandler;
    bool SaveAs() { return SaveAsHandler ? SaveAsHandler(*this) : false; }

    // The views listen here.
    using TListener = std::function<void(TDocument&, TDocEvent)>;
    void AddListener(TListener listener) { listeners_.push_back(std::move(listener)); }
    void NotifyViews(TDocEvent event);

private:
    std::string path_, title_;
    TDocTemplate* template_ = nullptr;
    int openMode_ = 0;
    bool dirty_ = false;
    std::vector<TListener> listeners_;
};
