// Palette files (".pal", the RIFF palette other paint programs read and write) and the
// built-in 256-colour table of the "Sierra" palette choice.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Toolkit.h"

// The most entries a palette file gives; later ones are ignored.
constexpr int kMaxPaletteEntries = 256;

// Reads the entries of a palette file held in memory into `entries` (colour-table order,
// reserved byte 0). Returns the entry count (1..256; a file with more gives its first 256),
// or -1 when the bytes are not a palette file or hold fewer entries than they claim. With a
// capacity smaller than the count, the count is returned and nothing is copied.
int ReadPaletteMemory(const uint8_t* data, size_t size, RGBQUAD* entries, int capacity);
// The same for a file; -1 as well when it cannot be read.
int ReadPaletteFile(const char* fileName, RGBQUAD* entries, int capacity);
// Writes count (1..256) entries as a palette file. The file is replaced only when the whole
// new one could be written; false otherwise.
bool WritePaletteFile(const char* fileName, const RGBQUAD* entries, int count);

// The "Sierra" table: 236 colours, entries 236..255 black.
const RGBQUAD* SierraPalette();
