#include "LayerList.h"

#include <utility>

bool TLayerList::Insert(int index, std::unique_ptr<TLayer> layer) {
    if (!layer || index < 0 || index > Count()) return false;
    items_.insert(items_.begin() + index, std::move(layer));
    if (index <= cursor_ && cursor_ < Count() - 1) ++cursor_;
    return true;
}

std::unique_ptr<TLayer> TLayerList::Take(int index) {
    if (index < 0 || index >= Count()) return nullptr;
    std::unique_ptr<TLayer> out = std::move(items_[size_t(index)]);
    items_.erase(items_.begin() + index);
    if (index < cursor_) --cursor_;
    return out;
}

std::unique_ptr<TLayer> TLayerList::Replace(int index, std::unique_ptr<TLayer> layer) {
    if (!layer || index < 0 || index >= Count()) return nullptr;
    std::swap(items_[size_t(index)], layer);
    return layer;
}

bool TLayerList::Exchange(int a, int b) {
    if (a < 0 || b < 0 || a >= Count() || b >= Count()) return false;
    std::swap(items_[size_t(a)], items_[size_t(b)]);
    return true;
}

void TLayerList::Clear() {
    items_.clear();
    cursor_ = 0;
}

void TLayerList::Swap(TLayerList& other) {
    items_.swap(other.items_);
    std::swap(cursor_, other.cursor_);
}
