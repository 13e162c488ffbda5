#include "FilterCommands.h"

#include "ErrorDisplay.h"
#include "ImageView.h"
#include "MessageBox.h"
#include "WaitCursor.h"

bool RedEyePrecheck(TImageView& view) {
    if (view.HasSelection) return true;
    MessageBoxHost().Show("Please select the eye area before calling this function", "Information",
                          TMbButtons::Ok, TMbIcon::Stop);
    return false;
}

bool DiffusePrecheck(TImageView& view) {
    TImageData* data = view.GetImageData();
    TLayer* target = data ? data->Image.GetCurrentLayer() : nullptr;
    if (!target) return false;
    if (target->LogicalBpp >= 32) return true;
    if (MessageBoxHost().Show("This effect operates with images having 32-bit resolution.\nWould "
                              "you like to convert the image to 32-bit resolution?",
                              "Quillo", TMbButtons::YesNo, TMbIcon::Question) != TMbResult::Yes)
        return false;
    // Every layer is converted into a new block.
    if (!data->Checkpoint(true, "Color Resolution", TImageData::TWrites::NewBlocks)) {
        ShowToolkitError(ERROR_NO_MEMORY, "Quillo");
        return false;
    }
    L_INT rc;
    {
        TWaitCursor wait;
        rc = data->Image.ChangeColorDepth(32, 0, nullptr, 0);
    }
    data->RebuildPalette();
    view.UpdateScrollRanges();
    view.InvalidateAll();
    view.LayerHandler().Notify(TLayerChange::Rebuild);
    if (rc != SUCCESS) {
        ShowToolkitError(rc, "Quillo");
        return false;
    }
    return true;
}
