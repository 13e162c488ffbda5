// The Image and Effects menu commands that open an adjustment or filter dialog on the
// current layer: one table from command id to dialog and undo name, and the executor that
// runs a dialog and applies its result as one undo step.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Commands.h"
#include "EffectsDialog.h"
#include "GeometryCommands.h"
#include "PaletteCommands.h"

class TImageView;

// Builds a dialog on the bitmap it is to show.
using TEffectFactory = std::function<std::unique_ptr<TEffectsDialog>(const TLeadBitmapX& target)>;

struct TEffectCommand {
    int Id;
    const char* UndoName;
    TEffectFactory Make;
    // Runs first; false ends the command without a dialog (it tells the user why). Optional.
    std::function<bool(TImageView& view)> Precheck;
};

// The row for a command id, or null.
const TEffectCommand* FindEffectCommand(int id);

// Builds the dialog on the view's edit target and runs it; after OK records the undo step
// `undoName` and puts Apply's result in place of the target's pixels (of every layer with
// allLayers), confined to the selection. With sync, a change of the background without a
// selection brings the other layers into its colour class. Failures are shown with the
// dialog's caption; the undo step stays and the layer keeps its pixels. The selection is
// the target's region while the dialog is open too, so that the preview shows what OK will
// do. Returns the dialog's result (IDOK or IDCANCEL), or IDCANCEL without an edit target.
int RunEffectDialog(TImageView& view, const TEffectFactory& make, const std::string& undoName,
                    bool sync, bool allLayers);

// The commands of the table on a view, the size and rotation commands, and the colour
// depth and palette commands.
class TEffectCommands : public ICommandTarget {
public:
    explicit TEffectCommands(TImageView& view) : view_(view), geometry_(view), palette_(view) {}
    void CommandEnable(TCommandEnabler& ce) override;
    bool Command(int id) override;
    TGeometryCommands& Geometry() { return geometry_; }

private:
    TImageView& view_;
    TGeometryCommands geometry_;
    TPaletteCommands palette_;
};

// Gives a view its dialog commands (call where the tools are attached).
void AttachEffectCommands(TImageView& view);
