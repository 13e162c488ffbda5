// Colour conversion pieces shared by ColorRes.cpp, Palette.cpp and Dither.cpp.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "BitmapInternal.h"

namespace lt::color {

// Reads rows of any depth as BGRA (palette resolved once, alpha as lt::ReadPixel gives it).
class RowReader {
public:
    explicit RowReader(const BITMAPHANDLE* b);
    void Read(int y, BGRA* out) const;

private:
    const BITMAPHANDLE* b_;
    BGRA lut_[256];
};

// The web-safe cube: 6 x 6 x 6 levels of 0, 51, .., 255, index r * 36 + g * 6 + b;
// entries 216 .. 255 black. Returns the number of real colours (216).
int NetscapePalette(RGBQUAD* pal);

// A palette of at most maxColors entries (1 .. 256) for the bitmap's colours; returns the
// number of entries written or an error code. When the bitmap has no more distinct colours
// than maxColors the palette holds exactly those colours.
int OptimizedPalette(const BITMAPHANDLE* b, int maxColors, RGBQUAD* pal);

// Exact nearest-colour search over a palette: the same answer as lt::NearestPaletteIndex
// (lowest index on ties) but through a 32K-cell cache keyed by 5-5-5 RGB. Each cell keeps
// the few entries that can be nearest to some colour inside it, built on first use.
class InverseMap {
public:
    InverseMap(const RGBQUAD* pal, int count);

    int Nearest(int r, int g, int b) {
        const unsigned cell = (unsigned(r >> 3) << 10) | (unsigned(g >> 3) << 5) | unsigned(b >> 3);
        uint32_t e = cells_[cell];
        if (e == 0) e = BuildCell(cell);
        const unsigned n = e & 0x1FFu;
        if (n == 1) return int(e >> 9);
        // Distance and index in one key: the smallest key is the nearest entry, and on
        // equal distances the lower index, without a branch per candidate.
        const Candidate* c = pool_.data() + (e >> 9);
        int best = (Dist(c[0], r, g, b) << 8) | c[0].index;
        for (unsigned i = 1; i < n; ++i)
            best = std::min(best, (Dist(c[i], r, g, b) << 8) | c[i].index);
        return best & 0xFF;
    }

    // The lowest index of an entry equal to the colour (0x00BBGGRR), or -1.
    int Exact(uint32_t rgb) const {
        // Most colours fall in a cell without any palette colour; a bit says so.
        const unsigned cell = ((rgb & 0xF8u) << 7) | ((rgb >> 6) & 0x3E0u) | ((rgb >> 19) & 0x1Fu);
        if (!(exactCells_[cell >> 5] & (1u << (cell & 31)))) return -1;
        uint32_t h = Hash(rgb);
        for (;;) {
            uint32_t k = exactKeys_[h];
            if (k == 0) return -1;
            if (k == rgb + 1) return exactIndex_[h];
            h = (h + 1) & (kExactSlots - 1);
        }
    }

    int Count() const { return count_; }
    const RGBQUAD* Palette() const { return pal_; }

private:
    struct Candidate { // four bytes keep the candidate lists of a whole photo in cache
        uint8_t r, g, b, index;
    };
    static int Dist(const Candidate& c, int r, int g, int b) {
        int dr = c.r - r, dg = c.g - g, db = c.b - b;
        return dr * dr + dg * dg + db * db;
    }
    static constexpr unsigned kExactSlots = 1024;
    static uint32_t Hash(uint32_t rgb) { return (rgb * 2654435761u) >> 22; }
    uint32_t BuildCell(unsigned cell);

    const RGBQUAD* pal_;
    int count_;
    std::vector<Candidate> unique_; // entries without repeats of an earlier colour
    std::vector<uint32_t> cells_;   // 0 = not built; else (index or pool offset) << 9 | count
    std::vector<Candidate> pool_;
    std::vector<int> scratch_;
    uint32_t exactCells_[1024] = {}; // a bit per 5-5-5 cell holding some palette colour
    uint32_t exactKeys_[kExactSlots] = {};
    uint8_t exactIndex_[kExactSlots] = {};
};

// Maps rows of colour to palette indices with one of the CRF_*DITHERING methods. Rows are
// given in order from the top. A pixel whose colour is in the palette always gets that
// entry and passes no error on, so flat areas of palette colours stay clean.
class Quantizer {
public:
    Quantizer(const RGBQUAD* pal, int count, int width, unsigned ditherMode);
    void Row(const BGRA* in, uint8_t* out, int y);

private:
    template <class K>
    void DiffuseRow(const BGRA* in, uint8_t* out, int y);
    void OrderedRow(const BGRA* in, uint8_t* out, int y);
    void PlainRow(const BGRA* in, uint8_t* out);

    InverseMap map_;
    int width_;
    unsigned mode_;
    std::vector<int32_t> err_; // rows of (width + 2 * kPad) pixels x 3 channels, ring buffer
    int orderedOffset_[64];
};

} // namespace lt::color
