// The pointers of the tools: cursor numbers 15 to 39 as the view asks for them, drawn by
// the program itself at whatever device pixel ratio the screen has, black shapes with a
// white rim so that they read on dark and light images alike.
#pragma once

#include <QCursor>
#include <QPixmap>
#include <QPoint>

inline constexpr int kFirstToolCursor = 15;
inline constexpr int kLastToolCursor = 39;
// Every cursor is this many device independent pixels square.
inline constexpr int kToolCursorSize = 32;

bool IsToolCursor(int id);
// The artwork of a tool cursor at a device pixel ratio (1 gives 32 by 32 pixels, 2 gives 64
// by 64); a null pixmap for numbers outside 15..39.
QPixmap ToolCursorPixmap(int id, qreal devicePixelRatio);
// The point of the artwork that is the pointer's position, in device independent pixels.
QPoint ToolCursorHotSpot(int id);
// What IWindowHost::SetCursor shows for a number: a tool cursor, Qt's arrow for
// CURSOR_ARROW and for numbers it does not know, Qt's forbidden cursor for CURSOR_NO.
QCursor CursorFor(int id, qreal devicePixelRatio);
