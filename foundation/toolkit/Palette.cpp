// Palettes: the fixed ones, the optimized one built from an image, the nearest-colour
// cache, colour-table access and paint palettes.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "ColorInternal.h"

namespace {

// Level i of n spread evenly over 0..255, rounded.
uint8_t Level(int i, int n) { return uint8_t((i * 255 + (n - 1) / 2) / (n - 1)); }

RGBQUAD Quad(int r, int g, int b) { return RGBQUAD{uint8_t(b), uint8_t(g), uint8_t(r), 0}; }

} // namespace

L_INT L_GetFixedPalette(RGBQUAD* pPalette, L_INT nBitsPerPixel) {
    if (!pPalette) return ERROR_INV_PARAMETER;
    switch (nBitsPerPixel) {
        case 1:
            pPalette[0] = Quad(0, 0, 0);
            pPalette[1] = Quad(255, 255, 255);
            return SUCCESS;
        case 4: {
            // The sixteen colours every display of the 4-bit era could show, in their usual order.
            static const uint8_t vga[16][3] = {
                {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
            };
            for (int i = 0; i < 16; ++i) pPalette[i] = Quad(vga[i][0], vga[i][1], vga[i][2]);
            return SUCCESS;
        }
        case 8:
            // 3-3-2: a colour's nearest entry is found channel by channel.
            for (int i = 0; i < 256; ++i)
                pPalette[i] = Quad(Level(i >> 5, 8), Level((i >> 2) & 7, 8), Level(i & 3, 4));
            return SUCCESS;
        default: return ERROR_BITPERPIXEL;
    }
}

// Bitmaps deeper than 8 bits have no colour table: both calls refuse them with
// ERROR_BITPERPIXEL. Indices are checked against the 2^bpp entries of the depth.
L_INT L_GetBitmapColors(const BITMAPHANDLE* b, L_INT nIndex, L_INT nCount, RGBQUAD* pPalette) {
    if (!b) return ERROR_NO_BITMAP;
    if (b->BitsPerPixel > 8 || !lt::IsValidBpp(b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    if (!b->pPalette) return ERROR_NO_BITMAP;
    if (!pPalette) return ERROR_INV_PARAMETER;
    const int64_t n = int64_t(1) << b->BitsPerPixel;
    if (nIndex < 0 || nCount < 0 || int64_t(nIndex) + nCount > n) return ERROR_INV_RANGE;
    std::memcpy(pPalette, b->pPalette + nIndex, sizeof(RGBQUAD) * size_t(nCount));
    return SUCCESS;
}

L_INT L_PutBitmapColors(pBITMAPHANDLE b, L_INT nIndex, L_INT nCount, const RGBQUAD* pPalette) {
    if (!b) return ERROR_NO_BITMAP;
    if (b->BitsPerPixel > 8 || !lt::IsValidBpp(b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    if (!b->pPalette) return ERROR_NO_BITMAP;
    if (!pPalette) return ERROR_INV_PARAMETER;
    const int64_t n = int64_t(1) << b->BitsPerPixel;
    if (nIndex < 0 || nCount < 0 || int64_t(nIndex) + nCount > n) return ERROR_INV_RANGE;
    std::memmove(b->pPalette + nIndex, pPalette, sizeof(RGBQUAD) * size_t(nCount));
    return SUCCESS;
}

HPALETTE L_CreatePaintPalette(LDEVICE* hDC, const BITMAPHANDLE* b) {
    (void)hDC; // the software device realises any palette; nothing to ask it
    if (!b) return nullptr;
    auto* p = new (std::nothrow) LPAINTPALETTE;
    if (!p) return nullptr;
    const int bpp = b->BitsPerPixel;
    if ((bpp == 1 || bpp == 4 || bpp == 8) && b->pPalette) {
        p->nColors = 1u << bpp;
        std::memcpy(p->Entries, b->pPalette, sizeof(RGBQUAD) * p->nColors);
    } else {
        L_GetFixedPalette(p->Entries, 8);
        p->nColors = 256;
    }
    return p;
}

void L_DeletePaintPalette(HPALETTE hPalette) { delete hPalette; }

namespace lt::color {

int NetscapePalette(RGBQUAD* pal) {
    int i = 0;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b) pal[i++] = Quad(r * 51, g * 51, b * 51);
    for (; i < 256; ++i) pal[i] = Quad(0, 0, 0);
    return 216;
}

// ---------------------------------------------------------------------------
// Nearest-colour cache.

InverseMap::InverseMap(const RGBQUAD* pal, int count)
    : pal_(pal), count_(std::clamp(count, 1, 256)) {
    cells_.assign(32768, 0);
    pool_.reserve(32768);
    for (int i = 0; i < count_; ++i) {
        const uint32_t key =
            pal[i].rgbRed | (uint32_t(pal[i].rgbGreen) << 8) | (uint32_t(pal[i].rgbBlue) << 16);
        const unsigned cell = (unsigned(pal[i].rgbRed >> 3) << 10) |
                              (unsigned(pal[i].rgbGreen >> 3) << 5) | unsigned(pal[i].rgbBlue >> 3);
        exactCells_[cell >> 5] |= 1u << (cell & 31);
        uint32_t h = Hash(key);
        bool repeat = false;
        for (;;) {
            if (exactKeys_[h] == 0) {
                exactKeys_[h] = key + 1;
                exactIndex_[h] = uint8_t(i);
                break;
            }
            if (exactKeys_[h] == key + 1) {
                repeat = true;
                break;
            }
            h = (h + 1) & (kExactSlots - 1);
        }
        // A repeated colour can never be the lowest-index nearest entry.
        if (!repeat)
            unique_.push_back(
                Candidate{pal[i].rgbRed, pal[i].rgbGreen, pal[i].rgbBlue, uint8_t(i)});
    }
    scratch_.resize(unique_.size());
}

uint32_t InverseMap::BuildCell(unsigned cell) {
    const int lo[3] = {int(cell >> 10) << 3, int((cell >> 5) & 31u) << 3, int(cell & 31u) << 3};
    // An entry can be nearest to some colour of the cell only if its closest approach to the
    // cell is no farther than the best guaranteed distance of any entry (its farthest corner).
    int bound = INT_MAX;
    for (size_t i = 0; i < unique_.size(); ++i) {
        const Candidate& c = unique_[i];
        const int p[3] = {c.r, c.g, c.b};
        int near = 0, far = 0;
        for (int k = 0; k < 3; ++k) {
            const int l = lo[k], h = lo[k] + 7;
            const int dn = p[k] < l ? l - p[k] : (p[k] > h ? p[k] - h : 0);
            const int df = std::max(std::abs(p[k] - l), std::abs(p[k] - h));
            near += dn * dn;
            far += df * df;
        }
        scratch_[i] = near;
        bound = std::min(bound, far);
    }
    const size_t offset = pool_.size();
    for (size_t i = 0; i < unique_.size(); ++i)
        if (scratch_[i] <= bound) pool_.push_back(unique_[i]);
    const size_t n = pool_.size() - offset;
    uint32_t v;
    if (n == 1) {
        v = (uint32_t(pool_.back().index) << 9) | 1u;
        pool_.pop_back();
    } else {
        v = (uint32_t(offset) << 9) | uint32_t(n);
    }
    cells_[cell] = v;
    return v;
}

// ---------------------------------------------------------------------------
// Optimized palettes.

namespace {

uint32_t Key(const BGRA& c) { return c.r | (uint32_t(c.g) << 8) | (uint32_t(c.b) << 16); }

// Collects the distinct colours of the bitmap into pal while there are at most maxColors.
// Returns their number, or -1 when there are more.
int DistinctColours(const BITMAPHANDLE* b, int maxColors, RGBQUAD* pal) {
    int n = 0;
    auto add = [&](uint32_t* keys, unsigned mask, uint32_t key) {
        uint32_t h = (key * 2654435761u) >> 20 & mask;
        for (;;) {
            if (keys[h] == key + 1) return true;
            if (keys[h] == 0) break;
            h = (h + 1) & mask;
        }
        if (n == maxColors) return false;
        keys[h] = key + 1;
        pal[n++] = Quad(int(key & 0xFF), int((key >> 8) & 0xFF), int(key >> 16));
        return true;
    };
    std::vector<uint32_t> keys(4096, 0);
    const unsigned mask = 4095;
    if (b->BitsPerPixel <= 8) {
        // Only the entries the pixels use count.
        bool used[256] = {};
        for (int y = 0; y < b->Height; ++y) {
            const uint8_t* row = L_RowPtr(b, y);
            for (int x = 0; x < b->Width; ++x) used[lt::ReadIndex(row, x, b->BitsPerPixel)] = true;
        }
        for (int i = 0; i < (1 << b->BitsPerPixel); ++i) {
            if (!used[i]) continue;
            const RGBQUAD q = b->pPalette ? b->pPalette[i] : RGBQUAD{};
            if (!add(keys.data(), mask,
                     q.rgbRed | (uint32_t(q.rgbGreen) << 8) | (uint32_t(q.rgbBlue) << 16)))
                return -1;
        }
        return n;
    }
    RowReader reader(b);
    std::vector<BGRA> row(static_cast<size_t>(b->Width));
    uint32_t last = 0xFFFFFFFFu;
    for (int y = 0; y < b->Height; ++y) {
        reader.Read(y, row.data());
        for (int x = 0; x < b->Width; ++x) {
            const uint32_t key = Key(row[size_t(x)]);
            if (key == last) continue;
            last = key;
            if (!add(keys.data(), mask, key)) return -1;
        }
    }
    return n;
}

// Colour statistics of one 5-5-5 cell.
struct CellStats {
    uint64_t n = 0, r = 0, g = 0, b = 0;
    double q = 0; // sum of squared channel values
};

std::vector<CellStats> Histogram(const BITMAPHANDLE* b) {
    std::vector<CellStats> h(32768);
    RowReader reader(b);
    std::vector<BGRA> row(static_cast<size_t>(b->Width));
    // Counts and sums are kept in integers per cell; the square sum per cell fits 64 bits
    // for any image the limits allow (2^28 pixels x 3 x 255^2 < 2^48).
    std::vector<uint64_t> sq(32768, 0);
    for (int y = 0; y < b->Height; ++y) {
        reader.Read(y, row.data());
        for (int x = 0; x < b->Width; ++x) {
            const BGRA c = row[size_t(x)];
            const unsigned i =
                (unsigned(c.r >> 3) << 10) | (unsigned(c.g >> 3) << 5) | unsigned(c.b >> 3);
            CellStats& s = h[i];
            ++s.n;
            s.r += c.r;
            s.g += c.g;
            s.b += c.b;
            sq[i] += uint64_t(c.r * c.r + c.g * c.g + c.b * c.b);
        }
    }
    for (size_t i = 0; i < h.size(); ++i) h[i].q = double(sq[i]);
    return h;
}

// Variance-minimising box splitting over cumulative colour moments: a box of cells is cut
// where the two halves' squared-sum-over-weight gain is largest, always the box with the
// most variance next.
class BoxSplitter {
public:
    explicit BoxSplitter(const std::vector<CellStats>& hist) : m_(size_t(kSide) * kSide * kSide) {
        for (int r = 1; r < kSide; ++r)
            for (int g = 1; g < kSide; ++g)
                for (int b = 1; b < kSide; ++b) {
                    const CellStats& s = hist[size_t(((r - 1) << 10) | ((g - 1) << 5) | (b - 1))];
                    Moment& d = m_[At(r, g, b)];
                    d = Moment{double(s.n), double(s.r), double(s.g), double(s.b), s.q};
                }
        // Three-dimensional running sums, one axis at a time.
        for (int r = 1; r < kSide; ++r)
            for (int g = 1; g < kSide; ++g)
                for (int b = 1; b < kSide; ++b) m_[At(r, g, b)] += m_[At(r, g, b - 1)];
        for (int r = 1; r < kSide; ++r)
            for (int g = 1; g < kSide; ++g)
                for (int b = 1; b < kSide; ++b) m_[At(r, g, b)] += m_[At(r, g - 1, b)];
        for (int r = 1; r < kSide; ++r)
            for (int g = 1; g < kSide; ++g)
                for (int b = 1; b < kSide; ++b) m_[At(r, g, b)] += m_[At(r - 1, g, b)];
    }

    // Returns the mean colours of at most k boxes.
    int Split(int k, RGBQUAD* pal) {
        std::vector<Box> boxes;
        std::vector<double> spread;
        boxes.push_back(Box{{0, 0, 0}, {32, 32, 32}});
        spread.push_back(Variance(boxes[0]));
        while (int(boxes.size()) < k) {
            size_t next = size_t(std::max_element(spread.begin(), spread.end()) - spread.begin());
            if (spread[next] <= 0) break;
            Box other;
            if (!Cut(boxes[next], other)) {
                spread[next] = 0;
                continue;
            }
            boxes.push_back(other);
            spread[next] = Variance(boxes[next]);
            spread.push_back(Variance(boxes.back()));
        }
        int n = 0;
        for (const Box& b : boxes) {
            Moment s = Sum(b);
            if (s.w <= 0) continue;
            pal[n++] = Quad(int(s.r / s.w + 0.5), int(s.g / s.w + 0.5), int(s.b / s.w + 0.5));
        }
        return n;
    }

private:
    static constexpr int kSide = 33;
    struct Moment {
        double w = 0, r = 0, g = 0, b = 0, q = 0;
        Moment& operator+=(const Moment& o) {
            w += o.w;
            r += o.r;
            g += o.g;
            b += o.b;
            q += o.q;
            return *this;
        }
        Moment operator-(const Moment& o) const {
            return Moment{w - o.w, r - o.r, g - o.g, b - o.b, q - o.q};
        }
        Moment operator+(const Moment& o) const {
            return Moment{w + o.w, r + o.r, g + o.g, b + o.b, q + o.q};
        }
    };
    struct Box {
        int lo[3]; // exclusive
        int hi[3]; // inclusive
    };
    static size_t At(int r, int g, int b) { return size_t((r * kSide + g) * kSide + b); }

    Moment Sum(const Box& x) const {
        const int r0 = x.lo[0], g0 = x.lo[1], b0 = x.lo[2], r1 = x.hi[0], g1 = x.hi[1],
                  b1 = x.hi[2];
        return m_[At(r1, g1, b1)] - m_[At(r1, g1, b0)] - m_[At(r1, g0, b1)] + m_[At(r1, g0, b0)] -
               m_[At(r0, g1, b1)] + m_[At(r0, g1, b0)] + m_[At(r0, g0, b1)] - m_[At(r0, g0, b0)];
    }
    // Sum of squared distances to the box mean; zero for a single cell, which cannot be cut.
    double Variance(const Box& x) const {
        if (x.hi[0] - x.lo[0] == 1 && x.hi[1] - x.lo[1] == 1 && x.hi[2] - x.lo[2] == 1) return 0;
        Moment s = Sum(x);
        if (s.w <= 0) return 0;
        return s.q - (s.r * s.r + s.g * s.g + s.b * s.b) / s.w;
    }
    bool Cut(Box& a, Box& b) const {
        const Moment whole = Sum(a);
        double best = -1;
        int bestAxis = -1, bestPos = 0;
        for (int axis = 0; axis < 3; ++axis) {
            for (int pos = a.lo[axis] + 1; pos < a.hi[axis]; ++pos) {
                Box half = a;
                half.hi[axis] = pos;
                const Moment lower = Sum(half);
                if (lower.w <= 0) continue;
                const Moment upper = whole - lower;
                if (upper.w <= 0) break;
                const double score =
                    (lower.r * lower.r + lower.g * lower.g + lower.b * lower.b) / lower.w +
                    (upper.r * upper.r + upper.g * upper.g + upper.b * upper.b) / upper.w;
                if (score > best) {
                    best = score;
                    bestAxis = axis;
                    bestPos = pos;
                }
            }
        }
        if (bestAxis < 0) return false;
        b = a;
        a.hi[bestAxis] = bestPos;
        b.lo[bestAxis] = bestPos;
        return true;
    }

    std::vector<Moment> m_;
};

// A few rounds of moving each entry to the mean of the cells nearest to it; the box cuts
// are axis-aligned, so this recovers a good part of the error they leave.
void Refine(const std::vector<CellStats>& hist, RGBQUAD* pal, int n, int rounds) {
    struct Point {
        float r, g, b;
        uint32_t cell;
    };
    std::vector<Point> points;
    for (uint32_t i = 0; i < hist.size(); ++i) {
        const CellStats& s = hist[i];
        if (!s.n) continue;
        const double inv = 1.0 / double(s.n);
        points.push_back(
            Point{float(double(s.r) * inv), float(double(s.g) * inv), float(double(s.b) * inv), i});
    }
    std::vector<double> acc(size_t(n) * 4);
    std::vector<float> centre(size_t(n) * 3);
    for (int round = 0; round < rounds; ++round) {
        for (int j = 0; j < n; ++j) {
            centre[size_t(j) * 3] = pal[j].rgbRed;
            centre[size_t(j) * 3 + 1] = pal[j].rgbGreen;
            centre[size_t(j) * 3 + 2] = pal[j].rgbBlue;
        }
        std::fill(acc.begin(), acc.end(), 0.0);
        for (const Point& p : points) {
            int best = 0;
            float bestDist = 1e30f;
            for (int j = 0; j < n; ++j) {
                const float dr = centre[size_t(j) * 3] - p.r, dg = centre[size_t(j) * 3 + 1] - p.g,
                            db = centre[size_t(j) * 3 + 2] - p.b;
                const float d = dr * dr + dg * dg + db * db;
                if (d < bestDist) {
                    bestDist = d;
                    best = j;
                }
            }
            const CellStats& s = hist[p.cell];
            double* a = &acc[size_t(best) * 4];
            a[0] += double(s.n);
            a[1] += double(s.r);
            a[2] += double(s.g);
            a[3] += double(s.b);
        }
        for (int j = 0; j < n; ++j) {
            const double* a = &acc[size_t(j) * 4];
            if (a[0] <= 0) continue; // keep an entry no cell chose
            pal[j] = Quad(int(a[1] / a[0] + 0.5), int(a[2] / a[0] + 0.5), int(a[3] / a[0] + 0.5));
        }
    }
}

} // namespace

int OptimizedPalette(const BITMAPHANDLE* b, int maxColors, RGBQUAD* pal) {
    maxColors = std::clamp(maxColors, 1, 256);
    for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{};
    int n = DistinctColours(b, maxColors, pal);
    if (n > 0) return n;
    for (int i = 0; i < 256; ++i) pal[i] = RGBQUAD{};
    std::vector<CellStats> hist = Histogram(b);
    n = BoxSplitter(hist).Split(maxColors, pal);
    Refine(hist, pal, n, 2);
    return std::max(n, 1);
}

} // namespace lt::color
