#include "DocManager.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "CommonDialogs.h"
#include "ErrorDisplay.h"
#include "ProfileFile.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kRecentSection = "Recent File List";

std::string RecentKey(size_t i) { return "File" + std::to_string(i + 1); }

// The path made absolute and tidied ("a/./b/../c" -> "a/c"), so that the same file named
// two ways is recognised; the path itself when that fails.
std::string AbsolutePath(const std::string& path) {
    if (path.empty()) return path;
    std::error_code ec;
    fs::path p = fs::absolute(fs::path(path), ec);
    if (ec) return path;
    return p.lexically_normal().string();
}

std::string FileNamePart(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::path(path), ec);
}

// Replaces the first "%s" or "%u" of a message with the argument.
std::string FormatMessage(const std::string& format, const std::string& arg) {
    size_t at = format.find("%s");
    if (at == std::string::npos) at = format.find("%u");
    if (at == std::string::npos) return format;
    return format.substr(0, at) + arg + format.substr(at + 2);
}

} // namespace

// --- Recent files ---------------------------------------------------------------------

TRecentFiles::TRecentFiles(std::string iniPath) : iniPath_(std::move(iniPath)) {
    if (iniPath_.empty()) return;
    const TProfileFile profile = TProfileFile::Read(iniPath_);
    for (size_t i = 0; i < size_t(kRecentFileCount); ++i) {
        std::string path = profile.GetString(kRecentSection, RecentKey(i));
        // A hand-edited file may repeat an entry or leave gaps; keep each path once.
        if (!path.empty() && std::find(paths_.begin(), paths_.end(), path) == paths_.end())
            paths_.push_back(std::move(path));
    }
}

void TRecentFiles::Add(const std::string& path) {
    if (path.empty()) return;
    auto it = std::find(paths_.begin(), paths_.end(), path);
    if (it != paths_.end()) paths_.erase(it);
    paths_.insert(paths_.begin(), path);
    if (paths_.size() > size_t(kRecentFileCount)) paths_.resize(kRecentFileCount);
    Save();
}

void TRecentFiles::Remove(const std::string& path) {
    auto it = std::find(paths_.begin(), paths_.end(), path);
    if (it == paths_.end()) return;
    paths_.erase(it);
    Save();
}

void TRecentFiles::Save() const {
    if (iniPath_.empty()) return;
    // Read again: the options and placement live in the same file and must survive.
    TProfileFile profile = TProfileFile::Read(iniPath_);
    for (size_t i = 0; i < size_t(kRecentFileCount); ++i) {
        if (i < paths_.size())
            profile.WriteString(kRecentSection, RecentKey(i), paths_[i]);
        else
            profile.DeleteKey(kRecentSection, RecentKey(i));
    }
    // The list is a convenience: a settings file that cannot be written costs nothing else.
    profile.Write(iniPath_);
}

// --- Document manager -----------------------------------------------------------------

TDocManager::TDocManager() = default;

TDocManager::~TDocManager() {
    // Views go before their documents; nothing is asked at this point.
    for (auto& doc : docs_) {
        if (factory_) factory_->DestroyViews(*doc);
        doc->SaveAsHandler = nullptr;
    }
    docs_.clear();
}

void TDocManager::AddTemplate(std::unique_ptr<TDocTemplate> t) {
    if (t) templates_.push_back(std::move(t));
}

TDocTemplate* TDocManager::MatchTemplate(const std::string& path) const {
    for (const auto& t : templates_)
        if (t->MatchesPath(path)) return t.get();
    return nullptr;
}

TDocument* TDocManager::FindDocument(const std::string& path) const {
    if (path.empty()) return nullptr;
    const std::string wanted = AbsolutePath(path);
    for (const auto& doc : docs_)
        if (!doc->GetDocPath().empty() && AbsolutePath(doc->GetDocPath()) == wanted)
            return doc.get();
    return nullptr;
}

TDocument* TDocManager::GetCurrentDoc() const {
    return factory_ ? factory_->ActiveDocument() : nullptr;
}

TDocument* TDocManager::CreateDoc(TDocTemplate* t, const std::string& name, int mode) {
    // Documents keep absolute paths: a later save must reach the same file whatever the
    // current folder has become.
    const std::string path = AbsolutePath(name);
    if (TDocument* open = FindDocument(path)) {
        ShowAlreadyLoaded(*open);
        return nullptr;
    }
    if (!t) t = MatchTemplate(path);
    if (!t && !templates_.empty()) t = templates_.front().get();
    if (!t) return nullptr;

    std::unique_ptr<TDocument> doc = NewDoc(*t);
    if (!doc) return nullptr;
    try {
        if (!doc->Open(path.empty() ? (mode | OM_NEW) : mode, path)) return nullptr;
    } catch (const TXLeadLib& e) {
        ShowToolkitError(e, LoadString(IDS_FILEOPENCAPTION));
        return nullptr;
    }
    return AddDoc(std::move(doc));
}

std::unique_ptr<TDocument> TDocManager::NewDoc(TDocTemplate& t) {
    std::unique_ptr<TDocument> doc = ConstructDoc(t);
    if (!doc) return nullptr;
    doc->SetTemplate(&t);
    doc->SaveAsHandler = [this](TDocument& d) { return SaveDocAs(d); };
    return doc;
}

TDocument* TDocManager::AddDoc(std::unique_ptr<TDocument> doc) {
    if (!doc) return nullptr;
    if (doc->GetDocPath().empty() && doc->GetTitle().empty())
        doc->SetTitle(LoadString(IDS_UNTITLED));
    TDocument* result = doc.get();
    docs_.push_back(std::move(doc));
    if (!result->GetDocPath().empty()) DocPathUsed(*result);
    if (factory_) factory_->CreateView(*result);
    return result;
}

TDocument* TDocManager::OpenCommandLineFile(const std::string& path) {
    if (path.empty()) return nullptr;
    std::string name = path;
    // A name without an extension gets a trailing dot, so that it is taken as it is and
    // never matched with a type by accident. Windows ignores a trailing dot; here "photo."
    // and "photo" are different files, so the plain name is kept when only it exists.
    if (FileNamePart(path).find('.') == std::string::npos) {
        const std::string dotted = path + ".";
        if (Exists(dotted) || !Exists(path)) name = dotted;
    }
    TDocTemplate* t = MatchTemplate(name);
    return CreateDoc(t, name, OM_READ);
}

void TDocManager::OpenDroppedFiles(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        // A file of a type nobody reads is left alone rather than reported.
        if (TDocTemplate* t = MatchTemplate(path)) CreateDoc(t, path, OM_READ);
    }
}

TDocument* TDocManager::OpenRecentFile(int index) {
    if (!recent_ || index < 0 || size_t(index) >= recent_->Paths().size()) return nullptr;
    const std::string path = recent_->Paths()[size_t(index)];
    TDocument* doc = CreateDoc(MatchTemplate(path), path, OM_READ);
    // The open has told the user why; a file that has gone is not offered again.
    if (!doc && !FindDocument(path) && !Exists(path)) recent_->Remove(path);
    return doc;
}

std::vector<TDocument*> TDocManager::OpenFiles(const std::vector<std::string>& paths,
                                               TDocTemplate* t) {
    std::vector<TDocument*> opened;
    for (const std::string& path : paths) {
        if (TDocument* open = FindDocument(path)) {
            ShowAlreadyLoaded(*open);
            continue;
        }
        TDocument* doc = CreateDoc(t, path, OM_READ);
        if (!doc) break; // reported; the user sees which file failed and stops there
        opened.push_back(doc);
    }
    return opened;
}

bool TDocManager::SaveDoc(TDocument& doc) {
    const TDocTemplate* t = doc.GetTemplate();
    // Without a file, or with a type that can only be read, there is a place and a type
    // to choose first.
    if (doc.GetDocPath().empty() || !t || t->IsOpenOnly()) return SaveDocAs(doc);
    if (!doc.Commit(true)) return false;
    DocPathUsed(doc);
    return true;
}

TDocTemplate* SaveTemplateForName(const std::vector<TDocTemplate*>& savable, TDocTemplate* chosen,
                                  std::string& path) {
    const std::string name = FileNamePart(path);
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos) {
        if (chosen && !chosen->GetDefaultExt().empty()) path += "." + chosen->GetDefaultExt();
        return chosen;
    }
    // "picture.png" with the layered type selected means a PNG file: writing another
    // format under that name would give a file that no program, this one included, reads
    // as what its name says. The selected type wins when it takes the name itself.
    if (!chosen || chosen->MatchesPath(name)) return chosen;
    for (TDocTemplate* t : savable)
        if (t->MatchesPath(name)) return t;
    // An extension no savable type uses ("notes.v2") is part of the name.
    return chosen;
}

bool TDocManager::SaveDocAs(TDocument& doc) {
    std::vector<TDocTemplate*> savable;
    for (const auto& t : templates_)
        if (!t->IsOpenOnly()) savable.push_back(t.get());
    if (savable.empty()) return false;

    TFileDialogRequest request;
    request.Caption = "Save As";
    for (TDocTemplate* t : savable)
        request.Filters.push_back(
            TFileFilter{t->GetDescription(), t->GetFileFilter(), t->GetDefaultExt()});
    auto current = std::find(savable.begin(), savable.end(), doc.GetTemplate());
    request.FilterIndex = current == savable.end() ? 0 : int(current - savable.begin());
    TDocTemplate* proposed = savable[size_t(request.FilterIndex)];
    request.DefaultExt = proposed->GetDefaultExt();
    request.OverwritePrompt = (proposed->GetFlags() & DT_OVERWRITEPROMPT) != 0;
    if (!doc.GetDocPath().empty()) {
        const std::string abs = AbsolutePath(doc.GetDocPath());
        request.InitialDir = fs::path(abs).parent_path().string();
        request.FileName = FileNamePart(abs);
    } else {
        request.FileName = doc.GetTitle();
    }

    TFileDialogResult result;
    if (!CommonDialogs().GetSaveFileName(request, result) || result.Paths.empty() ||
        result.Paths[0].empty())
        return false;
    const int index = std::clamp(result.FilterIndex, 0, int(savable.size()) - 1);
    std::string path = result.Paths[0];
    TDocTemplate* chosen = SaveTemplateForName(savable, savable[size_t(index)], path);

    // Until the file is written the document stays what it was: a declined or failed save
    // must not leave it claiming a file that does not hold it.
    const std::string oldPath = doc.GetDocPath(), oldTitle = doc.GetTitle();
    TDocTemplate* oldTemplate = doc.GetTemplate();
    doc.SetDocPath(path);
    doc.SetTemplate(chosen);
    if (!doc.Commit(true)) {
        // A Save As started from inside the failed save may have saved elsewhere.
        if (doc.GetDocPath() == path) {
            doc.SetDocPath(oldPath);
            doc.SetTitle(oldTitle);
            doc.SetTemplate(oldTemplate);
        }
        return false;
    }
    DocPathUsed(doc);
    return true;
}

bool TDocManager::CloseDoc(TDocument& doc) {
    auto it =
        std::find_if(docs_.begin(), docs_.end(), [&](const auto& d) { return d.get() == &doc; });
    if (it == docs_.end()) return false;
    if (doc.IsDirty()) {
        const std::string text = FormatMessage(LoadString(IDS_SAVECHANGES), doc.GetTitle());
        const TMbResult answer =
            MessageBoxHost().Show(text, doc.GetTitle(), TMbButtons::YesNoCancel, TMbIcon::Question);
        if (answer == TMbResult::Yes && !SaveDoc(doc)) return false;
        if (answer != TMbResult::Yes && answer != TMbResult::No) return false;
    }
    if (!doc.Close()) return false;
    DocClosed(doc);
    if (factory_) factory_->DestroyViews(doc);
    // The views may have closed documents of their own; look the document up again.
    it = std::find_if(docs_.begin(), docs_.end(), [&](const auto& d) { return d.get() == &doc; });
    if (it != docs_.end()) docs_.erase(it);
    return true;
}

bool TDocManager::CloseAll() {
    while (!docs_.empty())
        if (!CloseDoc(*docs_.back())) return false;
    return true;
}

void TDocManager::CommandEnable(TCommandEnabler& ce) {
    TDocument* doc = GetCurrentDoc();
    switch (ce.Id) {
        case CM_FILENEW:
        case CM_FILEOPEN: ce.Enable(true); return;
        case CM_FILESAVE:
        case CM_FILESAVEAS:
        case CM_FILECLOSE: ce.Enable(doc != nullptr); return;
        case CM_FILEREVERT: ce.Enable(doc && !doc->GetDocPath().empty()); return;
        default: break;
    }
    if (ce.Id >= CM_MRU_FIRST && ce.Id < CM_MRU_FIRST + kRecentFileCount) {
        const size_t index = size_t(ce.Id - CM_MRU_FIRST);
        const bool present = recent_ && index < recent_->Paths().size();
        ce.Enable(present);
        if (present) {
            std::string text(1, '&');
            text += std::to_string(index + 1);
            text += ' ';
            text += recent_->Paths()[index];
            ce.SetText(std::move(text));
        }
    }
}

bool TDocManager::Command(int id) {
    TDocument* doc = GetCurrentDoc();
    switch (id) {
        case CM_FILENEW: CmFileNew(); return true;
        case CM_FILEOPEN: CmFileOpen(); return true;
        case CM_FILEREVERT: CmFileRevert(); return true;
        case CM_FILESAVE:
            if (doc) SaveDoc(*doc);
            return true;
        case CM_FILESAVEAS:
            if (doc) SaveDocAs(*doc);
            return true;
        case CM_FILECLOSE:
            if (doc) CloseDoc(*doc);
            return true;
        default: break;
    }
    if (id >= CM_MRU_FIRST && id < CM_MRU_FIRST + kRecentFileCount) {
        OpenRecentFile(id - CM_MRU_FIRST);
        return true;
    }
    return false;
}

void TDocManager::CmFileNew() {
    if (!templates_.empty()) CreateDoc(templates_.front().get(), std::string());
}

void TDocManager::CmFileOpen() {
    std::vector<std::string> paths;
    int index = 0;
    if (!SelectDocPath(paths, index) || paths.empty()) return;
    TDocTemplate* t =
        index >= 0 && size_t(index) < templates_.size() ? templates_[size_t(index)].get() : nullptr;
    OpenFiles(paths, t);
}

void TDocManager::CmFileRevert() {
    TDocument* doc = GetCurrentDoc();
    if (!doc || doc->GetDocPath().empty()) return;
    try {
        doc->Revert(false);
    } catch (const TXLeadLib& e) {
        // The document keeps what it had; the user learns why the file was not read.
        ShowToolkitError(e, LoadString(IDS_FILEOPENCAPTION));
    }
}

void TDocManager::ShowAlreadyLoaded(TDocument& doc) {
    // The user asked for this file: show where it is before saying why nothing opened.
    if (factory_) factory_->ActivateView(doc);
    PostDocError(doc, IDS_DOCALREADYLOADED);
}

TMbResult TDocManager::PostDocError(TDocument& doc, int stringId, TMbButtons buttons) {
    std::string text = LoadString(stringId);
    if (text.empty())
        text = FormatMessage(LoadString(IDS_MSGNOTFOUND), std::to_string(unsigned(stringId)));
    return MessageBoxHost().Show(text, doc.GetTitle(), buttons,
                                 buttons == TMbButtons::Ok ? TMbIcon::None : TMbIcon::Question);
}

std::string TDocManager::LoadString(int id) const {
    switch (id) {
        case IDS_SAVECHANGES: return "Save changes to %s?";
        case IDS_UNTITLED: return "Untitled";
        case IDS_DOCALREADYLOADED: return "Document already loaded.";
        case IDS_FILEOPENCAPTION: return "File Open";
        case IDS_MSGNOTFOUND: return "Error: Message [string ID %u] not found.";
        default: return std::string();
    }
}

bool TDocManager::SelectDocPath(std::vector<std::string>& paths, int& templateIndex) {
    TFileDialogRequest request;
    request.Caption = "Open";
    for (const auto& t : templates_)
        request.Filters.push_back(
            TFileFilter{t->GetDescription(), t->GetFileFilter(), t->GetDefaultExt()});
    request.MultipleSelection = true;
    TFileDialogResult result;
    if (!CommonDialogs().GetOpenFileNames(request, result)) return false;
    paths = result.Paths;
    templateIndex = result.FilterIndex;
    return !paths.empty();
}

void TDocManager::DocPathUsed(TDocument& doc) {
    if (recent_ && !doc.GetDocPath().empty()) recent_->Add(AbsolutePath(doc.GetDocPath()));
}
