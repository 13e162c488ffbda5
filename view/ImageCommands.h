// The commands of the Image menu and the effects toolbar that change the picture in place:
// Convert To Grayscale, and through ApplyToLayer (one undo step, confined to the selection)
// the flips, Invert, Auto Equalize, Auto Contrast and the fourteen quick corrections.
#pragma once

#include <functional>
#include <string>

#include "Commands.h"
#include "Toolkit.h"

class TImageView;
class TLayer;

class TImageCommands : public ICommandTarget {
public:
    using TOperation = std::function<L_INT(TLayer&)>;

    explicit TImageCommands(TImageView& view) : view_(view) {}

    void CommandEnable(TCommandEnabler& ce) override { QueryCommand(ce); }
    bool Command(int id) override;
    void QueryCommand(TCommandEnabler& ce) const;

    // Records the undo step, then runs the operation on every layer (allLayers) or on the
    // edit target, confined to the selection when there is one. With sync, an operation on
    // the background without a selection brings the other layers into its colour class
    // (a palette that changed reaches them). A failure is shown to the user. Returns the
    // operation's status (ERROR_NO_MEMORY when the undo step could not be made).
    L_INT ApplyToLayer(const TOperation& operation, const std::string& undoName, bool sync,
                       bool allLayers);

private:
    TImageView& view_;
};
