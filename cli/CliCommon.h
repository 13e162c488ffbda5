// What the quillo-tool commands share: error reports, number parsing, output formats.
#pragma once

#include <string>

#include "Toolkit.h"

class TLayeredImage;

// Prints "quillo-tool: WHAT: message" for a toolkit code; returns the exit status 1.
int Fail(const char* what, int code);
// After a load: says on stderr when the file ended early and was completed in gray.
void WarnIfTruncated(const char* path);
// A whole decimal number in lo..hi.
bool ParseInt(const char* s, int lo, int hi, int* out);
// The format written for a file name's extension; 0 when there is none we know.
int FormatFromName(const std::string& path);
// Saves in a format at bpp (0: the bitmap's own depth, or, for JPEG, the nearest depth it
// can hold: 24 bits, or 8 for gray); quality is the JPEG quality in percent.
L_INT SaveImage(const char* path, pBITMAPHANDLE b, int format, int bpp, int quality);
// One line per layer (index, name, position, size, depth, visibility, shape), then the
// current layer: what `layers` and the script runner's `print layers` show.
void PrintLayers(const TLayeredImage& image);
