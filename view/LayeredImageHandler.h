// The Layer menu of a view: reordering, dropping, merging, removing, duplicating and
// walking through layers, the channel editing modes, and the calls the layer list makes
// (select, rename, show or hide a layer). Each undoable change records its snapshot
// before it touches the image, then tells the view what to repaint and the layer list
// what to re-read.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "CommandIds.h"
#include "Commands.h"

class TImageData;
class TImageView;
class TLayer;
class TLayeredImage;

// The channel editing mode a command selects; -1 when id is not a channel command.
int ChannelModeOfCommand(int id);

// What a listener of the handler has to re-read.
enum class TLayerChange {
    Repaint, // visibility, the current layer or the channel mode changed
    Rebuild, // the number, order or names of the layers changed
    Detached // the view is going away: drop every reference to it
};

class TLayeredImageHandler : public ICommandTarget {
public:
    explicit TLayeredImageHandler(TImageView& view);
    ~TLayeredImageHandler() override;
    TLayeredImageHandler(const TLayeredImageHandler&) = delete;
    TLayeredImageHandler& operator=(const TLayeredImageHandler&) = delete;

    TImageView& View() const { return view_; }
    // The layered image of the view's document; null while it holds no image.
    TLayeredImage* GetImage() const;

    // --- Commands.
    void CommandEnable(TCommandEnabler& ce) override;
    bool Command(int id) override;
    // The state of a command without running anything.
    void QueryCommand(TCommandEnabler& ce) const;

    // --- The layer list's calls. Indices outside 0..count-1 do nothing (false, "").
    int Count() const;
    int CurrentIndex() const;
    // Makes the layer current (no undo step).
    bool Select(int index);
    std::string Name(int index) const;
    bool IsVisible(int index) const;
    // Shows or hides a layer (no undo step).
    bool SetVisible(int index, bool visible);
    // Gives the layer a new name as one undo step; an unchanged name records nothing.
    // True when the name changed.
    bool Rename(int index, const std::string& name);

    // --- Listeners: told after every change this handler or the view's Undo/Redo made.
    using TListener = std::function<void(TLayerChange)>;
    // Returns a token for RemoveListener.
    int AddListener(TListener listener);
    void RemoveListener(int token);
    void Notify(TLayerChange change);

private:
    TImageData* Data() const;
    // Records the undo step of a command that writes in place only into the layers at
    // `writesInto`; when that fails (no memory for the snapshot) the user is told and the
    // caller must not go on: a change without its undo step would be lost.
    bool Record(const std::string& name, const std::vector<int>& writesInto);
    // Invalidates the window area of layer i (inflated by 2 pixels).
    void InvalidateLayer(int index);
    // Tells the user that an operation failed with a toolkit code.
    void ReportFailure(int code);
    void Reorder(int id);
    void Drop(bool onBackground);
    void Merge(bool visibleOnly);
    void Remove();
    void Duplicate();
    void Walk(int step);
    void SetChannelMode(int mode);

    TImageView& view_;
    std::vector<std::pair<int, TListener>> listeners_;
    int nextToken_ = 1;
};
