#include "TextEdit.h"

#include "WindowHost.h"

size_t Utf8Length(std::string_view s) {
    size_t n = 0;
    for (size_t i = 0; i < s.size(); i = Utf8Next(s, i)) ++n;
    return n;
}

size_t Utf8Next(std::string_view s, size_t i) {
    if (i >= s.size()) return s.size();
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
    return i;
}

void TTextEditModel::SetText(const std::string& utf8) {
    text_ = utf8;
    if (events_) events_->OnTextChanged();
}

bool TTextEditModel::Insert(std::string_view utf8, bool pasted) {
    if (utf8.empty()) return true;
    if (Utf8Length(text_) + Utf8Length(utf8) > size_t(limit_)) {
        if (events_) events_->OnMaxText(pasted);
        return false;
    }
    text_.append(utf8);
    if (events_) events_->OnTextChanged();
    return true;
}

bool TTextEditModel::Type(std::string_view utf8) {
    // Each character goes in on its own, as keys do: the ones that fit before the limit stay.
    for (size_t i = 0; i < utf8.size();) {
        const size_t next = Utf8Next(utf8, i);
        if (!Insert(utf8.substr(i, next - i), false)) return false;
        i = next;
    }
    return true;
}

bool TTextEditModel::Paste(std::string_view utf8) { return Insert(utf8, true); }

void TTextEditModel::Key(int vk) {
    if (vk == VK_ESCAPE) {
        if (events_) events_->OnEscape(); // may destroy this box
        return;
    }
    if (vk == VK_BACK && !text_.empty()) {
        size_t i = text_.size() - 1;
        while (i > 0 && (static_cast<unsigned char>(text_[i]) & 0xC0) == 0x80) --i;
        text_.erase(i);
        if (events_) events_->OnTextChanged();
    }
}

std::unique_ptr<ITextEdit> IWindowHost::CreateTextEdit(ITextEditEvents* events) {
    return std::make_unique<TTextEditModel>(events);
}
