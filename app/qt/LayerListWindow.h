// The floating "Layers" tool window: one 24-pixel row per layer of the active image with
// its visibility box, current-layer marker and name, a vertical scroll bar, and an
// in-place editor for renaming. What it shows and does comes from TLayerListWnd.
#pragma once

#include <QWidget>

#include "LayerListWnd.h"

class QLineEdit;
class QScrollBar;
class TImageView;

class LayerListWindow : public QWidget {
    Q_OBJECT
public:
    // A tool window of parent (normally the main window, which gets the activation back
    // when a rename is cancelled by scrolling).
    explicit LayerListWindow(QWidget* parent = nullptr);
    ~LayerListWindow() override;

    // Shows the layers of view (null: a blank list). Call when a document window is
    // activated and with null when the last one closes.
    void SetView(TImageView* view);
    // Re-reads the layers and repaints.
    void Refresh();

    TLayerListWnd& Logic() { return list_; }
    // The parts, for tests: the painted rows, the scroll bar and the name editor.
    QWidget* Rows() const { return rows_; }
    QScrollBar* ScrollBar() const { return bar_; }
    QLineEdit* NameEditor() const { return editor_; }

private:
    friend class LayerRows;
    // Brings the scroll bar, the editor and the painted rows in line with the logic.
    void Sync();
    void ScrollTo(int first);
    void CommitEditor();

    TLayerListWnd list_;
    QWidget* rows_ = nullptr;
    QScrollBar* bar_ = nullptr;
    QLineEdit* editor_ = nullptr;
    bool syncing_ = false;
};
