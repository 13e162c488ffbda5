// The bundled HTML help in a browser window of its own. One window serves the whole program:
// asking again brings it forward on the requested page.
#pragma once

class QWidget;

// Opens the help on the page for a command or dialog id (0: the contents). Nothing happens
// when the help files are missing.
void ShowHelp(QWidget* parent, int contextId = 0);
// True once help has been shown during this run.
bool HelpWasOpened();
// Closes the help window if it is open (at shutdown).
void CloseHelp();
