// Quillo imaging toolkit: image processing in place on a bitmap.
//
// Rules every function here keeps:
//  - Arguments are checked before any pixel is touched: a value out of its range returns
//    ERROR_INV_PARAMETER (or ERROR_NO_BITMAP for an empty bitmap) and changes nothing.
//  - Only pixels inside the bitmap's region change when it has one; neighbourhood filters
//    still read the pixels around it. Statistics (equalize, stretch) are taken over the
//    region.
//  - Every depth works. Palette images (1, 4, 8 bits) get a new palette from operations
//    that map each colour to another one (intensity, contrast, hue, saturation, gamma,
//    invert, posterize, intensity detection, equalize, stretch); with a region their
//    palette stays and the pixels inside take the nearest entry of the mapped colour.
//    Other operations work in true colour and write back the nearest palette entry. An
//    8-bit image with the gray ramp palette (entry i = level i) is worked on as gray levels
//    and keeps its palette. 32-bit pixels keep their alpha byte.
//  - Neighbourhood filters replicate the edge pixels beyond the border.
//  - Long operations report progress through the status callback; a callback that returns
//    an error code stops the operation, which then fails with that code (ERROR_USER_ABORT
//    for other values). The bitmap is then partly processed.
//  - Rows are processed in bands on a small pool of threads (L_SetProcessingThreads).
//
// Percentages are in tenths of a percent (-1000..1000 is -100 %..100 %).
#pragma once

#include "Toolkit.h"

// The number of threads processing uses: 1 runs everything on the calling thread; 0 goes
// back to the default (the QUILLO_THREADS environment variable when it holds a number,
// else one per core). Clamped to 1..64.
void L_SetProcessingThreads(L_INT nThreads);
L_INT L_GetProcessingThreads();

// Point operations (each colour channel or colour on its own).

// Adds nChange tenths of a percent of full scale to each channel (-1000..1000).
L_INT L_ChangeBitmapIntensity(pBITMAPHANDLE b, L_INT nChange);
// Spreads the channels away from (positive) or towards (negative) the middle level 128:
// -1000 makes everything mid-gray, 500 doubles the distance from 128, 1000 leaves only
// black and white.
L_INT L_ChangeBitmapContrast(pBITMAPHANDLE b, L_INT nChange);
// Moves each colour towards (negative) or away from its own gray level; -1000 leaves
// the gray level, 1000 doubles the distance (-1000..1000).
L_INT L_ChangeBitmapSaturation(pBITMAPHANDLE b, L_INT nChange);
// Turns the hue of every colour by nAngle degrees around the colour circle (-360..360);
// the brightest and darkest channel of each pixel stay what they were.
L_INT L_ChangeBitmapHue(pBITMAPHANDLE b, L_INT nAngle);
// Gamma correction with the gamma times 100 (1..1000): v' = 255 * (v / 255)^(100 / nGamma),
// so a gamma above 1 raises the values.
L_INT L_GammaCorrectBitmap(pBITMAPHANDLE b, L_INT nGamma);
// v' = 255 - v.
L_INT L_InvertBitmap(pBITMAPHANDLE b);
// Leaves nLevels evenly spaced levels per channel (2..256): v' = q * 255 / (n - 1) with
// q = round(v * (n - 1) / 255), both rounded half up.
L_INT L_PosterizeBitmap(pBITMAPHANDLE b, L_INT nLevels);
// Pixels whose gray level (0.299 R + 0.587 G + 0.114 B) lies in nLow..nHigh become white,
// the others black (0 <= nLow <= nHigh <= 255).
L_INT L_IntensityDetectBitmap(pBITMAPHANDLE b, L_INT nLow, L_INT nHigh);

// Statistics: both work on the gray level and move the three channels of a pixel by the
// same amount, so colours keep their hue.

// Spreads the gray levels so that each level is about as frequent as any other.
L_INT L_HistoEqualizeBitmap(pBITMAPHANDLE b);
// Stretches the gray levels linearly so that the darkest becomes 0 and the brightest 255.
L_INT L_StretchBitmapIntensity(pBITMAPHANDLE b);

// Neighbourhood filters. An n x n window covers the pixels from -(n - 1) / 2 to n / 2
// around the one it computes.

// The mean of an n x n window, rounded (0..32768; 0 and 1 change nothing).
L_INT L_AverageFilterBitmap(pBITMAPHANDLE b, L_INT nDim);
// The median of an n x n window per channel (1..255); for an even count the lower of the
// two middle values. The cost per pixel does not depend on n.
L_INT L_MedianFilterBitmap(pBITMAPHANDLE b, L_INT nDim);
// Sharpens (positive) or blurs (negative) against a 5 x 5 binomial blur (-1000..1000):
// v' = v + (v - blur) * 2 * n / 1000 when sharpening, v' = v + (blur - v) * -n / 1000 when
// blurring.
L_INT L_SharpenBitmap(pBITMAPHANDLE b, L_INT nSharpness);

// The predefined 3 x 3 spatial filters, in this order.
enum : L_INT {
    FLT_EMBOSS_N = 0,   // 0..7: emboss towards N, NE, E, SE, S, SW, W, NW
    FLT_GRADIENT_N = 8, // 8..15: compass gradients N .. NW
    FLT_LAPLACE_1 = 16, // 16..21: Laplacian 1, 2, 3, diagonal, horizontal, vertical
    FLT_SOBEL_HORZ = 22,
    FLT_SOBEL_VERT = 23,
    FLT_PREWITT_HORZ = 24,
    FLT_PREWITT_VERT = 25,
    FLT_SHIFTDIFF_DIAG = 26, // 26..28: shift and difference diagonal, horizontal, vertical
    FLT_LINESEG_HORZ = 29,   // 29..32: line segments horizontal, vertical, \ and /
    FLT_LAST = 32,
};
L_INT L_SpatialFilterBitmap(pBITMAPHANDLE b, L_INT nFilter);

// Emboss directions, where the light comes from.
enum : L_INT {
    EMBOSS_N = 0,
    EMBOSS_NE,
    EMBOSS_E,
    EMBOSS_SE,
    EMBOSS_S,
    EMBOSS_SW,
    EMBOSS_W,
    EMBOSS_NW,
};
// Relief on mid-gray: v' = 128 + (lit neighbour - shaded neighbour) * nDepth / 100
// (direction 0..7, depth 0..1000).
L_INT L_EmbossBitmap(pBITMAPHANDLE b, L_INT nDirection, L_INT nDepth);

// Effects.

// The channel L_AddBitmapNoise adds to (named apart from the layered image's channel modes,
// whose values differ).
enum : L_INT {
    NOISE_ALL_CHANNELS = 0, // all three colour channels
    NOISE_RED = 1,
    NOISE_GREEN = 2,
    NOISE_BLUE = 3,
};
// Adds uniform noise of up to nRange tenths of a percent of full scale (0..1000) to one
// channel or all. The same seed gives the same noise whatever the thread count.
L_INT L_AddBitmapNoise(pBITMAPHANDLE b, L_INT nRange, L_INT nChannel, L_UINT uSeed = 0);
// Squares of n x n pixels from the top left corner, each the mean colour of its pixels
// (1..4096).
L_INT L_MosaicBitmap(pBITMAPHANDLE b, L_INT nDim);
// Oil paint: each pixel takes the mean colour of the most frequent of 32 brightness bands
// in its n x n window (1..255).
L_INT L_OilifyBitmap(pBITMAPHANDLE b, L_INT nDim);
