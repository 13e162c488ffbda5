// `quillo-tool script`: runs the editor without a window, one command a line, on the same
// document manager, documents, views, command routing and dialog logic as the desktop.
// The format is described in README (the quillo-tool section).
#pragma once

#include <istream>

// Runs the script read from in. 0 when every line ran; 2 at the first line that could not
// (unknown verb, a bad argument, a disabled command, a dialog or message box answered that
// never came), which is reported on the standard error with its line number.
int RunScript(std::istream& in);
// The script in a file ("-": the standard input).
int RunScriptFile(const char* path);
