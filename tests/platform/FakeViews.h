// A view factory for manager tests: records which documents have a window; the newest
// window is the active one.
#pragma once

#include <algorithm>
#include <vector>

#include "DocManager.h"

class TFakeViews : public IDocViewFactory {
public:
    void CreateView(TDocument& doc) override { Views.push_back(&doc); }
    void DestroyViews(TDocument& doc) override {
        Views.erase(std::remove(Views.begin(), Views.end(), &doc), Views.end());
    }
    TDocument* ActiveDocument() const override { return Views.empty() ? nullptr : Views.back(); }
    void ActivateView(TDocument& doc) override {
        DestroyViews(doc);
        Views.push_back(&doc);
    }
    std::vector<TDocument*> Views;
};
