// The document manager base: the registered file types (templates), the open documents,
// and the File commands every document program has (new, open, save, save as, close,
// revert, recent files), plus files named on the command line or dropped on the window.
// The shell supplies the windows through IDocViewFactory; the program derives the
// manager to say which document class it makes and to refine the commands.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Commands.h"
#include "DocTemplate.h"
#include "Document.h"
#include "MessageBox.h"

// File and window commands, in the framework's numbering.
enum : int {
    CM_EXIT = 24310,
    CM_FILENEW = 24331,
    CM_FILEOPEN = 24332,
    CM_FILESAVE = 24333,
    CM_FILESAVEAS = 24334,
    CM_FILEREVERT = 24335,
    CM_FILECLOSE = 24336,
    CM_FILEPRINT = 24337,
    CM_FILEPRINTERSETUP = 24338,
    CM_FILEPRINTPREVIEW = 24340,
    CM_MRU_FIRST = 24351, // the recent files, newest first: 24351 .. 24354
    CM_CASCADECHILDREN = 24361,
    CM_TILECHILDREN = 24362,
    CM_ARRANGEICONS = 24363,
    CM_CLOSECHILDREN = 24364,
};
inline constexpr int kRecentFileCount = 4;

// The framework's document messages (string ids), shown through PostDocError.
enum : int {
    IDS_DOCALREADYLOADED = 32512, // "Document already loaded."
};

// What the manager needs of the shell.
class IDocViewFactory {
public:
    virtual ~IDocViewFactory() = default;
    // Makes a window with a view on doc and activates it.
    virtual void CreateView(TDocument& doc) = 0;
    // Destroys every window showing doc; called before the document is deleted.
    virtual void DestroyViews(TDocument& doc) = 0;
    // The document of the active window, or null.
    virtual TDocument* ActiveDocument() const = 0;
};

// The recent-files list: newest first, at most kRecentFileCount paths, kept in the
// settings file (section "Recent File List", keys "File1".."File4").
class TRecentFiles {
public:
    // Reads the list from the settings file at iniPath (missing file: empty list).
    explicit TRecentFiles(std::string iniPath);
    const std::vector<std::string>& Paths() const { return paths_; }
    // Makes path the newest entry (moving it up when present) and writes the list.
    void Add(const std::string& path);
    void Remove(const std::string& path);

private:
    void Save() const;
    std::string iniPath_;
    std::vector<std::string> paths_;
};

class TDocManager : public ICommandTarget {
public:
    TDocManager();
    ~TDocManager() override;
    TDocManager(const TDocManager&) = delete;
    TDocManager& operator=(const TDocManager&) = delete;

    void SetViewFactory(IDocViewFactory* factory) { factory_ = factory; }
    // The recent-files list (none: recent files are not kept).
    void SetRecentFiles(TRecentFiles* recent) { recent_ = recent; }
    TRecentFiles* RecentFiles() const { return recent_; }

    // --- Templates, in registration order.
    void AddTemplate(std::unique_ptr<TDocTemplate> t);
    const std::vector<std::unique_ptr<TDocTemplate>>& Templates() const { return templates_; }
    // The first template whose filter matches the path, or null.
    TDocTemplate* MatchTemplate(const std::string& path) const;

    // --- Documents.
    const std::vector<std::unique_ptr<TDocument>>& Documents() const { return docs_; }
    // The open document with this path (compared after making both absolute), or null.
    TDocument* FindDocument(const std::string& path) const;
    virtual TDocument* GetCurrentDoc() const;

    // Opens path with the template (null: the matching one, else the first) and makes a
    // view for it. An open path shows "Document already loaded." through PostDocError
    // and returns null; so does a failure, after the derived class reported it. An empty
    // path makes a new, empty document.
    TDocument* CreateDoc(TDocTemplate* t, const std::string& path, int mode = 0);
    // A file named on the command line: "photo" becomes "photo." (a name without a dot
    // gets one), then CreateDoc with the matching template or the default (first) one.
    TDocument* OpenCommandLineFile(const std::string& path);
    // Files dropped on the main window: as on the command line, but a file no template
    // matches is skipped.
    void OpenDroppedFiles(const std::vector<std::string>& paths);

    // Saves under the document's path (Save As when it has none). True when saved.
    bool SaveDoc(TDocument& doc);
    // Asks for a path and type among the savable templates and saves there.
    bool SaveDocAs(TDocument& doc);
    // Closes the document: a dirty one asks "Save changes to <title>?" first (Yes saves,
    // and a failed save keeps it open; No discards). False when it stays open.
    bool CloseDoc(TDocument& doc);
    // Closes every document (at exit); false as soon as one stays open.
    bool CloseAll();

    // --- Commands (ICommandTarget): File New/Open/Save/Save As/Close/Revert and the
    // recent files.
    void CommandEnable(TCommandEnabler& ce) override;
    bool Command(int id) override;
    virtual void CmFileNew();
    virtual void CmFileOpen();
    virtual void CmFileRevert();

    // Shows the framework document message (string id) for doc, with the document's title
    // as caption; Ok-only unless `buttons` says otherwise. Returns the answer.
    virtual TMbResult PostDocError(TDocument& doc, int stringId, TMbButtons buttons = TMbButtons::Ok);
    // The text of a framework or program string id ("" when unknown).
    virtual std::string LoadString(int id) const;

protected:
    // The document object for a template (the program's document class).
    virtual std::unique_ptr<TDocument> ConstructDoc(TDocTemplate& t) = 0;
    // Asks the user for files to open: fills the paths and the template index chosen;
    // false when cancelled. The base shows the common open dialog with every template.
    virtual bool SelectDocPath(std::vector<std::string>& paths, int& templateIndex);
    // Called after a document was opened or saved under a path (records a recent file).
    virtual void DocPathUsed(TDocument& doc);

private:
    std::vector<std::unique_ptr<TDocTemplate>> templates_;
    std::vector<std::unique_ptr<TDocument>> docs_;
    IDocViewFactory* factory_ = nullptr;
    TRecentFiles* recent_ = nullptr;
};
