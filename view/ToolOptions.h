// The settings of every tool, one set per view (each document window keeps its own). They
// start at these defaults when the view is created and are not stored in the settings file.
#pragma once

#include <string>

struct TToolOptions {
    int RetouchWidth = 10;  // pixels
    int Tolerance = 10;     // percent; magic wand, Expand and fill
    int ColorReplace = 1;   // fill
    double LineWidth = 1.0; // pixels
    int LineAntialiased = 1;
    double RectangleWidth = 1.0;
    int RectangleFillStyle = 1; // 0 outline only, 1 outline and fill, 2 fill only
    double EllipseWidth = 1.0;
    int EllipseFillStyle = 1;
    int EllipseAntialiased = 1;
    int BrushWidth = 10;          // brush, history brush, clone brush
    double BrushSoftEdge = 100.0; // percent
    int BrushSmooth = 3;          // points
    double BrushSpacing = 1.0;    // percent
    int BrushAntialiased = 1;
    double CloneSpacing = 25.0; // percent
    int CloneAligned = 1;
    int SmudgeWidth = 27;
    int SmudgePressure = 100;
    int AirbrushWidth = 30;
    int AirbrushPressure = 25;
    int AirbrushSpacing = 15;
    int AirbrushDissolve = 0;
    std::string TextFace = "Times New Roman";
    int TextSize = 12; // points
    int TextAlign = 0; // 0 left, 0x40 centre, 0x80 right
    int TextStyle = 0; // 0x01 bold, 0x02 italic, 0x04 underline, 0x10 as layer
};
