// The per-user base folders of the freedesktop layout.
#pragma once

#include <string>

// The folder an XDG variable names ("XDG_CONFIG_HOME", "XDG_STATE_HOME", ...), or
// $HOME/<underHome> when it is unset or not an absolute path (a relative one would move with
// the working directory). Empty when there is no home either.
std::string XdgBaseDir(const char* variable, const char* underHome);
