// The layer list window's behaviour, without a window: which layers of the active view it
// shows, which rows fit and which is first, the selected row, what a click or double
// click at a point does, scrolling, and renaming a layer in place. The desktop window
// paints what this says and forwards its mouse, scroll and editor events here.
#pragma once

#include <functional>
#include <string>

#include "LayeredImageHandler.h"

class TImageView;
class TLayeredImage;

class TLayerListWnd {
public:
    // Rows are this many pixels high; the columns are the visibility box (x 1..19), the
    // current-layer marker (x 20..39) and the name field (x 40 to the right edge).
    static constexpr int kRowHeight = 24;
    static constexpr int kMarkerLeft = 20;
    static constexpr int kNameLeft = 40;
    static constexpr int kMaxNameLength = 255;

    enum class TColumn { None, Visibility, Marker, Name };
    struct THit {
        int Row = -1; // -1: below the last row
        TColumn Column = TColumn::None;
    };
    enum class TScroll { LineUp, LineDown, PageUp, PageDown, Thumb, Top, Bottom };

    // What one row shows.
    struct TRow {
        std::string Name;
        bool Visible = false;
        bool Current = false;
        bool Selected = false;
    };

    TLayerListWnd() = default;
    ~TLayerListWnd();
    TLayerListWnd(const TLayerListWnd&) = delete;
    TLayerListWnd& operator=(const TLayerListWnd&) = delete;

    // Shows the layers of this view (null: a blank list), scrolled to the current layer's
    // row. A rename in progress is committed to the view it was started on first.
    void SetView(TImageView* view);
    TImageView* GetView() const { return view_; }
    // The layered image shown; null without a view or while its document holds no image.
    TLayeredImage* GetImage() const;

    // Called after anything that changes what the window shows (the layers, the first
    // row, the selection or the rename state).
    std::function<void()> OnChanged;

    // --- Geometry.
    void SetClientHeight(int pixels);
    // Whole rows that fit.
    int VisibleRows() const { return visibleRows_; }
    int Count() const;
    int FirstVisible() const { return first_; }
    int SelectedRow() const { return selected_; }
    // The scroll bar runs from 0 to this (count - visible rows, never below 0).
    int ScrollMax() const;
    // Re-reads the layers: clamps the selected and the first row and ends a rename whose
    // layer is gone.
    void Refresh();
    TRow Row(int index) const;
    // Top of row index in client coordinates (negative above the first visible row).
    int RowTop(int index) const { return (index - first_) * kRowHeight; }
    THit HitTest(int x, int y) const;

    // --- Mouse. Click: left button down; it commits a rename in progress first.
    void Click(int x, int y);
    // The double-click that follows the second Click of a pair: on a name it starts
    // renaming that layer (true); elsewhere it does nothing more.
    bool DoubleClick(int x, int y);

    // --- Scrolling; thumb gives the new first row for TScroll::Thumb. Scrolling
    // cancels a rename; true when one was cancelled (the caller gives the activation
    // back to the main window).
    bool Scroll(TScroll how, int thumb = 0);

    // --- Renaming.
    bool Renaming() const { return renameRow_ >= 0; }
    int RenameRow() const { return renameRow_; }
    const std::string& RenameText() const { return renameText_; }
    bool StartRename(int row);
    // The text typed so far (cut to kMaxNameLength characters).
    void SetRenameText(const std::string& text);
    // Gives the layer the typed name (one undo step when it differs); true when renamed.
    bool CommitRename();
    void CancelRename();

private:
    void Attach(TImageView* view);
    void Detach();
    void OnLayerChange(TLayerChange change);
    void ClampFirst();
    // Scrolls as little as needed to bring the current layer's row into view.
    void ShowCurrentRow();
    void Changed();
    TLayeredImageHandler* Handler() const;

    TImageView* view_ = nullptr;
    int token_ = 0;
    int clientHeight_ = 0;
    int visibleRows_ = 0;
    int first_ = 0;
    int selected_ = 0;
    int renameRow_ = -1;
    std::string renameText_;
};
