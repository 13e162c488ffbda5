#include "ImageDocManager.h"

#include <algorithm>

#include "CommonDialogs.h"
#include "ErrorDisplay.h"
#include "FileTypes.h"
#include "Options.h"
#include "WaitCursor.h"

namespace {

TImageDocManager* g_manager = nullptr;

constexpr COLORREF kWhite = 0xFFFFFF;

bool ValidDepth(int bpp) {
    return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32;
}

} // namespace

TImageDocManager::TImageDocManager() {
    for (auto& t : CreateFileTypeTemplates()) AddTemplate(std::move(t));
    g_manager = this;
}

TImageDocManager::~TImageDocManager() {
    if (g_manager == this) g_manager = nullptr;
}

TImageDocManager* TImageDocManager::Instance() { return g_manager; }

std::unique_ptr<TDocument> TImageDocManager::ConstructDoc(TDocTemplate&) {
    auto doc = std::make_unique<TImageDoc>();
    doc->Templates = &Templates();
    return doc;
}

TImageDoc* TImageDocManager::CreateFromBitmap(BITMAPHANDLE& bitmap) {
    if (Templates().empty()) return nullptr;
    // Filled before it is kept, so that its window never shows it empty and a bitmap that
    // cannot be taken leaves nothing behind.
    std::unique_ptr<TDocument> doc = NewDoc(*Templates().front());
    auto* image = static_cast<TImageDoc*>(doc.get());
    if (!image || !image->Open(OM_NEW, std::string()) || !image->InitFromBitmap(bitmap))
        return nullptr;
    AddDoc(std::move(doc));
    return image;
}

TImageDoc* TImageDocManager::OpenRecovered(TLayeredImage& image, const std::string& path,
                                           const std::string& title, const std::string& type) {
    if (Templates().empty() || image.Count() == 0) return nullptr;
    TDocTemplate* t = Templates().front().get();
    for (const auto& candidate : Templates())
        if (candidate->GetDescription() == type) t = candidate.get();
    std::unique_ptr<TDocument> doc = NewDoc(*t);
    auto* recovered = static_cast<TImageDoc*>(doc.get());
    if (!recovered || !recovered->Open(OM_NEW, std::string())) return nullptr;
    recovered->Image.Swap(image);
    if (!path.empty() && !FindDocument(path)) recovered->SetDocPath(path);
    if (!title.empty()) recovered->SetTitle(title);
    recovered->RebuildPalette();
    recovered->SetDirty(true);
    AddDoc(std::move(doc));
    return recovered;
}

void TImageDocManager::DocPathUsed(TDocument& doc) {
    TDocManager::DocPathUsed(doc);
    if (DocumentSaved) DocumentSaved(doc);
}

void TImageDocManager::DocClosed(TDocument& doc) {
    if (DocumentClosed) DocumentClosed(doc);
}

void TImageDocManager::CmFileNew() {
    if (!AskNewImage) return;
    int width = 100, height = 100, bpp = 24;
    if (!AskNewImage(width, height, bpp)) return;
    if (width <= 0 || height <= 0 || !ValidDepth(bpp)) return;

    TWaitCursor wait;
    TLeadBitmap bitmap;
    // Too big for memory or for the limits: say so rather than leave the user wondering
    // where the image went.
    if (const L_INT rc = L_CreateBitmap(&bitmap, 1, width, height, bpp, 1, nullptr, 0);
        rc != SUCCESS) {
        ShowToolkitError(rc, kAppName);
        return;
    }
    bitmap.MakeAlphaOpaque();
    const COLORREF background = BackgroundColor ? BackgroundColor() : kWhite;
    if (bpp == 32) {
        bitmap.FillWithAlpha(background);
        // The colour's top byte says nothing about transparency here: a new image is opaque.
        TLeadBitmap alpha;
        if (L_GetBitmapAlpha(&bitmap, &alpha) == SUCCESS) {
            L_FillBitmap(&alpha, kWhite);
            L_SetBitmapAlpha(&bitmap, &alpha);
        }
    } else {
        L_FillBitmap(&bitmap, background);
    }
    CreateFromBitmap(bitmap);
}

void TImageDocManager::CmFileRevert() {
    TDocument* doc = GetCurrentDoc();
    if (!doc || doc->GetDocPath().empty()) return;
    std::string text = LoadString(IDS_REVERTQUESTION);
    const size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, doc->GetDocPath());
    if (MessageBoxHost().Show(text, doc->GetTitle(), TMbButtons::YesNo, TMbIcon::Question) !=
        TMbResult::Yes)
        return;
    TDocManager::CmFileRevert();
}

void TImageDocManager::CommandEnable(TCommandEnabler& ce) {
    switch (ce.Id) {
        // Scanning, preferences and pasting into a new image are not there yet; showing them
        // disabled says so instead of offering commands that do nothing.
        case CM_ACQUIRE:
        case CM_SELECTSOURCE:
        case CM_PREFERENCES:
        case CM_EDITPASTE: ce.Enable(false); return;
        default: TDocManager::CommandEnable(ce);
    }
}

bool TImageDocManager::Command(int id) {
    switch (id) {
        case CM_ACQUIRE:
        case CM_SELECTSOURCE:
        case CM_PREFERENCES:
        case CM_EDITPASTE: return false;
        default: return TDocManager::Command(id);
    }
}

std::string TImageDocManager::LoadString(int id) const {
    switch (id) {
        case IDS_SELECTSOURCE: return "Select Source";
        case IDS_ACQUIRE: return "Acquire";
        case IDS_PREFERENCES: return "Preferences";
        case IDS_REVERTQUESTION: return "Revert %s to last saved version?";
        default: return TDocManager::LoadString(id);
    }
}

bool TImageDocManager::SelectDocPath(std::vector<std::string>& paths, int& templateIndex) {
    const auto& templates = Templates();
    if (templates.empty()) return false;
    TOptions& options = Options();
    const int last = std::clamp(options.DefaultFileType, 0, int(templates.size()) - 1);

    TFileDialogRequest request;
    request.Caption = "Open";
    for (const auto& t : templates)
        request.Filters.push_back(TFileFilter{OpenFilterDescription(t->GetDescription()),
                                              t->GetFileFilter(), t->GetDefaultExt()});
    request.FilterIndex = last;
    request.InitialDir = options.DefaultDirectory;
    request.DefaultExt = templates[size_t(last)]->GetDefaultExt();
    request.MultipleSelection = true;
    request.ImagePreview = true;

    TFileDialogResult result;
    if (!CommonDialogs().GetOpenFileNames(request, result)) return false;
    templateIndex = std::clamp(result.FilterIndex, 0, int(templates.size()) - 1);
    options.DefaultFileType = templateIndex;
    paths.clear();
    for (const std::string& p : result.Paths)
        if (!p.empty()) paths.push_back(p);
    if (paths.empty()) return false;
    // The folder of the files chosen, separator included, is where the next open starts.
    const size_t slash = paths.front().find_last_of('/');
    if (slash != std::string::npos) options.DefaultDirectory = paths.front().substr(0, slash + 1);
    return true;
}
