// The file associations of a freedesktop desktop: a desktop entry that opens images with the
// program, a MIME type for the layered .qlx files and the icons for both, all under the user's
// $XDG_DATA_HOME (default ~/.local/share). Registering at every start keeps them pointing at
// the program actually run; files are rewritten only when their content changes.
#pragma once

#include <string>
#include <vector>

// The MIME type of the layered files.
inline constexpr const char* QuilloLayeredMimeType = "application/x-quillo-layered";

// Writes the desktop entry (running exePath), the MIME package and the icons, then refreshes
// the desktop's MIME and desktop-entry caches with update-mime-database and
// update-desktop-database when those programs exist (their failures are ignored). False when
// a file could not be written, exePath is not absolute or there is no data folder at all.
bool RegisterFileTypes(const std::string& exePath);
// Removes exactly the files RegisterFileTypes writes and refreshes the caches when anything
// was removed. Other files in the same folders are left alone.
void UnregisterFileTypes();

// The files registration writes, relative to the data folder (for checks and removal).
std::vector<std::string> RegisteredFiles();
// The user's data folder: $XDG_DATA_HOME when absolute, else ~/.local/share; empty without a home.
std::string UserDataHome();
