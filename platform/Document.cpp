#include "Document.h"

void TDocument::SetDocPath(const std::string& path) {
    path_ = path;
    size_t slash = path.find_last_of('/');
    title_ = slash == std::string::npos ? path : path.substr(slash + 1);
}

bool TDocument::Open(int mode, const std::string& path) {
    openMode_ = mode;
    if (!path.empty()) SetDocPath(path);
    return true;
}

bool TDocument::Close() { return true; }

bool TDocument::Commit(bool) { return true; }

bool TDocument::Revert(bool) {
    dirty_ = false;
    return true;
}

void TDocument::NotifyViews(TDocEvent event) {
    // A listener may add listeners; index rather than iterate.
    for (size_t i = 0; i < listeners_.size(); ++i) listeners_[i](*this, event);
}
