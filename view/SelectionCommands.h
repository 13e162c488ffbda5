// The Selection menu's commands on a view: Expand, Invert, Deselect, Remove, Clear, Copy To
// Layer and Cut Out To Layer. Each is enabled only while the view has a selection.
#pragma once

#include "Commands.h"
#include "Toolkit.h"

class TImageView;
class TLayer;

// The background colour of the colour bar (white until there is one), without alpha.
COLORREF BackgroundColour();

// While alive, the edit target's region is the selection (within the target's own shape,
// when it has one), so that toolkit calls on the target change only selected pixels. The
// target's own region comes back at the end. Without a selection it does nothing.
class TSelectionAsRegion {
public:
    TSelectionAsRegion(const TImageView& view, TLayer& target);
    ~TSelectionAsRegion();
    TSelectionAsRegion(const TSelectionAsRegion&) = delete;
    TSelectionAsRegion& operator=(const TSelectionAsRegion&) = delete;

    // Whether the region is in place (a selection exists and could be applied).
    bool Applied() const { return applied_; }

private:
    TLayer& target_;
    HRGN saved_ = nullptr;
    bool hadRegion_ = false;
    bool applied_ = false;
};

class TSelectionCommands : public ICommandTarget {
public:
    explicit TSelectionCommands(TImageView& view) : view_(view) {}

    void CommandEnable(TCommandEnabler& ce) override { QueryCommand(ce); }
    bool Command(int id) override;
    void QueryCommand(TCommandEnabler& ce) const;

private:
    void Expand();
    void Invert();
    // Fills the selected pixels of the edit target with the background colour (transparent
    // on 32-bit layers), as one undo step.
    bool Clear();
    // Copies the selected pixels of the current layer into a new layer above it, which
    // becomes current. False (and the user told) when that fails.
    bool CopyToLayer();
    void CutOutToLayer();
    bool Record(const char* name, bool writesCurrent);

    TImageView& view_;
};
