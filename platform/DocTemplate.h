// A document template: one file type the document manager offers in its open and save
// dialogs (description, filter, default extension) and how it may be used.
#pragma once

#include <string>

// Template flags. Open-only types are offered when opening, never when saving.
enum TDocTemplateFlags : unsigned {
    DT_AUTODELETE = 0x0001,      // the document goes with its last view
    DT_UPDATEDIR = 0x0002,       // a chosen file makes its folder the current one
    DT_PATHMUSTEXIST = 0x0004,   // the open dialog accepts existing paths only
    DT_HIDEREADONLY = 0x0008,    // no read-only box in the file dialogs
    DT_OVERWRITEPROMPT = 0x0010, // ask before saving over an existing file
    DT_READONLY = 0x0020,        // open only
};

class TDocTemplate {
public:
    TDocTemplate(std::string description, std::string filter, std::string defaultExt,
                 unsigned flags)
        : description_(std::move(description)),
          filter_(std::move(filter)),
          defaultExt_(std::move(defaultExt)),
          flags_(flags) {}

    const std::string& GetDescription() const { return description_; }
    // Patterns separated by ';', e.g. "*.jpg;*.jff".
    const std::string& GetFileFilter() const { return filter_; }
    // Without the dot; empty when the type has none.
    const std::string& GetDefaultExt() const { return defaultExt_; }
    unsigned GetFlags() const { return flags_; }
    bool IsOpenOnly() const { return (flags_ & DT_READONLY) != 0; }
    // Whether a file name matches one of the filter's patterns (case-insensitive; only
    // "*" and "*.ext" patterns occur).
    bool MatchesPath(const std::string& path) const;

private:
    std::string description_, filter_, defaultExt_;
    unsigned flags_;
};
