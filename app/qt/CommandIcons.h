// Button pictures of the tool bars and the program's own window icons, drawn in code so
// they scale with the screen and need no image files.
#pragma once

#include <QIcon>
#include <QString>

// The picture of a command's button. Commands without a picture of their own get a tile
// with the first letter of `fallbackText`.
QIcon CommandIcon(int id, const QString& fallbackText = QString());

// The main window's icon and the icon of an image window.
QIcon ApplicationIcon();
QIcon DocumentIcon();
