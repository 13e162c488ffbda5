// The document manager base: the registered file types (templates), the open documents,
// and the File commands every document program has (new, open, save, save as, close,
// revert, recent files), plus files named on the command line or dropped on the window.
// The shell supplies the windows through IDocViewFactory; the program derives the
// manager to say which document class it makes and to refine the commands.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "CommandIds.h"
#include "Commands.h"
#include "DocTemplate.h"
#include "Document.h"
#include "MessageBox.h"

inline constexpr int kRecentFileCount = 4;

// The framework's document messages (string ids), shown through PostDocError.
enum : int {
    IDS_SAVECHANGES = 32504,      // "Save changes to %s?"
    IDS_UNTITLED = 32505,         // "Untitled": the title of a document without a file
    IDS_DOCALREADYLOADED = 32512, // "Document already loaded."
    IDS_FILEOPENCAPTION = 804,    // "File Open": caption of a failed open
    IDS_MSGNOTFOUND = 805,        // "Error: Message [string ID %u] not found."
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
    // Brings a window showing doc to the front and activates it.
    virtual void ActivateView(TDocument& doc) = 0;
};

// The recent-files list: newest first, at most kRecentFileCount paths, kept in the
// settings file (section "Recent File List", keys "File1".."File4").
class TRecentFiles {
public:
    // Reads the list from the settings file at iniPath (missing file: empty list).
    // An empty path keeps the list in memory only.
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

// The type a file named in the Save dialog is written as, among the savable templates: the
// chosen one, unless the name ends in the extension of another savable type, which is then
// taken (the first such). A name without an extension gets the chosen type's (path is
// changed); an extension no savable type has is kept, with the chosen type.
TDocTemplate* SaveTemplateForName(const std::vector<TDocTemplate*>& savable, TDocTemplate* chosen,
                                  std::string& path);

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
    // view for it. An open path brings its window to the front, shows "Document already
    // loaded." through PostDocError and returns null; a file that cannot be read is reported (caption "File Open") and
    // gives null. An empty path makes a new, empty document titled "Untitled". A
    // relative path is made absolute first; the document keeps that.
    TDocument* CreateDoc(TDocTemplate* t, const std::string& path, int mode = 0);
    // A file named on the command line: "photo" becomes "photo." (a name without a dot
    // gets one, unless only the plain "photo" exists), then CreateDoc with the matching
    // template or the default (first) one.
    TDocument* OpenCommandLineFile(const std::string& path);
    // Files dropped on the main window: as on the command line, but a file no template
    // matches is skipped.
    void OpenDroppedFiles(const std::vector<std::string>& paths);
    // The recent file at index (0 = newest): opened as a dropped file, but with the first
    // template when none matches (it was opened before). A path that no longer exists is
    // reported and dropped from the list. The document, or null.
    TDocument* OpenRecentFile(int index);

    // Saves under the document's path (Save As when it has none). True when saved.
    bool SaveDoc(TDocument& doc);
    // Asks for a path and type among the savable templates and saves there, with the type
    // the name's extension says (SaveTemplateForName). When the save fails or is declined
    // the document keeps its old path, title and type, and no recent file is added.
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
    // as caption; Ok-only unless `buttons` says otherwise. An id without a string shows
    // "Error: Message [string ID <id>] not found.". Returns the answer.
    virtual TMbResult PostDocError(TDocument& doc, int stringId,
                                   TMbButtons buttons = TMbButtons::Ok);
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
    // Called once a document has closed, before it is deleted.
    virtual void DocClosed(TDocument&) {}
    // A document object of the template's type, not yet opened nor kept: its template
    // set and Save As leading here.
    std::unique_ptr<TDocument> NewDoc(TDocTemplate& t);
    // Keeps an opened (or filled) document: "Untitled" when it has no file, the path
    // recorded as recent, a view made. The document.
    TDocument* AddDoc(std::unique_ptr<TDocument> doc);
    // Opens each path with the template; an open one comes to the front with "Document
    // already loaded." and the rest still open; a failing one stops the rest. The documents opened.
    std::vector<TDocument*> OpenFiles(const std::vector<std::string>& paths, TDocTemplate* t);

private:
    void ShowAlreadyLoaded(TDocument& doc);

    std::vector<std::unique_ptr<TDocTemplate>> templates_;
    std::vector<std::unique_ptr<TDocument>> docs_;
    IDocViewFactory* factory_ = nullptr;
    TRecentFiles* recent_ = nullptr;
};
