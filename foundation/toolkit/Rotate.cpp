// Rotation by any angle (hundredths of a degree), nearest-neighbour or bilinear.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <vector>

#include "GeometryInternal.h"
#include "processing/ProcessingInternal.h"

using namespace lt::geom;

namespace {

using lt::BGRA;

// ---------------------------------------------------------------------------
// Rotation: each destination pixel centre is carried back into the source. Coordinates
// are 32.32 fixed point stepped along a row; for quarter turns every value involved is a
// multiple of one half, so those rotations are exact pixel moves.

// The hot loops also get an AVX2 copy, chosen at load time where the processor has it.
#if defined(__x86_64__) && !defined(QUILLO_NO_CLONES)
#define ROTATE_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define ROTATE_KERNEL
#endif

constexpr int64_t kOne = int64_t(1) << 32;

int64_t ToFixed(double v) { return std::llround(v * 4294967296.0); }

int64_t FloorDiv(int64_t a, int64_t b) { // b > 0
    int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}
int64_t CeilDiv(int64_t a, int64_t b) { return -FloorDiv(-a, b); }

// Narrows [*x0, *x1) to the columns x where floor(u0 + x * du) lies in [lo, hi].
void Clip(int64_t u0, int64_t du, int64_t lo, int64_t hi, int* x0, int* x1) {
    int64_t first = 0, last = 0;
    if (hi >= lo) {
        const int64_t a = lo * kOne, b = (hi + 1) * kOne; // want a <= u < b
        if (du == 0) {
            first = 0;
            last = (u0 >= a && u0 < b) ? INT32_MAX : 0;
        } else if (du > 0) {
            first = CeilDiv(a - u0, du);
            last = CeilDiv(b - u0, du);
        } else {
            first = FloorDiv(u0 - b, -du) + 1;
            last = FloorDiv(u0 - a, -du) + 1;
        }
    }
    // The result stays inside the old range even when empty, so callers can fill around it.
    const int64_t lo0 = *x0, hi0 = *x1;
    *x0 = int(std::clamp<int64_t>(first, lo0, hi0));
    *x1 = int(std::clamp<int64_t>(last, *x0, hi0));
}

// Destination pixel (x, y) samples the source at (U(y) + x * du, V(y) + x * dv), where
// pixel i covers [i, i + 1). Positive angles turn the image clockwise on screen.
struct Rotation {
    double c, s;               // cosine and sine of the angle
    double scx, scy, dcx, dcy; // source and destination centres
    int64_t du, dv;

    Rotation(double cosA, double sinA, const BITMAPHANDLE* src, int dstW, int dstH)
        : c(cosA),
          s(sinA),
          scx(src->Width / 2.0),
          scy(src->Height / 2.0),
          dcx(dstW / 2.0),
          dcy(dstH / 2.0),
          du(ToFixed(cosA)),
          dv(ToFixed(-sinA)) {}
    int64_t U(int y) const { return ToFixed(scx + c * (0.5 - dcx) + s * (y + 0.5 - dcy)); }
    int64_t V(int y) const { return ToFixed(scy - s * (0.5 - dcx) + c * (y + 0.5 - dcy)); }
};

// Rotations read the source along slanted lines, across many rows at once. Working in
// bands of destination rows and, within a band, in short runs of columns keeps the source
// lines one run touches in the cache for the band's next rows (a quarter turn of a large
// bitmap is several times faster this way).
constexpr int kBand = 16, kRun = 128;

// Runs rows(y0, y1) over the destination in bands of kBand rows. With progress, the rows are
// shared out among the processing threads, each with its own `rows` from makeRows(); the
// callback sees the progress and may cancel. Without (the region's mask), one thread.
template <class MakeRows>
L_INT ForEachBand(int height, bool progress, MakeRows&& makeRows) {
    if (!progress) {
        auto rows = makeRows();
        for (int y0 = 0; y0 < height; y0 += kBand) rows(y0, std::min(height, y0 + kBand));
        return SUCCESS;
    }
    const auto band = [&](int, int t0, int t1, lt::proc::TBandRun& run) -> L_INT {
        return lt::proc::Guarded([&]() -> L_INT {
            auto rows = makeRows();
            for (int y0 = t0; y0 < t1; y0 += kBand) {
                const int y1 = std::min(t1, y0 + kBand);
                rows(y0, y1);
                if (!run.Rows(y1 - y0)) break;
            }
            return SUCCESS;
        });
    };
    // A small picture is not worth a second thread, and on one thread its progress reports
    // (and so where a cancel lands) come in a fixed order.
    constexpr int kRowsPerThread = 256;
    const L_INT rc = lt::proc::RunBands(0, height, kRowsPerThread, band);
    // The bands fail only for memory; anything else is the callback's cancel.
    return rc == SUCCESS || rc == ERROR_NO_MEMORY ? rc : ERROR_USER_ABORT;
}

L_INT RotateNearest(const BITMAPHANDLE* s, BITMAPHANDLE* d, const Rotation& m, const uint8_t* fill,
                    bool progress) {
    const std::vector<const uint8_t*> rows = RowTable(s);
    return WithPixelType(s->BitsPerPixel, [&](auto px) -> L_INT {
        using P = decltype(px);
        return ForEachBand(d->Height, progress, [&] {
            return [&](int y0, int y1) {
                int64_t u[kBand], v[kBand];
                int x0[kBand], x1[kBand];
                for (int y = y0; y < y1; ++y) {
                    const int i = y - y0;
                    u[i] = m.U(y);
                    v[i] = m.V(y);
                    x0[i] = 0;
                    x1[i] = d->Width;
                    Clip(u[i], m.du, 0, s->Width - 1, &x0[i], &x1[i]);
                    Clip(v[i], m.dv, 0, s->Height - 1, &x0[i], &x1[i]);
                    uint8_t* dr = L_RowPtr(d, y);
                    SetRun<P>(dr, 0, x0[i], fill);
                    SetRun<P>(dr, x1[i], d->Width, fill);
                }
                for (int xa = 0; xa < d->Width; xa += kRun) {
                    const int xb = std::min(d->Width, xa + kRun);
                    for (int y = y0; y < y1; ++y) {
                        const int i = y - y0, from = std::max(xa, x0[i]), to = std::min(xb, x1[i]);
                        uint8_t* dr = L_RowPtr(d, y);
                        int64_t uu = u[i] + from * m.du, vv = v[i] + from * m.dv;
                        for (int x = from; x < to; ++x, uu += m.du, vv += m.dv)
                            P::Copy(dr, x, rows[size_t(vv >> 32)], int(uu >> 32));
                    }
                }
            };
        });
    });
}

inline void Bilinear(uint8_t* out, const uint8_t* p00, const uint8_t* p01, const uint8_t* p10,
                     const uint8_t* p11, unsigned fx, unsigned fy) {
    const unsigned w00 = (256 - fx) * (256 - fy), w01 = fx * (256 - fy), w10 = (256 - fx) * fy,
                   w11 = fx * fy;
    for (int c = 0; c < 4; ++c)
        out[c] =
            uint8_t((p00[c] * w00 + p01[c] * w01 + p10[c] * w10 + p11[c] * w11 + 32768u) >> 16);
}

// The same for a run of pixels whose four taps all lie inside the source (rows: every row
// of it), each pixel stored as one word. In two steps, across then down: the same sum as
// the four weights above, and fewer multiplies.
ROTATE_KERNEL void BilinearRun(const uint8_t* const* rows, int64_t u, int64_t v, int64_t du,
                               int64_t dv, uint8_t* out, int n) {
    for (int x = 0; x < n; ++x, u += du, v += dv) {
        const uint8_t* p = rows[v >> 32] + size_t(u >> 32) * 4;
        const uint8_t* q = rows[(v >> 32) + 1] + size_t(u >> 32) * 4;
        const uint32_t fx = uint32_t(u >> 24) & 255u, fy = uint32_t(v >> 24) & 255u;
        uint32_t word = 0;
        for (int c = 0; c < 4; ++c) {
            const uint32_t top = p[c] * (256 - fx) + p[c + 4] * fx,
                           bottom = q[c] * (256 - fx) + q[c + 4] * fx;
            word |= ((top * (256 - fy) + bottom * fy + 32768u) >> 16) << (8 * c);
        }
        std::memcpy(out + 4 * size_t(x), &word, 4);
    }
}

void FillRun(uint8_t* out, int n, const uint8_t* fill) {
    uint32_t word;
    std::memcpy(&word, fill, 4);
    for (int x = 0; x < n; ++x) std::memcpy(out + 4 * size_t(x), &word, 4);
}

// Bilinear rotation. Samples outside the source count as the fill colour, so the edges of
// the rotated image blend smoothly into the fill (and, at 32 bits, into transparency).
L_INT RotateBilinear(const BITMAPHANDLE* s, BITMAPHANDLE* d, const Rotation& m, const uint8_t* fill,
                     bool progress) {
    // Every row of the source is held as colour, so the threads only read it.
    ColorRows rows(s, s->Height);
    const uint8_t* const* table = rows.Table();
    const bool direct = d->BitsPerPixel == 32;
    const int sw = s->Width, sh = s->Height;
    auto tap = [&](int ix, int iy) -> const uint8_t* {
        return (ix >= 0 && ix < sw && iy >= 0 && iy < sh) ? table[iy] + size_t(ix) * 4 : fill;
    };
    return ForEachBand(d->Height, progress, [&] {
        // Each thread converts its rows to the destination's depth in its own buffer.
        return [&, enc = RowEncoder(d),
                outBuf = std::vector<uint8_t>(direct ? 0 : size_t(d->Width) * 4 * kBand)](
                   int y0, int y1) mutable {
            // Per row: sample positions relative to source pixel centres; [o0, o1) has any of
            // the four taps inside the source, [i0, i1) all four.
            int64_t u[kBand], v[kBand];
            int o0[kBand], o1[kBand], i0[kBand], i1[kBand];
            uint8_t* out[kBand];
            for (int y = y0; y < y1; ++y) {
                const int i = y - y0;
                u[i] = m.U(y) - kOne / 2;
                v[i] = m.V(y) - kOne / 2;
                o0[i] = 0;
                o1[i] = d->Width;
                Clip(u[i], m.du, -1, sw - 1, &o0[i], &o1[i]);
                Clip(v[i], m.dv, -1, sh - 1, &o0[i], &o1[i]);
                i0[i] = o0[i];
                i1[i] = o1[i];
                Clip(u[i], m.du, 0, sw - 2, &i0[i], &i1[i]);
                Clip(v[i], m.dv, 0, sh - 2, &i0[i], &i1[i]);
                if (i0[i] >= i1[i]) i0[i] = i1[i] = o0[i];
                out[i] = direct ? L_RowPtr(d, y) : outBuf.data() + size_t(i) * size_t(d->Width) * 4;
                FillRun(out[i], o0[i], fill);
                FillRun(out[i] + size_t(o1[i]) * 4, d->Width - o1[i], fill);
            }
            for (int xa = 0; xa < d->Width; xa += kRun) {
                const int xb = std::min(d->Width, xa + kRun);
                for (int y = y0; y < y1; ++y) {
                    const int i = y - y0;
                    auto edge = [&](int from, int to) {
                        from = std::max(from, xa);
                        to = std::min(to, xb);
                        int64_t uu = u[i] + from * m.du, vv = v[i] + from * m.dv;
                        for (int x = from; x < to; ++x, uu += m.du, vv += m.dv) {
                            const int ix = int(uu >> 32), iy = int(vv >> 32);
                            Bilinear(out[i] + x * 4, tap(ix, iy), tap(ix + 1, iy), tap(ix, iy + 1),
                                     tap(ix + 1, iy + 1), unsigned(uu >> 24) & 255u,
                                     unsigned(vv >> 24) & 255u);
                        }
                    };
                    edge(o0[i], i0[i]);
                    const int from = std::max(xa, i0[i]), to = std::min(xb, i1[i]);
                    if (from < to)
                        BilinearRun(table, u[i] + from * m.du, v[i] + from * m.dv, m.du, m.dv,
                                    out[i] + size_t(from) * 4, to - from);
                    edge(i1[i], o1[i]);
                }
            }
            if (!direct)
                for (int y = y0; y < y1; ++y) enc.Encode(out[y - y0], L_RowPtr(d, y));
        };
    });
}

} // namespace

L_INT L_RotateBitmap(pBITMAPHANDLE b, L_INT nAngle, L_UINT uFlags, COLORREF crFill) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    const int angle = ((nAngle % 36000) + 36000) % 36000;
    if (angle == 0) return SUCCESS;
    const bool quarter = angle % 9000 == 0;
    const int turns = angle / 9000;
    double c, s;
    L_INT w = b->Width, h = b->Height;
    if (quarter) {
        // Exact values, not cos/sin of the angle: quarter turns must move pixels exactly.
        static const int kCos[4] = {1, 0, -1, 0}, kSin[4] = {0, 1, 0, -1};
        c = kCos[turns];
        s = kSin[turns];
        if ((uFlags & ROTATE_RESIZE) && (turns & 1)) std::swap(w, h);
    } else {
        const double rad = angle * std::numbers::pi / 18000.0;
        c = std::cos(rad);
        s = std::sin(rad);
        if (uFlags & ROTATE_RESIZE) {
            // The bounding box of the turned rectangle; the small tolerance keeps a box that
            // is whole up to rounding from gaining a column of fill.
            const double bw = b->Width * std::fabs(c) + b->Height * std::fabs(s);
            const double bh = b->Width * std::fabs(s) + b->Height * std::fabs(c);
            if (bw >= double(INT32_MAX) || bh >= double(INT32_MAX)) return ERROR_INV_RANGE;
            w = L_INT(std::max(1.0, std::ceil(bw - 1e-6)));
            h = L_INT(std::max(1.0, std::ceil(bh - 1e-6)));
        }
    }
    L_INT rc = L_CheckImageSize(w, h, b->BitsPerPixel, nullptr, nullptr);
    if (rc != SUCCESS) return rc;
    return Guard([&]() -> L_INT {
        const Rotation m(c, s, b, w, h);
        std::unique_ptr<LRegion> rgn;
        const uint8_t outside[4] = {0, 0, 0, 0};
        L_INT r = TransformRegion(
            b, w, h,
            [&](const BITMAPHANDLE* src, BITMAPHANDLE* dst) {
                RotateNearest(src, dst, m, outside, false);
            },
            &rgn);
        if (r != SUCCESS) return r;
        TOwnedBitmap out;
        r = NewLike(b, w, h, out.get());
        if (r != SUCCESS) return r;
        Fill fill = MakeFill(b, crFill);
        if ((uFlags & ROTATE_OPAQUE_FILL) && b->BitsPerPixel == 32)
            fill.color[3] = fill.stored[3] = 255;
        if (!quarter && (uFlags & ROTATE_RESAMPLE))
            r = RotateBilinear(b, out.get(), m, fill.color, true);
        else
            r = RotateNearest(b, out.get(), m, fill.stored, true);
        if (r != SUCCESS) return r;
        if (quarter && (turns & 1)) std::swap(out->XResolution, out->YResolution);
        Commit(b, out, std::move(rgn));
        return SUCCESS;
    });
}
