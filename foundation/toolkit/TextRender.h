// The glyph side of the device context's text: fonts through fontconfig and FreeType, with
// the faces, sizes and rendered glyphs cached for the process.
#pragma once

#include <string_view>

#include "LeadDC.h"

namespace lt {

// The font used when a context has none selected.
HFONT DefaultFont();

struct TextLine {
    int width = 0;  // the sum of the advances
    int ascent = 0; // above the baseline
    int descent = 0;
    int underlineOffset = 0; // below the baseline, to the underline's top row
    int underlineThickness = 1;
    bool underline = false;
};
bool MeasureText(HFONT font, std::string_view text, TextLine* line);

// Blends the glyphs of text, pen starting at (x, baseline) in device coordinates, into the
// context's target in the colour, through its clip.
void BlendGlyphs(const LDEVICE& dc, HFONT font, int x, int baseline, std::string_view text,
                 COLORREF color);

} // namespace lt
