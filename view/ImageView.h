// The image view: zoom, scrolling and the canvas origin, the conversion between window
// and image coordinates, painting the layered image into the host's backing store with
// the selection outline and the layer outlines, the marching ants, and the view's
// commands (View menu, Undo and Redo, the Selection menu, and through its layer handler the
// Layer menu).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ClipboardCommands.h"
#include "CommandIds.h"
#include "Commands.h"
#include "ImageCommands.h"
#include "ImageDoc.h"
#include "LayeredImageHandler.h"
#include "LeadBitmap.h"
#include "SelectionCommands.h"
#include "ToolOptions.h"
#include "ViewTools.h"
#include "WindowHost.h"

// The marching-ants timer and its period.
inline constexpr int kAntsTimer = 9999;
inline constexpr int kAntsPeriodMs = 1000;

// The view answers its own commands (zoom, outlines, Undo and Redo) and hands every other
// id to its layer handler, so a command chain needs only the view.
class TImageView : public IWindowClient, public ICommandTarget {
public:
    // Attaches to the host (it receives the host's events) and to the document's
    // notifications, and starts the marching ants.
    TImageView(TImageDoc& doc, IWindowHost& host);
    ~TImageView() override;
    TImageView(const TImageView&) = delete;
    TImageView& operator=(const TImageView&) = delete;

    TImageDoc& GetDocument() { return doc_; }
    IWindowHost& Host() { return host_; }
    // The document's image data, or null while it holds no image.
    TImageData* GetImageData() const { return data_; }
    // The bitmap the display shows (background or its channel view); null without image.
    TLayer* Canvas() const;
    int GetViewNumber() const { return viewNumber_; }
    // The live view numbered `number`, or null once it is gone.
    static TImageView* FindView(int number);
    // Every live view, oldest first.
    static const std::vector<TImageView*>& AllViews();

    // --- Zoom and scrolling.
    void UpdateScrollRanges();
    void ZoomIn();
    void ZoomOut();
    void ZoomToFit();
    void ZoomToOriginal();
    void CentreOn(POINT imagePoint);

    // --- Commands: the view's own and, through it, its layer handler's.
    void CommandEnable(TCommandEnabler& ce) override;
    // False when neither the view nor its layer handler knows the id.
    bool Command(int id) override;
    // The command's state without running anything.
    TCommandEnabler CommandState(int id) const;
    bool IsCommandEnabled(int id) const { return CommandState(id).Enabled; }
    bool IsCommandChecked(int id) const { return CommandState(id).Checked; }
    // Runs a command when it is enabled; false when nobody here knows the id or the
    // command is disabled.
    bool DoCommand(int id);
    TLayeredImageHandler& LayerHandler() { return layers_; }
    TImageCommands& ImageCommands() { return imageCommands_; }

    // --- History. Each drops the selection, swaps the image with the snapshot, lays the
    // scroll ranges out again (the size may have changed) and repaints everything.
    bool UndoCommand();
    bool RedoCommand();
    // Called after every change of the layers (Layer menu, layer list, Undo, Redo, a new
    // image in the document) so that the shell can refresh its layer list and status bar.
    std::function<void()> OnLayersChanged;

    // --- Coordinates. Scrolled: the client point is in window coordinates (the scroll
    // position is taken into account); otherwise it is relative to the scrolled content.
    POINT ClientToImage(POINT p, bool scrolled) const;
    RECT ClientToImageRect(const RECT& rc, bool scrolled, bool clamp) const;
    POINT ImageToClient(POINT q, bool scrolled) const;
    RECT ImageToClientRect(const RECT& rc, bool scrolled) const;
    // rc (content coordinates, scroll included) intersected with the canvas' area.
    RECT ClipToCanvas(const RECT& rc) const;
    // The canvas rectangle in content coordinates.
    RECT CanvasClientRect() const;
    // The image point under the mouse; false when it is not over the canvas in this view.
    bool GetCursorImagePoint(POINT* q) const;

    // --- Invalidation and painting.
    void InvalidateClientRect(const RECT& rc);
    void InvalidateLayer(const TLayer& layer);
    void InvalidateAll();
    // Paints the client rectangle (window coordinates) into the host's backing store.
    void Paint(const RECT& rc);
    // Redraws only the current layer's outline, on dc (content coordinates) or, with
    // none, straight into the backing store.
    void DrawOutlines(HDC dc);
    // The colour around the canvas and under hidden layers.
    static COLORREF ViewBackgroundColor();

    // --- Selection.
    bool Deselect();
    void ClipSelectionToLayer();
    // Recomputes SelectionOutline from SelectionMask: the selected pixels that touch an
    // unselected pixel or the canvas edge.
    L_INT UpdateSelectionOutline();

    // --- Document notifications.
    void OnDocumentOpened();
    void OnDocumentClosed();

    // --- Status bar texts ("" without an image).
    std::string StatusSize() const;
    std::string StatusBpp() const;
    std::string StatusLayerRect() const;
    // The selection gadget: what the tools show (the selection's bounds, a tool's own
    // text), else the layer rectangle.
    std::string StatusSelection() const;
    std::string StatusCursor() const;

    // The colours the frame's colour panel offers for this view: the canvas' own colour
    // table when it has 8 bits or fewer (its pixels can only take those), else the fixed
    // 256-colour palette. Returns how many were written.
    int PanelColors(RGBQUAD colors[256]) const;

    // --- Window events.
    void OnPaint(const RECT& rc) override { Paint(rc); }
    void OnSize() override;
    void OnTimer(int id) override;
    void OnSetFocus() override { InvalidateAll(); }
    void OnMouseWheel(int delta, unsigned keys, POINT client) override;
    // A press starts a gesture of that button (a second button while one is down is
    // ignored); its release ends it.
    void OnButtonDown(TMouseButton button, unsigned keys, POINT client) override;
    void OnButtonUp(TMouseButton button, unsigned keys, POINT client) override;
    // The paging keys scroll (a page, to an end with Ctrl, an eighth of a page with the
    // arrows); Esc drops the selection. Nothing happens while Shift is held.
    void OnKeyDown(int key, unsigned keys) override;
    // The rest goes to the tools, when the view has them.
    void OnMouseMove(unsigned keys, POINT client) override;
    void OnKeyUp(int key, unsigned keys) override;
    void OnKillFocus() override;
    void OnCaptureChanged() override;
    void OnCancelMode() override;

    // Display state.
    double Zoom = 1.0;
    int OriginX = 0, OriginY = 0;
    bool ShowActiveOutline = true;
    bool ShowInactiveOutlines = false;
    int AntsPhase = 0;
    bool HasSelection = false;
    TLeadBitmap SelectionMask;    // 1 bit, canvas size, set = selected
    TLeadBitmap SelectionOutline; // 1 bit, the mask's boundary pixels
    // Interaction state the tools set: a drag of the mouse running, the mouse captured
    // by a hand scroll or a layer drag, and the interaction mode (5 = deformation).
    bool Dragging = false;
    // The gesture running: its button (0 none, 1 left, 2 middle, 3 right), the client
    // point of its press and the scroll position at that moment.
    int MouseButton = 0;
    POINT DownPoint{};
    POINT DownScroll{};
    bool Capturing = false;
    // The interaction mode (0-4 the selection shapes, 5 deformation, 6 a paint tool of
    // PaintToolKind, 7 move, 8 zoom, 9 hand) and the one the move, zoom and hand toggles
    // return to.
    int Mode = 0;
    int PrevMode = 0;
    int PaintToolKind = 0;
    // (Shift held ? 2 : 0) + (Ctrl held ? 1 : 0); chooses the selection combine operation.
    int SelectModifier = 0;
    // The layer drag: where the mouse was, in image pixels, and whether its undo step is
    // recorded yet.
    POINT MoveAnchor{};
    bool MoveUndoDone = false;
    bool StrokeTimerOn = false;
    TToolOptions ToolOptions;
    // The options bar changed TextFace, TextSize, TextAlign or TextStyle, or the foreground
    // colour changed: a text tool with an open frame shows the change at once.
    void TextOptionsChanged() {
        if (tools_) tools_->TextOptionsChanged();
    }
    void TextColorChanged() {
        if (tools_) tools_->TextColorChanged();
    }
    // The clone brush's aligned mode: the offset this view painted with last and the clone
    // origin it belonged to (x 100000000 when none).
    POINT CloneOffset{100000000, 100000000};
    POINT CloneOffsetOrigin{100000000, 100000000};

    // --- Tools. The view hands its input, tool commands and overlay painting to them;
    // without any, the view only scrolls, zooms and shows.
    void SetTools(std::unique_ptr<IViewTools> tools) { tools_ = std::move(tools); }
    IViewTools* Tools() const { return tools_.get(); }
    // The commands that open the adjustment and effect dialogs live with the dialogs, above
    // the view; they attach here the same way the tools do.
    void SetDialogCommands(std::unique_ptr<ICommandTarget> commands) {
        dialogCommands_ = std::move(commands);
    }
    // The status bar's message text for the current mode and keys.
    std::function<void(const std::string&)> OnStatusHint;
    // The mode or the paint tool changed: the options bar shows the new tool's panel.
    std::function<void()> OnToolChanged;

private:
    // The view's own commands; ce stays unhandled for any other id.
    void OwnCommandState(TCommandEnabler& ce) const;
    TPaintOptions PaintOptions() const;
    bool CanvasSize(int* w, int* h) const;

    TImageDoc& doc_;
    IWindowHost& host_;
    TImageData* data_ = nullptr;
    int viewNumber_;
    // Lets the document's listener know whether this view still exists.
    std::shared_ptr<TImageView*> self_;
    std::unique_ptr<IViewTools> tools_;
    std::unique_ptr<ICommandTarget> dialogCommands_;
    TSelectionCommands selectionCommands_{*this};
    TClipboardCommands clipboardCommands_{*this};
    TImageCommands imageCommands_{*this};
    // Declared last so that it goes first: it tells its listeners that the view is going
    // while the rest of the view is still whole.
    TLayeredImageHandler layers_{*this};
};
