#include "LayeredImageHandler.h"

#include <vector>

#include "ErrorDisplay.h"
#include "ImageView.h"

namespace {

// The channel commands and the mode each selects.
constexpr std::pair<int, int> kChannelCommands[] = {
    {CM_CHANNEL_AGGREGATED, CHANNEL_AGGREGATED},
    {CM_CHANNEL_ALPHA, CHANNEL_ALPHA},
    {CM_CHANNEL_RED, CHANNEL_RED},
    {CM_CHANNEL_GREEN, CHANNEL_GREEN},
    {CM_CHANNEL_BLUE, CHANNEL_BLUE},
    {CM_CHANNEL_CMYK_CYAN, CHANNEL_CMYK_CYAN},
    {CM_CHANNEL_CMYK_MAGENTA, CHANNEL_CMYK_MAGENTA},
    {CM_CHANNEL_CMYK_YELLOW, CHANNEL_CMYK_YELLOW},
    {CM_CHANNEL_CMYK_BLACK, CHANNEL_CMYK_BLACK},
    {CM_CHANNEL_CMY_CYAN, CHANNEL_CMY_CYAN},
    {CM_CHANNEL_CMY_MAGENTA, CHANNEL_CMY_MAGENTA},
    {CM_CHANNEL_CMY_YELLOW, CHANNEL_CMY_YELLOW},
    {CM_CHANNEL_HSV_HUE, CHANNEL_HSV_HUE},
    {CM_CHANNEL_HSV_SATURATION, CHANNEL_HSV_SATURATION},
    {CM_CHANNEL_HSV_VALUE, CHANNEL_HSV_VALUE},
    {CM_CHANNEL_HLS_HUE, CHANNEL_HLS_HUE},
    {CM_CHANNEL_HLS_LIGHTNESS, CHANNEL_HLS_LIGHTNESS},
    {CM_CHANNEL_HLS_SATURATION, CHANNEL_HLS_SATURATION},
};

// Whether the image can be edited in a mode: the planes come from the background's stored
// pixels, so colour channels need 24 bits or more and the alpha plane 32.
bool ModeAvailable(const TLayeredImage& image, int mode) {
    const TLayer* bg = image.Layers.At(0);
    if (!bg || !bg->IsAllocated()) return mode == CHANNEL_AGGREGATED;
    if (mode == CHANNEL_AGGREGATED) return true;
    if (mode == CHANNEL_ALPHA) return bg->BitsPerPixel == 32;
    return bg->BitsPerPixel > 23;
}

} // namespace

int ChannelModeOfCommand(int id) {
    for (const auto& [command, mode] : kChannelCommands)
        if (command == id) return mode;
    return -1;
}

TLayeredImageHandler::TLayeredImageHandler(TImageView& view) : view_(view) {}

TLayeredImageHandler::~TLayeredImageHandler() { Notify(TLayerChange::Detached); }

TImageData* TLayeredImageHandler::Data() const {
    TImageData* data = view_.GetImageData();
    return data && data->Image.Count() > 0 ? data : nullptr;
}

TLayeredImage* TLayeredImageHandler::GetImage() const {
    TImageData* data = Data();
    return data ? &data->Image : nullptr;
}

// ---------------------------------------------------------------------------
// Command states.

void TLayeredImageHandler::QueryCommand(TCommandEnabler& ce) const {
    const TLayeredImage* image = GetImage();
    const int n = image ? image->Count() : 0;
    const int cur = image ? image->GetCurrentIndex() : 0;
    const bool aggregated = image && image->GetEffectiveChannelMode() == CHANNEL_AGGREGATED;

    if (const int mode = ChannelModeOfCommand(ce.Id); mode >= 0) {
        ce.Enable(image && ModeAvailable(*image, mode));
        ce.SetCheck(image && image->GetEffectiveChannelMode() == mode);
        return;
    }
    switch (ce.Id) {
        case CM_LAYER_MOVEDOWN:
        case CM_LAYER_SENDTOBACK: ce.Enable(image && cur >= 2 && cur < n); break;
        case CM_LAYER_MOVEUP:
        case CM_LAYER_BRINGTOFRONT: ce.Enable(image && cur >= 1 && cur < n - 1); break;
        case CM_LAYER_DROPONLOWER:
        case CM_LAYER_DROPONBACKGROUND: ce.Enable(aggregated && cur >= 1 && cur < n); break;
        case CM_LAYER_MERGEALL:
        case CM_LAYER_MERGEVISIBLE: ce.Enable(aggregated && n > 1); break;
        case CM_LAYER_REMOVE: ce.Enable(image && cur >= 1 && cur < n); break;
        case CM_LAYER_DUPLICATE: ce.Enable(image && cur >= 0 && cur < n); break;
        case CM_LAYER_WALKUP: ce.Enable(image && cur >= 0 && cur < n - 1); break;
        case CM_LAYER_WALKDOWN: ce.Enable(image && cur >= 1 && cur < n); break;
        default: break;
    }
}

void TLayeredImageHandler::CommandEnable(TCommandEnabler& ce) { QueryCommand(ce); }

bool TLayeredImageHandler::Command(int id) {
    TCommandEnabler ce(id);
    QueryCommand(ce);
    if (!ce.Handled) return false;
    // Shortcuts reach here without a menu having been opened: the state decides again.
    if (!ce.Enabled) return true;
    if (const int mode = ChannelModeOfCommand(id); mode >= 0) {
        SetChannelMode(mode);
        return true;
    }
    switch (id) {
        case CM_LAYER_MOVEDOWN:
        case CM_LAYER_MOVEUP:
        case CM_LAYER_SENDTOBACK:
        case CM_LAYER_BRINGTOFRONT: Reorder(id); break;
        case CM_LAYER_DROPONLOWER: Drop(false); break;
        case CM_LAYER_DROPONBACKGROUND: Drop(true); break;
        case CM_LAYER_MERGEALL: Merge(false); break;
        case CM_LAYER_MERGEVISIBLE: Merge(true); break;
        case CM_LAYER_REMOVE: Remove(); break;
        case CM_LAYER_DUPLICATE: Duplicate(); break;
        case CM_LAYER_WALKUP: Walk(+1); break;
        case CM_LAYER_WALKDOWN: Walk(-1); break;
        default: break;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Common steps.

bool TLayeredImageHandler::Record(const std::string& name, const std::vector<int>& writesInto) {
    if (Data()->CheckpointWritingInto(name, writesInto)) return true;
    ReportFailure(ERROR_NO_MEMORY);
    return false;
}

void TLayeredImageHandler::ReportFailure(int code) { ShowToolkitError(code, kAppName); }

void TLayeredImageHandler::InvalidateLayer(int index) {
    // The stored layer, not its channel view: asking for a view would separate one just
    // to learn a rectangle. The two agree once the views are committed, and every caller
    // reads it after a snapshot or a change of layer, both of which commit them.
    TLayeredImage* image = GetImage();
    if (const TLayer* layer = image ? image->Layers.At(index) : nullptr)
        view_.InvalidateLayer(*layer);
}

// ---------------------------------------------------------------------------
// Commands. Each records its step, changes the image, then updates the view; the palette
// is rebuilt before the listeners hear of the change so that they repaint with it.

void TLayeredImageHandler::Reorder(int id) {
    TLayeredImage& image = *GetImage();
    const std::string name = image.Layers.Current()->Name;
    std::string undo;
    bool (TLayeredImage::*op)() = nullptr;
    switch (id) {
        case CM_LAYER_MOVEDOWN:
            undo = "Move '" + name + "' Down", op = &TLayeredImage::MoveCurrentDown;
            break;
        case CM_LAYER_MOVEUP:
            undo = "Move '" + name + "' Up", op = &TLayeredImage::MoveCurrentUp;
            break;
        case CM_LAYER_SENDTOBACK:
            undo = "Send '" + name + "' To Back", op = &TLayeredImage::SendCurrentToBack;
            break;
        default:
            undo = "Bring '" + name + "' To Front", op = &TLayeredImage::BringCurrentToFront;
            break;
    }
    if (!Record(undo, {})) return;
    (image.*op)();
    view_.Deselect();
    InvalidateLayer(image.GetCurrentIndex());
    Data()->RebuildPalette();
    // The rows show the layers in their new order.
    Notify(TLayerChange::Rebuild);
}

void TLayeredImageHandler::Drop(bool onBackground) {
    TLayeredImage& image = *GetImage();
    const int cur = image.GetCurrentIndex();
    const std::string name = image.Layers.Current()->Name;
    // The layer just above the background has only the background below it.
    if (cur == 1) onBackground = true;
    // The layer goes onto the background's own pixels; onto any other layer it makes a new
    // one (a channel view is written back by unsharing first).
    if (!Record(onBackground ? "Drop '" + name + "' On Background" : "Drop '" + name + "'",
                {onBackground ? 0 : cur - 1}))
        return;
    view_.Deselect();
    InvalidateLayer(cur);
    InvalidateLayer(onBackground ? 0 : cur - 1);
    const L_INT rc = onBackground ? image.DropOnBackground() : image.DropOnLower();
    InvalidateLayer(image.GetCurrentIndex());
    Data()->RebuildPalette();
    Notify(TLayerChange::Rebuild);
    if (rc != SUCCESS) ReportFailure(rc);
}

void TLayeredImageHandler::Merge(bool visibleOnly) {
    TLayeredImage& image = *GetImage();
    if (image.Count() < 2 || image.GetEffectiveChannelMode() != CHANNEL_AGGREGATED) return;
    // Merging all layers draws them onto the background's own pixels.
    if (!Record(visibleOnly ? "Merge Visible Layers" : "Merge All Layers",
                visibleOnly ? std::vector<int>{} : std::vector<int>{0}))
        return;
    view_.Deselect();
    const L_INT rc = visibleOnly ? image.MergeVisible() : image.MergeAll();
    InvalidateLayer(image.GetCurrentIndex());
    Data()->RebuildPalette();
    Notify(TLayerChange::Rebuild);
    if (rc != SUCCESS) ReportFailure(rc);
}

void TLayeredImageHandler::Remove() {
    TLayeredImage& image = *GetImage();
    if (!Record("Remove '" + image.Layers.Current()->Name + "'", {})) return;
    view_.Deselect();
    InvalidateLayer(image.GetCurrentIndex());
    image.RemoveCurrent();
    InvalidateLayer(image.GetCurrentIndex());
    Data()->RebuildPalette();
    Notify(TLayerChange::Rebuild);
}

void TLayeredImageHandler::Duplicate() {
    TLayeredImage& image = *GetImage();
    if (!Record("Duplicate Layer '" + image.Layers.Current()->Name + "'", {})) return;
    view_.Deselect();
    InvalidateLayer(image.GetCurrentIndex());
    const L_INT rc = image.DuplicateCurrent();
    InvalidateLayer(image.GetCurrentIndex());
    Data()->RebuildPalette();
    Notify(TLayerChange::Rebuild);
    if (rc != SUCCESS) ReportFailure(rc);
}

void TLayeredImageHandler::Walk(int step) {
    TLayeredImage& image = *GetImage();
    const int old = image.GetCurrentIndex();
    view_.Deselect();
    if (!image.SetCurrent(old + step)) return;
    InvalidateLayer(old);
    InvalidateLayer(image.GetCurrentIndex());
    Notify(TLayerChange::Repaint);
}

void TLayeredImageHandler::SetChannelMode(int mode) {
    TLayeredImage& image = *GetImage();
    if (image.GetEffectiveChannelMode() == mode) return;
    // Switching modes is not an undo step; a selection made on one channel means nothing
    // on another.
    view_.Deselect();
    const L_INT rc = image.SetChannelMode(mode);
    // The display now shows other pixels (gray planes or colours), so its palette too.
    Data()->RebuildPalette();
    view_.InvalidateAll();
    Notify(TLayerChange::Repaint);
    if (rc != SUCCESS) ReportFailure(rc);
}

// ---------------------------------------------------------------------------
// The layer list's calls.

int TLayeredImageHandler::Count() const {
    const TLayeredImage* image = GetImage();
    return image ? image->Count() : 0;
}

int TLayeredImageHandler::CurrentIndex() const {
    const TLayeredImage* image = GetImage();
    return image ? image->GetCurrentIndex() : -1;
}

bool TLayeredImageHandler::Select(int index) {
    TLayeredImage* image = GetImage();
    if (!image || index < 0 || index >= image->Count()) return false;
    view_.Deselect();
    const int old = image->GetCurrentIndex();
    image->SetCurrent(index);
    InvalidateLayer(old);
    InvalidateLayer(index);
    Notify(TLayerChange::Repaint);
    return true;
}

// Names and visibility are read from the stored layers: a channel view carries copies of
// them, and the two writers below keep both in step. Asking the image for a view here
// would separate a whole bitmap for every row the list paints.
std::string TLayeredImageHandler::Name(int index) const {
    const TLayeredImage* image = GetImage();
    const TLayer* layer = image ? image->Layers.At(index) : nullptr;
    return layer ? layer->Name : std::string();
}

bool TLayeredImageHandler::IsVisible(int index) const {
    const TLayeredImage* image = GetImage();
    const TLayer* layer = image ? image->Layers.At(index) : nullptr;
    return layer && layer->Visible;
}

bool TLayeredImageHandler::SetVisible(int index, bool visible) {
    TLayeredImage* image = GetImage();
    TLayer* layer = image ? image->Layers.At(index) : nullptr;
    if (!layer) return false;
    // No undo step, but the file now stores visibility: closing must not drop the change
    // without asking.
    if (layer->Visible != visible) Data()->SetDocumentDirty(true);
    layer->Visible = visible;
    // A view of the layer would hand its own copy back to the layer when it is merged.
    if (TLayer* shown = image->GetLayer(index); shown && shown != layer) shown->Visible = visible;
    InvalidateLayer(index);
    Notify(TLayerChange::Repaint);
    return true;
}

bool TLayeredImageHandler::Rename(int index, const std::string& name) {
    TLayeredImage* image = GetImage();
    TLayer* layer = image ? image->Layers.At(index) : nullptr;
    if (!layer || layer->Name == name) return false;
    if (!Record("Rename '" + layer->Name + "' to '" + name + "'", {})) return false;
    layer->Name = name;
    if (TLayer* shown = image->GetLayer(index); shown && shown != layer) shown->Name = name;
    Data()->RebuildPalette();
    Notify(TLayerChange::Rebuild);
    return true;
}

// ---------------------------------------------------------------------------
// Listeners.

int TLayeredImageHandler::AddListener(TListener listener) {
    listeners_.emplace_back(nextToken_, std::move(listener));
    return nextToken_++;
}

void TLayeredImageHandler::RemoveListener(int token) {
    std::erase_if(listeners_, [token](const auto& entry) { return entry.first == token; });
}

void TLayeredImageHandler::Notify(TLayerChange change) {
    // A listener may remove itself (or others) while it is told.
    const auto listeners = listeners_;
    for (const auto& [token, listener] : listeners)
        if (listener) listener(change);
    if (change != TLayerChange::Detached && view_.OnLayersChanged) view_.OnLayersChanged();
}
