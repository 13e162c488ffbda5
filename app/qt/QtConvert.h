// Conversions between the program's plain types and Qt's, shared by the shell's widgets.
#pragma once

#include <QColor>
#include <QRect>
#include <QString>

#include <string>

#include "Toolkit.h"

inline QRect ToQRect(const RECT& r) {
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}
inline RECT ToRect(const QRect& r) {
    return RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}
inline QString ToQString(const std::string& s) { return QString::fromStdString(s); }
inline QColor ToQColor(COLORREF c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }
inline COLORREF ToColorRef(const QColor& c) {
    return RGB(uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue()));
}
