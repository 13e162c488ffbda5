// What the processing functions share: the thread pool that runs bands of rows, the
// working pixel format of a bitmap (gray levels, blue-green-red or blue-green-red-alpha
// bytes) with its loading and region-confined storing of rows, and the window of source
// rows a neighbourhood filter reads while it overwrites the bitmap.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "ColorInternal.h"
#include "Processing.h"

// Hot row loops also get an AVX2 copy, chosen at load time where the processor has it.
#if defined(__x86_64__) && !defined(QUILLO_NO_CLONES)
#define QUILLO_ROW_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define QUILLO_ROW_KERNEL
#endif

namespace lt::proc {

// Common argument checks.
inline L_INT CheckBitmap(const BITMAPHANDLE* b) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    if (!lt::IsValidBpp(b->BitsPerPixel)) return ERROR_BITPERPIXEL;
    return SUCCESS;
}

// Gray level with the weights the toolkit uses everywhere (0.299, 0.587, 0.114 in 1/256).
inline unsigned Luma(unsigned r, unsigned g, unsigned b) {
    return (r * 77 + g * 150 + b * 29 + 128) >> 8;
}

inline uint8_t Clamp255(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// ---------------------------------------------------------------------------
// Bands of rows on the thread pool.

// Progress of one run of bands. The calling thread reports through the status callback
// (which may run the user interface, so only that thread calls it); every thread stops at
// the next row once the callback has cancelled.
class TBandRun {
public:
    explicit TBandRun(int totalRows) : total_(std::max(totalRows, 1)) {}
    // Counts finished rows; false when the run has been cancelled.
    bool Rows(int n);
    bool Cancelled() const { return status_.load(std::memory_order_relaxed) != SUCCESS; }
    L_INT Status() const { return status_.load(); }
    void Fail(L_INT code) {
        L_INT expected = SUCCESS;
        status_.compare_exchange_strong(expected, code);
    }
    // Called on the calling thread only.
    void Report();

    bool onCaller = false; // set per thread by the pool
private:
    int total_;
    std::atomic<int> done_{0};
    std::atomic<L_INT> status_{SUCCESS};
    int lastPct_ = -1;
};

// Band boundaries for `rows` rows: count + 1 values from 0 to rows, bands of at least
// minRows rows, one per thread at most.
std::vector<int> BandEdges(int rows, int minRows);

using TBandBody = std::function<L_INT(int band, int y0, int y1, TBandRun& run)>;
// Runs body on each band [edges[i], edges[i + 1]) offset by `first`, one of them on the
// calling thread. The body counts its rows with run.Rows and returns a status. Returns
// the first failure, the callback's cancellation code, or SUCCESS after reporting 100 %.
L_INT RunBands(const std::vector<int>& edges, int first, const TBandBody& body);
// The same over rows [first, last) with bands of at least minRows rows.
L_INT RunBands(int first, int last, int minRows, const TBandBody& body);

// Exceptions from allocation inside a body become ERROR_NO_MEMORY.
template <class F>
L_INT Guarded(F&& f) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
}

// ---------------------------------------------------------------------------
// Working format.

enum class TKind {
    Gray,    // 8-bit gray ramp: one byte, the level (stored pixels are the working bytes)
    Bgr,     // 24 bits as stored
    Bgra,    // 32 bits as stored; the alpha byte is never written back
    Palette, // 1, 4, 8 bits with another palette, and 16 bits: blue-green-red bytes
};

// True for an 8-bit bitmap whose palette is entry i = gray level i.
bool HasGrayRamp(const BITMAPHANDLE* b);

// The working pixel format of a bitmap and the conversion from it. Shared by the bands.
class TFormat {
public:
    // allowGray false works on gray-ramp images in blue-green-red too (for operations whose
    // result on a gray pixel need not be gray).
    explicit TFormat(const BITMAPHANDLE* b, bool allowGray = true);
    TKind Kind() const { return kind_; }
    int Channels() const { return channels_; } // bytes per working pixel
    const BITMAPHANDLE* Bitmap() const { return b_; }

    // Row y in working bytes (width * Channels()).
    void Load(int y, uint8_t* out) const;

private:
    const BITMAPHANDLE* b_;
    TKind kind_;
    int channels_;
    uint8_t lut_[256][3] = {};
};

// Writes working rows back into the bitmap: only pixels inside the region, never the alpha
// byte; palette bitmaps take the nearest entry. One per band (the nearest-colour search
// keeps a cache).
class TWriter {
public:
    explicit TWriter(const TFormat& fmt, pBITMAPHANDLE b);
    // Into `row` when given (a block of the bitmap's own being filled), else the bitmap's.
    void Store(int y, const uint8_t* in, uint8_t* row = nullptr);

private:
    const TFormat& fmt_;
    pBITMAPHANDLE b_;
    std::unique_ptr<lt::color::InverseMap> nearest_;
};

// The runs of row y to write, inside the bitmap and its region: f(x0, x1).
template <class F>
inline void ForRowSpans(const BITMAPHANDLE* b, int y, F&& f) {
    if (!b->pRgn) {
        f(0, b->Width);
        return;
    }
    auto [first, last] = b->pRgn->Row(y);
    for (const RgnSpan* s = first; s != last; ++s) {
        const int x0 = std::max(s->x0, 0), x1 = std::min(s->x1, b->Width);
        if (x0 < x1) f(x0, x1);
    }
}

// Whether row y has anything to write.
inline bool RowHasSpans(const BITMAPHANDLE* b, int y) {
    if (!b->pRgn) return true;
    bool any = false;
    ForRowSpans(b, y, [&](int, int) { any = true; });
    return any;
}

// The rows [y0, y1) that hold pixels to write (the region's bounds, or all rows).
void WrittenRows(const BITMAPHANDLE* b, int* y0, int* y1);

// ---------------------------------------------------------------------------
// Per-colour mappings on palettes.

// Applies a colour mapping to a palette bitmap: without a region the palette entries
// change; with one the palette stays and each pixel inside takes the entry nearest to
// its mapped colour.
L_INT MapPaletteColors(pBITMAPHANDLE b, const std::function<BGRA(BGRA)>& map);

// Colour bytes of 32-bit pixels with the alpha bytes of `alpha`, by default of what is
// already in dst.
void StoreKeepingAlpha(uint8_t* dst, const uint8_t* src, int n, const uint8_t* alpha = nullptr);

// A 32-bit pixel as a little-endian word: blue in the low byte, alpha in the high one.
inline uint32_t LoadWord(const uint8_t* p) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    return w;
}
inline void StoreWord(uint8_t* p, uint32_t w) { std::memcpy(p, &w, 4); }

// No in-place kernel for 32-bit pixels: ApplyPixels goes through its byte kernel.
struct TNoWordKernel {};

// Runs a per-pixel kernel over the pixels inside the region: kernel(in, out, n, channels)
// maps n pixels of `channels` working bytes (in may equal out; at 4 channels whatever it
// writes into the alpha bytes is dropped). Palette bitmaps of 1 to 8 bits get their
// colours mapped instead (MapPaletteColors); gray-ramp images run with 1 channel.
// words(px, n), when given, maps n 32-bit pixels (4 bytes each from px) in place and keeps
// their alpha byte itself: one pass over the row instead of a copy out and a masked store
// back.
template <class K, class W = TNoWordKernel>
L_INT ApplyPixels(pBITMAPHANDLE b, K&& kernel, bool allowGray = true, W&& words = {}) {
    constexpr bool kWords = !std::is_same_v<std::decay_t<W>, TNoWordKernel>;
    if (L_INT rc = CheckBitmap(b); rc != SUCCESS) return rc;
    const TFormat fmt(b, allowGray);
    if (fmt.Kind() == TKind::Palette && b->BitsPerPixel <= 8)
        return MapPaletteColors(b, [&](BGRA c) {
            uint8_t px[3] = {c.b, c.g, c.r};
            kernel(px, px, 1, 3);
            return BGRA{px[0], px[1], px[2], 255};
        });
    // 16-bit pixels are read and written through the format, from the bitmap itself.
    if (fmt.Kind() == TKind::Palette)
        if (L_INT rc = L_UnshareBitmap(b); rc != SUCCESS) return rc;
    TOwnRows own(b);
    if (!own.Ok()) return ERROR_NO_MEMORY;
    int first, last;
    WrittenRows(b, &first, &last);
    const L_INT status = RunBands(
        own.From(first), own.To(last), 32, [&](int, int y0, int y1, TBandRun& run) -> L_INT {
            return Guarded([&]() -> L_INT {
                const int c = fmt.Channels();
                constexpr int kChunk = 1024;
                std::vector<uint8_t> tmp;
                if (fmt.Kind() == TKind::Bgra && !kWords) tmp.resize(size_t(kChunk) * 4);
                if (fmt.Kind() == TKind::Palette) tmp.resize(size_t(b->Width) * 3);
                std::unique_ptr<TWriter> writer;
                if (fmt.Kind() == TKind::Palette) writer = std::make_unique<TWriter>(fmt, b);
                for (int y = y0; y < y1; ++y) {
                    uint8_t* row = own.Target(y);
                    const uint8_t* in = own.Source(y);
                    const bool outside = y < first || y >= last;
                    // With a region, rows start from a copy: only parts of them are written.
                    if (in != row && b->pRgn) {
                        own.Copy(y);
                        in = row;
                    }
                    if (outside) {
                        if (!run.Rows(1)) break;
                        continue;
                    }
                    switch (fmt.Kind()) {
                        case TKind::Gray:
                        case TKind::Bgr:
                            ForRowSpans(b, y, [&](int x0, int x1) {
                                kernel(in + x0 * c, row + x0 * c, x1 - x0, c);
                            });
                            if (in != row) own.Copy(y, size_t(b->Width) * size_t(c)); // padding
                            break;
                        case TKind::Bgra:
                            if (in != row) { // the whole row, into the block of our own
                                if constexpr (kWords) {
                                    // One copy of the row, then the word kernel on it (it
                                    // keeps alpha itself) while the row is in the cache.
                                    own.Copy(y);
                                    words(row, b->Width);
                                    break;
                                }
                                for (int x = 0; x < b->Width; x += kChunk) {
                                    const int n = std::min(kChunk, b->Width - x);
                                    kernel(in + x * 4, tmp.data(), n, 4);
                                    StoreKeepingAlpha(row + x * 4, tmp.data(), n, in + x * 4);
                                }
                                break;
                            }
                            ForRowSpans(b, y, [&](int x0, int x1) {
                                if constexpr (kWords) {
                                    words(row + x0 * 4, x1 - x0);
                                    return;
                                }
                                for (int x = x0; x < x1; x += kChunk) {
                                    const int n = std::min(kChunk, x1 - x);
                                    kernel(row + x * 4, tmp.data(), n, 4);
                                    StoreKeepingAlpha(row + x * 4, tmp.data(), n);
                                }
                            });
                            break;
                        case TKind::Palette: // 16 bits
                            if (!RowHasSpans(b, y)) break;
                            fmt.Load(y, tmp.data());
                            kernel(tmp.data(), tmp.data(), b->Width, 3);
                            writer->Store(y, tmp.data());
                            break;
                    }
                    if (!run.Rows(1)) break;
                }
                return SUCCESS;
            });
        });
    if (status == SUCCESS) own.Commit();
    return status;
}

// ---------------------------------------------------------------------------
// Neighbourhood filters.

// Source rows of a band, in working bytes with `pad` replicated pixels on each side, for
// a filter that reads rows y + lo .. y + hi to compute row y while the band overwrites its
// rows in order. Rows outside the band are copied before any band starts (Snapshot), since
// the neighbouring bands overwrite them meanwhile.
class TRowWindow {
public:
    TRowWindow(const TFormat& fmt, int width, int height, int lo, int hi, int pad);
    // Takes the copies of the rows outside [y0, y1) that the band reads.
    void Snapshot(int y0, int y1);
    // Loads what computing row y needs (rows are asked for in increasing y).
    void Advance(int y);
    // Row r (clamped to the image): a pointer to its first real pixel; the padding lies
    // before and after.
    const uint8_t* Row(int r) const;
    size_t PaddedBytes() const { return size_t(width_ + 2 * pad_) * size_t(channels_); }

private:
    void LoadPadded(int r, uint8_t* dst) const;

    const TFormat& fmt_;
    int width_, height_, lo_, hi_, pad_, channels_;
    int y0_ = 0, y1_ = 0;
    int ring_;
    std::vector<uint8_t> buf_;   // ring_ padded rows
    std::vector<int> loadedRow_; // which row each ring slot holds (-1: none)
    std::vector<uint8_t> above_; // rows [y0 + lo, y0), clamped
    std::vector<uint8_t> below_; // rows [y1, y1 + hi), clamped
    int aboveFirst_ = 0, belowFirst_ = 0, nAbove_ = 0, nBelow_ = 0;
    int next_ = 0; // the next row to load into the ring
};

// Runs a neighbourhood filter: for each written row y, rowFn(window, y, out) fills `out`
// (width * channels working bytes) from the window, and the row is stored inside the
// region. makeState() gives each band its own scratch state, passed to rowFn.
template <class State>
L_INT RunWindowFilter(pBITMAPHANDLE b, const TFormat& fmt, int lo, int hi, int pad,
                      const std::function<State()>& makeState,
                      const std::function<void(State&, const TRowWindow&, int, uint8_t*)>& rowFn) {
    return Guarded([&]() -> L_INT {
        int first, last;
        WrittenRows(b, &first, &last);
        if (first >= last) return SUCCESS;
        // A shared bitmap is read from its block and written into one of its own.
        TOwnRows own(b);
        if (!own.Ok()) return ERROR_NO_MEMORY;
        for (int y = 0; y < first; ++y) own.Copy(y);
        for (int y = last; y < b->Height; ++y) own.Copy(y);
        const int minRows = std::max(16, 2 * std::max(-lo, hi) + 1);
        const std::vector<int> edges = BandEdges(last - first, minRows);
        std::vector<std::unique_ptr<TRowWindow>> windows;
        for (size_t i = 0; i + 1 < edges.size(); ++i) {
            windows.push_back(std::make_unique<TRowWindow>(fmt, b->Width, b->Height, lo, hi, pad));
            windows.back()->Snapshot(first + edges[i], first + edges[i + 1]);
        }
        const L_INT status =
            RunBands(edges, first, [&](int band, int y0, int y1, TBandRun& run) -> L_INT {
                return Guarded([&]() -> L_INT {
                    TRowWindow& win = *windows[size_t(band)];
                    TWriter writer(fmt, b);
                    State state = makeState();
                    std::vector<uint8_t> out(size_t(b->Width) * size_t(fmt.Channels()));
                    for (int y = y0; y < y1; ++y) {
                        win.Advance(y);
                        own.Copy(y); // the pixels the row does not write
                        if (RowHasSpans(b, y)) {
                            rowFn(state, win, y, out.data());
                            writer.Store(y, out.data(), own.Target(y));
                        }
                        if (!run.Rows(1)) break;
                    }
                    return SUCCESS;
                });
            });
        if (status == SUCCESS) own.Commit();
        return status;
    });
}

} // namespace lt::proc
