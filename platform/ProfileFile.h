// A private-profile (INI) file: "[Section]" headers and "key=value" lines. Lookups ignore the
// case of section and key names; values come back exactly as they were written. Rewriting keeps
// every section, key, comment and blank line the program does not know about, so a settings
// file shared with other versions (or edited by hand) loses nothing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "Toolkit.h"

class TProfileFile {
public:
    // Files larger than this are not settings files; they read as empty.
    static constexpr size_t MaxFileSize = 1 << 20;

    // What Read does with a file it cannot use (unreadable, oversized, or holding NUL bytes,
    // as a file cut short by a crash does): SetAside renames it to "<name>.bad" so that the
    // next write starts a fresh one; Keep leaves it where it is (for files we never write).
    enum class TDamagedFile { SetAside, Keep };

    TProfileFile() = default;
    // Parses text in the file's format (CR LF or LF line ends).
    explicit TProfileFile(std::string_view text);

    // Reads a file; a missing, unreadable or oversized file gives an empty profile.
    static TProfileFile Read(const std::string& path,
                             TDamagedFile damaged = TDamagedFile::SetAside);
    // Writes the profile through the toolkit's atomic write: SUCCESS or a toolkit error code.
    // A file that cannot be read is never overwritten: it is set aside as "<name>.bad" first,
    // and when that fails the write is refused with ERROR_FILE_WRITE. So is a write over a
    // good file when this profile was read while that file could not be.
    L_INT Write(const std::string& path) const;

    bool HasKey(std::string_view section, std::string_view key) const;
    // The value after "key=", or `def` when the section or key is missing.
    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view def = {}) const;
    // The leading decimal integer of the value (optional blanks and sign, then digits; 0 when
    // there are none, saturated at the int range); `def` when the key is missing or empty.
    int GetInt(std::string_view section, std::string_view key, int def) const;
    // Sets a key, adding the section or the key at its end when missing. Names that cannot be
    // stored in the format (empty, line breaks, '=' or a leading '[' or ';' in a key, ']' in a
    // section name) and values with line breaks are refused with false.
    bool WriteString(std::string_view section, std::string_view key, std::string_view value);
    // Removes a key; false when it was not there.
    bool DeleteKey(std::string_view section, std::string_view key);

    // The file's text, one "\n" after every line.
    std::string Text() const;

private:
    struct TLine {
        std::string Key;   // empty for lines that are not entries (comments, blanks, junk)
        std::string Value; // an entry's value
        std::string Raw;   // the line as read, written back until the entry changes
    };
    struct TSection {
        std::string Name;
        bool HasHeader = true; // false for the lines before the first header
        std::vector<TLine> Lines;
    };

    const TSection* FindSection(std::string_view name) const;
    TSection* FindSection(std::string_view name);
    static const TLine* FindKey(const TSection& s, std::string_view key);

    std::vector<TSection> sections_;
    // The file this profile was read from when it could not be read and was left in place.
    std::string unreadable_;
};
