// Renders PostScript with Ghostscript in a child process: PostScript is a programming
// language, and a hostile file must never run inside the editor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lt::codec {

struct RenderLimits {
    int seconds = 10;                           // wall-clock time the interpreter may take
    uint64_t memoryBytes = uint64_t(512) << 20; // its address space
};

// Renders the first page of a PostScript program at 72 dpi into a 24-bit BMP file image in
// `bmp`: a page of `width` x `height` points whose bottom left corner is the point (x, y) of
// the program's own coordinates, white where nothing is drawn. The interpreter runs with
// -dSAFER, without a shell, with a private temporary folder as its only writable place (it is
// removed afterwards), and is killed when it passes the limits; it may write at most
// `maxOutput` bytes. Returns SUCCESS; ERROR_NO_GHOSTSCRIPT when the interpreter is not
// installed; ERROR_FILE_FORMAT when it fails, is killed or writes nothing; ERROR_FILE_WRITE or
// ERROR_FILE_READ for trouble with the temporary files.
// The interpreter is `gs` on the PATH, or the program QUILLO_GHOSTSCRIPT names.
int RenderPostScript(const uint8_t* ps, size_t size, int x, int y, int width, int height,
                     const RenderLimits& limits, uint64_t maxOutput, std::vector<uint8_t>& bmp);

} // namespace lt::codec
