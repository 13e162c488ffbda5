#include "LayerListWnd.h"

#include <algorithm>

#include "ImageView.h"

namespace {

// The first `limit` characters of UTF-8 text; a character is never cut in half.
std::string CutCharacters(const std::string& text, int limit) {
    int chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        // Continuation bytes belong to the character before them.
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (chars++ == limit) return text.substr(0, i);
    }
    return text;
}

} // namespace

TLayerListWnd::~TLayerListWnd() { Detach(); }

TLayeredImageHandler* TLayerListWnd::Handler() const {
    return view_ ? &view_->LayerHandler() : nullptr;
}

TLayeredImage* TLayerListWnd::GetImage() const {
    TLayeredImageHandler* h = Handler();
    return h ? h->GetImage() : nullptr;
}

void TLayerListWnd::SetView(TImageView* view) {
    if (view == view_) {
        Refresh();
        return;
    }
    // Switching documents closes the editor the way a click elsewhere would.
    if (Renaming()) CommitRename();
    Detach();
    Attach(view);
    first_ = 0;
    selected_ = std::max(0, Handler() ? Handler()->CurrentIndex() : 0);
    ShowCurrentRow();
    Refresh();
}

void TLayerListWnd::ShowCurrentRow() {
    const int current = Handler() ? Handler()->CurrentIndex() : -1;
    if (current < 0 || visibleRows_ <= 0) return;
    // The layer being worked on is the one row that must not be scrolled out of sight when
    // the list first shows an image; the rest stay where they are when possible.
    if (current < first_) first_ = current;
    if (current >= first_ + visibleRows_) first_ = current - visibleRows_ + 1;
    ClampFirst();
}

void TLayerListWnd::Attach(TImageView* view) {
    view_ = view;
    if (view_)
        token_ = view_->LayerHandler().AddListener([this](TLayerChange c) { OnLayerChange(c); });
}

void TLayerListWnd::Detach() {
    if (view_) view_->LayerHandler().RemoveListener(token_);
    view_ = nullptr;
    token_ = 0;
    renameRow_ = -1;
    renameText_.clear();
}

void TLayerListWnd::OnLayerChange(TLayerChange change) {
    if (change == TLayerChange::Detached) {
        // The view is being destroyed: forget it without calling it again.
        view_ = nullptr;
        token_ = 0;
        renameRow_ = -1;
        renameText_.clear();
        first_ = selected_ = 0;
        Changed();
        return;
    }
    // The stack changed under an open editor (a command run from elsewhere): its row may
    // now hold another layer, so the typed name is dropped rather than given to that one.
    if (change == TLayerChange::Rebuild && Renaming()) {
        renameRow_ = -1;
        renameText_.clear();
    }
    Refresh();
}

void TLayerListWnd::Changed() {
    if (OnChanged) OnChanged();
}

// ---------------------------------------------------------------------------
// Geometry.

void TLayerListWnd::SetClientHeight(int pixels) {
    clientHeight_ = std::max(0, pixels);
    const bool firstLayout = visibleRows_ == 0;
    visibleRows_ = clientHeight_ / kRowHeight;
    ClampFirst();
    if (firstLayout) ShowCurrentRow();
    Changed();
}

int TLayerListWnd::Count() const {
    TLayeredImageHandler* h = Handler();
    return h ? h->Count() : 0;
}

int TLayerListWnd::ScrollMax() const { return std::max(0, Count() - visibleRows_); }

void TLayerListWnd::ClampFirst() { first_ = std::clamp(first_, 0, ScrollMax()); }

void TLayerListWnd::Refresh() {
    const int n = Count();
    selected_ = std::clamp(selected_, 0, std::max(0, n - 1));
    ClampFirst();
    if (renameRow_ >= n) {
        renameRow_ = -1;
        renameText_.clear();
    }
    Changed();
}

TLayerListWnd::TRow TLayerListWnd::Row(int index) const {
    TRow row;
    TLayeredImageHandler* h = Handler();
    if (!h || index < 0 || index >= h->Count()) return row;
    row.Name = h->Name(index);
    row.Visible = h->IsVisible(index);
    row.Current = index == h->CurrentIndex();
    row.Selected = index == selected_;
    return row;
}

TLayerListWnd::THit TLayerListWnd::HitTest(int x, int y) const {
    THit hit;
    if (y < 0) return hit;
    const int row = first_ + y / kRowHeight;
    if (row >= Count()) return hit;
    hit.Row = row;
    if (x >= 1 && x < kMarkerLeft)
        hit.Column = TColumn::Visibility;
    else if (x >= kMarkerLeft && x < kNameLeft)
        hit.Column = TColumn::Marker;
    else if (x >= kNameLeft)
        hit.Column = TColumn::Name;
    return hit;
}

// ---------------------------------------------------------------------------
// Mouse.

void TLayerListWnd::Click(int x, int y) {
    if (Renaming()) CommitRename();
    const THit hit = HitTest(x, y);
    TLayeredImageHandler* h = Handler();
    if (hit.Row < 0 || !h) return;
    selected_ = hit.Row;
    // The handler's change notice repaints the list; a plain selection needs its own.
    if (hit.Column == TColumn::Visibility)
        h->SetVisible(hit.Row, !h->IsVisible(hit.Row));
    else if (hit.Column == TColumn::Marker)
        h->Select(hit.Row);
    else
        Changed();
}

bool TLayerListWnd::DoubleClick(int x, int y) {
    // The second press of the pair has already acted as a click; on the boxes that is
    // all a quick pair of clicks does (the eye toggles twice).
    const THit hit = HitTest(x, y);
    if (hit.Row < 0 || hit.Column != TColumn::Name) return false;
    if (Renaming()) CommitRename();
    selected_ = hit.Row;
    return StartRename(hit.Row);
}

// ---------------------------------------------------------------------------
// Scrolling.

bool TLayerListWnd::Scroll(TScroll how, int thumb) {
    const int page = std::max(1, visibleRows_);
    switch (how) {
        case TScroll::LineUp: first_ -= 1; break;
        case TScroll::LineDown: first_ += 1; break;
        case TScroll::PageUp: first_ -= page; break;
        case TScroll::PageDown: first_ += page; break;
        case TScroll::Thumb: first_ = thumb; break;
        case TScroll::Top: first_ = 0; break;
        case TScroll::Bottom: first_ = ScrollMax(); break;
    }
    ClampFirst();
    // The editor sits over one row; once the rows move it would name the wrong layer.
    const bool cancelled = Renaming();
    if (cancelled) {
        renameRow_ = -1;
        renameText_.clear();
    }
    Changed();
    return cancelled;
}

// ---------------------------------------------------------------------------
// Renaming.

bool TLayerListWnd::StartRename(int row) {
    TLayeredImageHandler* h = Handler();
    if (!h || row < 0 || row >= h->Count()) return false;
    renameRow_ = row;
    renameText_ = CutCharacters(h->Name(row), kMaxNameLength);
    Changed();
    return true;
}

void TLayerListWnd::SetRenameText(const std::string& text) {
    if (Renaming()) renameText_ = CutCharacters(text, kMaxNameLength);
}

bool TLayerListWnd::CommitRename() {
    if (!Renaming()) return false;
    const int row = renameRow_;
    const std::string text = renameText_;
    // Ended before the handler speaks: its change notice must find no editor open.
    renameRow_ = -1;
    renameText_.clear();
    TLayeredImageHandler* h = Handler();
    const bool renamed = h && h->Rename(row, text);
    if (!renamed) Changed();
    return renamed;
}

void TLayerListWnd::CancelRename() {
    if (!Renaming()) return;
    renameRow_ = -1;
    renameText_.clear();
    Changed();
}
