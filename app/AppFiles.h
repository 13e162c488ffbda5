// Where the program finds its own files: the folder it runs from, the defaults file with the
// intro picture, the bundled help and the shared data (icons, sample image).
//
// Layout: installed, the program is <prefix>/bin/quillo and its data <prefix>/share/quillo/
// (help/, icons/, sample.qlx); run from a build folder, the data is the source tree's data/.
#pragma once

#include <span>
#include <string>
#include <vector>

// The folder holding the running executable (from /proc/self/exe); empty when unknown.
std::string ExecutableDir();
// The running executable's full path; empty when unknown.
std::string ExecutablePath();

// The folders searched for "QuilloDef.ini", in order: the executable's folder,
// $XDG_DATA_HOME/quillo (default ~/.local/share/quillo), then <dir>/quillo for each entry of
// $XDG_DATA_DIRS (default /usr/local/share:/usr/share). Relative entries are skipped: they
// would depend on the working directory.
std::vector<std::string> DefaultsSearchDirs();
// The first `dir + "/" + name` that is a regular file; empty when none is.
std::string FindFileIn(const std::vector<std::string>& dirs, const std::string& name);
// "QuilloDef.ini" along DefaultsSearchDirs(); empty when there is none.
std::string FindDefaultsFile();

// The splash picture named by key "IntroImage" of section "Intro" of a defaults file, resolved
// against the defaults file's folder when relative. Empty when the file, the key or the named
// image is missing.
std::string IntroImagePath(const std::string& defaultsFile);
// The same for FindDefaultsFile().
std::string IntroImagePath();

// The folder of the program's shared data; empty when none is found.
std::string DataDir();
// The bundled HTML help's index page; empty when the help is missing.
std::string FindHelpFile();

// A help page for a command or dialog id, relative to the help folder and possibly with an
// anchor ("layers.html#move"). Ids without their own topic give the contents page.
struct THelpTopic {
    int ContextId;
    const char* Page;
};
std::span<const THelpTopic> HelpTopics();
std::string HelpPageFor(int contextId);
