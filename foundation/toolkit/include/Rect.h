// Rectangle arithmetic on the toolkit's RECT (right and bottom exclusive).
#pragma once

#include "Toolkit.h"

inline bool IsEmptyRect(const RECT& r) { return r.left >= r.right || r.top >= r.bottom; }
// The common part of two rectangles; an empty one is all zeros.
inline RECT IntersectRect(const RECT& a, const RECT& b) {
    const RECT r{a.left > b.left ? a.left : b.left, a.top > b.top ? a.top : b.top,
                 a.right < b.right ? a.right : b.right, a.bottom < b.bottom ? a.bottom : b.bottom};
    return IsEmptyRect(r) ? RECT{} : r;
}
