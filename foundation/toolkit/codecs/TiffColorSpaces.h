// File rows of the TIFF colour spaces other than RGB, made from bitmap rows of 24 or 32
// bits (blue, green, red, alpha).
#pragma once

#include <cstdint>

namespace lt::codec::tiffrows {

// Ink amounts C, M, Y, K (and the alpha when `alpha`) of `width` pixels `step` bytes apart.
// Black takes all it can (K = 255 - the brightest channel), so reading the inks back as
// (255 - C)(255 - K) / 255 and so on gives every colour exactly.
void Cmyk(const uint8_t* src, int width, int step, bool alpha, uint8_t* dst);

// Full-range YCbCr as JPEG defines it, every pixel with its own chroma.
void YCbCr(const uint8_t* src, int width, int step, uint8_t* dst);

} // namespace lt::codec::tiffrows
