// The owning, indexed layer sequence of a layered image, with a cursor on one element.
//
// Cursor rules: inserting or removing elements before the cursor keeps it on the same
// element (its index shifts); removing the element under the cursor leaves the index where
// it was, so the cursor lands on the next element. A cursor index outside 0..count-1 is
// kept as it is and Current() is null. Reading by index never moves the cursor.
#pragma once

#include <memory>
#include <vector>

#include "Layer.h"

class TLayerList {
public:
    TLayerList() = default;
    TLayerList(const TLayerList&) = delete;
    TLayerList& operator=(const TLayerList&) = delete;

    int Count() const { return int(items_.size()); }
    int Index() const { return cursor_; }
    TLayer* Current() const { return At(cursor_); }
    void Seek(int index) { cursor_ = index; }
    // Null outside 0..count-1.
    TLayer* At(int index) const {
        return index >= 0 && index < Count() ? items_[size_t(index)].get() : nullptr;
    }

    // index in 0..count (count appends). Refuses null layers and bad indices.
    bool Insert(int index, std::unique_ptr<TLayer> layer);
    bool Append(std::unique_ptr<TLayer> layer) { return Insert(Count(), std::move(layer)); }
    // Removes the element and hands it over (null for a bad index).
    std::unique_ptr<TLayer> Take(int index);
    // Removes and deletes the element.
    void Remove(int index) { Take(index); }
    // Puts a layer in the slot and hands back the one that was there (cursor unchanged).
    std::unique_ptr<TLayer> Replace(int index, std::unique_ptr<TLayer> layer);
    // Swaps two elements (cursor index unchanged).
    bool Exchange(int a, int b);
    void Clear();
    void Swap(TLayerList& other);

private:
    std::vector<std::unique_ptr<TLayer>> items_;
    int cursor_ = 0;
};
