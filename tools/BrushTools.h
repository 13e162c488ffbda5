// The brush-like paint tools: brush, airbrush, smudge, history brush and clone brush. Each
// lays the dabs of the stroke sampler onto the current layer in its own way.
#pragma once

#include <string>

#include "LeadDC.h"
#include "Stroke.h"

// Installs the makers of the five brush kinds.
void RegisterBrushTools();

// Where the clone brush copies from, shared by every view: the image point of the last
// right click, the view it was made in and that view's document path. The origin is lost
// when that view or its document goes away.
struct TCloneSource {
    POINT Origin{kNoPoint, kNoPoint};
    int ViewId = -1;
    std::string DocPath;
};
TCloneSource& CloneSource();

// Puts back the part inside rc (content coordinates of dc) of the clone brush's source
// marker, when it stands in view `viewNumber`: for that view's repaint, which covered it.
void PaintCloneMarker(int viewNumber, HDC dc, const RECT& rc);
