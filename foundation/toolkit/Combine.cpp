// Pixel combination through regions: L_CombineBitmap (copy, logical operations on masks,
// multiply), L_FillBitmap and L_UnderlayBitmap.
//
// All three walk the destination's region span by span (lt::ForEachSpan) and work on
// whole runs of a row, so a rectangular or absent region costs nothing extra and the
// common cases (same-depth copies, 1-bit mask logic, fills) become memcpy / memset or
// byte loops the compiler vectorises.
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "BitmapInternal.h"
#include "OwnedBitmap.h"

namespace {

// round(a * b / 255) without a division.
inline uint8_t Mul255(unsigned a, unsigned b) {
    const unsigned t = a * b + 128;
    return uint8_t((t + (t >> 8)) >> 8);
}

// d = op(d, s) on nbits bits of a destination row starting at bit dbit, with the
// source bits taken from bit sbit of a source row (most significant bit first). Whole
// destination bytes are done in one step, shifting the source into place when the two
// bit positions are not aligned; only the first and last bytes are masked. Source bytes
// outside the span are never read.
template <class Op>
void BitSpan(uint8_t* d, size_t dbit, const uint8_t* s, size_t sbit, size_t nbits, Op op) {
    if (nbits == 0) return;
    const size_t dk0 = dbit >> 3, dk1 = (dbit + nbits - 1) >> 3;
    const ptrdiff_t delta = ptrdiff_t(sbit) - ptrdiff_t(dbit);
    const ptrdiff_t jd = delta >= 0 ? delta / 8 : -((-delta + 7) / 8); // floor(delta / 8)
    const int sh = int(delta - jd * 8);                                // 0..7
    const ptrdiff_t slo = ptrdiff_t(sbit >> 3), shi = ptrdiff_t((sbit + nbits - 1) >> 3);
    auto sourceByte = [&](ptrdiff_t j) -> unsigned { return j >= slo && j <= shi ? s[j] : 0u; };
    auto fetchEdge = [&](size_t k) -> uint8_t {
        const ptrdiff_t j = ptrdiff_t(k) + jd;
        if (sh == 0) return uint8_t(sourceByte(j));
        return uint8_t((sourceByte(j) << sh) | (sourceByte(j + 1) >> (8 - sh)));
    };
    auto applyMasked = [&](size_t k, uint8_t m) {
        const uint8_t v = op(d[k], fetchEdge(k));
        d[k] = uint8_t((d[k] & ~m) | (v & m));
    };
    const uint8_t m0 = uint8_t(0xFFu >> (dbit & 7));
    const uint8_t m1 = uint8_t(0xFFu << (7 - ((dbit + nbits - 1) & 7)));
    if (dk0 == dk1) {
        applyMasked(dk0, uint8_t(m0 & m1));
        return;
    }
    applyMasked(dk0, m0);
    if (sh == 0) {
        for (size_t k = dk0 + 1; k < dk1; ++k) d[k] = op(d[k], s[ptrdiff_t(k) + jd]);
    } else {
        const int rsh = 8 - sh;
        for (size_t k = dk0 + 1; k < dk1; ++k) {
            const uint8_t* p = s + (ptrdiff_t(k) + jd);
            d[k] = op(d[k], uint8_t((p[0] << sh) | (p[1] >> rsh)));
        }
    }
    applyMasked(dk1, m1);
}

// Sets nbits bits from bit `bit` of a row to the repeating byte `pattern`.
void FillBits(uint8_t* row, size_t bit, size_t nbits, uint8_t pattern) {
    BitSpan(row, bit, row, bit, nbits, [pattern](uint8_t, uint8_t) { return pattern; });
}

bool SamePalette(const BITMAPHANDLE* a, const BITMAPHANDLE* b) {
    if (!a->pPalette || !b->pPalette) return a->pPalette == b->pPalette;
    const int n = 1 << a->BitsPerPixel;
    for (int i = 0; i < n; ++i) {
        const RGBQUAD &p = a->pPalette[i], &q = b->pPalette[i];
        if (p.rgbRed != q.rgbRed || p.rgbGreen != q.rgbGreen || p.rgbBlue != q.rgbBlue)
            return false;
    }
    return true;
}

bool IsGrayRamp8(const BITMAPHANDLE* b) {
    if (b->BitsPerPixel != 8 || !b->pPalette) return false;
    for (int i = 0; i < 256; ++i) {
        const RGBQUAD& q = b->pPalette[i];
        if (q.rgbRed != i || q.rgbGreen != i || q.rgbBlue != i) return false;
    }
    return true;
}

// The colour a COLORREF names for a bitmap above 8 bits: a palette index names a gray
// level there, as in L_PutPixelColor.
lt::BGRA TrueColor(COLORREF c) {
    if (IsPaletteIndex(c)) {
        const uint8_t v = uint8_t(c & 0xFFu);
        return lt::BGRA{v, v, v, 255};
    }
    return lt::BGRA{GetBValue(c), GetGValue(c), GetRValue(c), 255};
}

} // namespace

// ---------------------------------------------------------------------------

L_INT L_CombineBitmap(pBITMAPHANDLE dst, L_INT xDst, L_INT yDst, L_INT width, L_INT height,
                      const BITMAPHANDLE* src, L_INT xSrc, L_INT ySrc, L_UINT uFlags) {
    if (!lt::IsAllocated(dst) || !lt::IsAllocated(src)) return ERROR_NO_BITMAP;
    if (!lt::IsValidBpp(dst->BitsPerPixel) || !lt::IsValidBpp(src->BitsPerPixel))
        return ERROR_BITPERPIXEL;
    const bool logical = uFlags == CB_OP_AND || uFlags == CB_OP_ANDNOTSRC || uFlags == CB_OP_OR ||
                         uFlags == CB_OP_NOTSRC;
    if (!logical && uFlags != CB_OP_COPY && uFlags != CB_OP_MULTIPLY) return ERROR_INV_PARAMETER;
    if (width < 0 || height < 0) return ERROR_INV_PARAMETER;
    if (logical && dst->BitsPerPixel != src->BitsPerPixel) return ERROR_BITPERPIXEL;

    // Clip: offset t in [0, width) must land inside both bitmaps.
    const int64_t t0 = std::max<int64_t>({0, -int64_t(xSrc), -int64_t(xDst)});
    const int64_t t1 =
        std::min<int64_t>({width, int64_t(src->Width) - xSrc, int64_t(dst->Width) - xDst});
    const int64_t u0 = std::max<int64_t>({0, -int64_t(ySrc), -int64_t(yDst)});
    const int64_t u1 =
        std::min<int64_t>({height, int64_t(src->Height) - ySrc, int64_t(dst->Height) - yDst});
    if (t0 >= t1 || u0 >= u1) return SUCCESS;
    const RECT clip{int(xDst + t0), int(yDst + u0), int(xDst + t1), int(yDst + u1)};
    const int64_t offX = int64_t(xDst) - xSrc, offY = int64_t(yDst) - ySrc; // dst = src + off

    try {
        // Combining a bitmap with itself (or with a handle sharing its pixels) would read
        // pixels already written; work from a copy then.
        TOwnedBitmap aliasCopy;
        if (src->Addr == dst->Addr) {
            L_INT rc = L_CopyBitmap(aliasCopy.get(), src);
            if (rc != SUCCESS) return rc;
            src = aliasCopy.get();
        }

        // Calls fn(dstRow, srcRow, x, sx, n) for each run of n pixels written at dst column x,
        // taken from src column sx: dst's region, src's region and the clip all apply.
        auto forRuns = [&](auto&& fn) {
            lt::ForEachSpan(dst, clip, [&](int y, int x0, int x1) {
                const int sy = int(y - offY);
                uint8_t* drow = L_RowPtr(dst, y);
                const uint8_t* srow = L_RowPtr(src, sy);
                if (!src->pRgn) {
                    fn(drow, srow, x0, int(x0 - offX), x1 - x0);
                    return;
                }
                auto [lo, hi] = src->pRgn->Row(sy);
                lo = std::upper_bound(lo, hi, int64_t(x0) - offX, [](int64_t v, const RgnSpan& s) {
                    return v < int64_t(s.x1);
                });
                for (const RgnSpan* p = lo; p != hi; ++p) {
                    const int64_t a = std::max<int64_t>(p->x0 + offX, x0);
                    const int64_t b = std::min<int64_t>(p->x1 + offX, x1);
                    if (a >= x1) break;
                    if (a < b) fn(drow, srow, int(a), int(a - offX), int(b - a));
                }
            });
        };

        const int dbpp = dst->BitsPerPixel, sbpp = src->BitsPerPixel;
        auto bitRuns = [&](auto op) {
            forRuns([&](uint8_t* d, const uint8_t* s, int x, int sx, int n) {
                BitSpan(d, size_t(x) * size_t(dbpp), s, size_t(sx) * size_t(dbpp),
                        size_t(n) * size_t(dbpp), op);
            });
        };

        switch (uFlags) {
            case CB_OP_AND:
                bitRuns([](uint8_t d, uint8_t s) { return uint8_t(d & s); });
                return SUCCESS;
            case CB_OP_ANDNOTSRC:
                bitRuns([](uint8_t d, uint8_t s) { return uint8_t(d & ~s); });
                return SUCCESS;
            case CB_OP_OR:
                bitRuns([](uint8_t d, uint8_t s) { return uint8_t(d | s); });
                return SUCCESS;
            case CB_OP_NOTSRC:
                bitRuns([](uint8_t, uint8_t s) { return uint8_t(~s); });
                return SUCCESS;
            default: break;
        }

        if (uFlags == CB_OP_COPY) {
            if (dbpp == sbpp && (dbpp > 8 || SamePalette(dst, src))) {
                if (dbpp >= 8) {
                    const size_t bytes = size_t(dbpp / 8);
                    forRuns([&](uint8_t* d, const uint8_t* s, int x, int sx, int n) {
                        std::memcpy(d + size_t(x) * bytes, s + size_t(sx) * bytes,
                                    size_t(n) * bytes);
                    });
                } else {
                    bitRuns([](uint8_t, uint8_t s) { return s; });
                }
            } else if (dbpp == sbpp) {
                // Same depth, different palettes: map each source index once.
                uint8_t map[256];
                const int count = 1 << sbpp;
                for (int i = 0; i < count; ++i) {
                    const RGBQUAD q = src->pPalette ? src->pPalette[i] : RGBQUAD{};
                    map[i] = uint8_t(lt::NearestPaletteIndex(dst->pPalette, count, q.rgbRed,
                                                             q.rgbGreen, q.rgbBlue));
                }
                forRuns([&](uint8_t* d, const uint8_t* s, int x, int sx, int n) {
                    for (int i = 0; i < n; ++i)
                        lt::WriteIndex(d, x + i, dbpp, map[lt::ReadIndex(s, sx + i, sbpp)]);
                });
            } else if (dbpp <= 8) {
                lt::NearestCache cache(dst->pPalette, 1 << dbpp);
                forRuns([&](uint8_t* d, const uint8_t* s, int x, int sx, int n) {
                    for (int i = 0; i < n; ++i) {
                        const lt::BGRA c = lt::ReadPixel(src, s, sx + i);
                        lt::WriteIndex(d, x + i, dbpp, cache.Get(c.r, c.g, c.b));
                    }
                });
            } else {
                // The copied pixel replaces the old one entirely, alpha included (opaque
                // from sources without alpha).
                forRuns([&](uint8_t* d, const uint8_t* s, int x, int sx, int n) {
                    for (int i = 0; i < n; ++i)
                        lt::WritePixel(dst, d, x + i, lt::ReadPixel(src, s, sx + i), false);
                });
            }
            return SUCCESS;
        }

        // Multiply. Colour channels only: a 32-bit destination keeps its alpha, so that a
        // texture or shading pass cannot make a layer transparent (a source without real
        // alpha, such as a freshly created 32-bit bitmap, would otherwise wipe it).
        if (dbpp == 8 && sbpp == 8 && IsGrayRamp8(dst) && IsGrayRamp8(src)) {
            forRuns([&](uint8_t* d, const uint8_t* s, int x, int sx, int n) {
                for (int i = 0; i < n; ++i) d[x + i] = Mul255(d[x + i], s[sx + i]);
            });
        } else if (dbpp == 24 && sbpp == 24) {
            forRuns([&](uint8_t* d, const uint8_t* s, int x, int sx, int n) {
                uint8_t* dp = d + size_t(x) * 3;
                const uint8_t* sp = s + size_t(sx) * 3;
                for (size_t i = 0; i < size_t(n) * 3; ++i) dp[i] = Mul255(dp[i], sp[i]);
            });
        } else if ((dbpp == 24 || dbpp == 32) && (sbpp == 24 || sbpp == 32)) {
            const size_t ds = size_t(dbpp / 8), ss = size_t(sbpp / 8);
            forRuns([&](uint8_t* d, const uint8_t* s, int x, int sx, int n) {
                uint8_t* dp = d + size_t(x) * ds;
                const uint8_t* sp = s + size_t(sx) * ss;
                for (int i = 0; i < n; ++i, dp += ds, sp += ss) {
                    dp[0] = Mul255(dp[0], sp[0]);
                    dp[1] = Mul255(dp[1], sp[1]);
                    dp[2] = Mul255(dp[2], sp[2]);
                }
            });
        } else {
            // Palettes that are not gray ramps, 16-bit pixels and mixed depths: multiply the
            // colours and store the result the way the destination can hold it.
            lt::NearestCache cache(dbpp <= 8 ? dst->pPalette : nullptr, dbpp <= 8 ? 1 << dbpp : 0);
            forRuns([&](uint8_t* d, const uint8_t* s, int x, int sx, int n) {
                for (int i = 0; i < n; ++i) {
                    const lt::BGRA a = lt::ReadPixel(dst, d, x + i),
                                   b = lt::ReadPixel(src, s, sx + i);
                    const lt::BGRA m{Mul255(a.b, b.b), Mul255(a.g, b.g), Mul255(a.r, b.r), a.a};
                    if (dbpp <= 8)
                        lt::WriteIndex(d, x + i, dbpp, cache.Get(m.r, m.g, m.b));
                    else
                        lt::WritePixel(dst, d, x + i, m, true);
                }
            });
        }
        return SUCCESS;
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
}

L_INT L_FillBitmap(pBITMAPHANDLE b, COLORREF color) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    const int bpp = b->BitsPerPixel;
    const RECT full = lt::FullRect(b);
    switch (bpp) {
        case 1:
        case 4:
        case 8: {
            const unsigned mask = (1u << bpp) - 1;
            const unsigned index =
                IsPaletteIndex(color)
                    ? (color & mask)
                    : unsigned(lt::NearestPaletteIndex(b->pPalette, int(mask + 1), GetRValue(color),
                                                       GetGValue(color), GetBValue(color)));
            const uint8_t pattern = bpp == 8   ? uint8_t(index)
                                    : bpp == 4 ? uint8_t(index * 0x11u)
                                               : uint8_t(index ? 0xFF : 0);
            lt::ForEachSpan(b, full, [&](int y, int x0, int x1) {
                uint8_t* row = L_RowPtr(b, y);
                if (bpp == 8)
                    std::memset(row + x0, pattern, size_t(x1 - x0));
                else
                    FillBits(row, size_t(x0) * size_t(bpp), size_t(x1 - x0) * size_t(bpp), pattern);
            });
            return SUCCESS;
        }
        case 16: {
            // The on/off alpha bit stays, as the alpha byte does at 32 bits.
            const uint16_t v = uint16_t(lt::Pack16(TrueColor(color)) & 0x7FFFu);
            lt::ForEachSpan(b, full, [&](int y, int x0, int x1) {
                uint8_t* p = L_RowPtr(b, y) + size_t(x0) * 2;
                for (int x = x0; x < x1; ++x, p += 2) {
                    uint16_t w;
                    std::memcpy(&w, p, 2);
                    w = uint16_t((w & 0x8000u) | v);
                    std::memcpy(p, &w, 2);
                }
            });
            return SUCCESS;
        }
        case 24: {
            const lt::BGRA c = TrueColor(color);
            lt::ForEachSpan(b, full, [&](int y, int x0, int x1) {
                uint8_t* p = L_RowPtr(b, y) + size_t(x0) * 3;
                const size_t bytes = size_t(x1 - x0) * 3;
                if (c.b == c.g && c.g == c.r) {
                    std::memset(p, c.b, bytes);
                    return;
                }
                // Write one pixel, then keep doubling the filled part.
                p[0] = c.b;
                p[1] = c.g;
                p[2] = c.r;
                size_t done = 3;
                while (done < bytes) {
                    const size_t n = std::min(done, bytes - done);
                    std::memcpy(p + done, p, n);
                    done += n;
                }
            });
            return SUCCESS;
        }
        case 32: {
            const lt::BGRA c = TrueColor(color);
            const uint32_t bgr = uint32_t(c.b) | (uint32_t(c.g) << 8) | (uint32_t(c.r) << 16);
            lt::ForEachSpan(b, full, [&](int y, int x0, int x1) {
                uint8_t* p = L_RowPtr(b, y) + size_t(x0) * 4;
                for (int x = x0; x < x1; ++x, p += 4) {
                    uint32_t w;
                    std::memcpy(&w, p, 4);
                    w = (w & 0xFF000000u) | bgr;
                    std::memcpy(p, &w, 4);
                }
            });
            return SUCCESS;
        }
        default: return ERROR_BITPERPIXEL;
    }
}

// The underlay's own region is ignored: it is a texture, read wherever it is needed.
L_INT L_UnderlayBitmap(pBITMAPHANDLE b, const BITMAPHANDLE* underlay, L_UINT uFlags) {
    if (!lt::IsAllocated(b) || !lt::IsAllocated(underlay)) return ERROR_NO_BITMAP;
    if (uFlags != UB_TILE && uFlags != UB_STRETCH) return ERROR_INV_PARAMETER;
    if (!lt::IsValidBpp(b->BitsPerPixel) || !lt::IsValidBpp(underlay->BitsPerPixel))
        return ERROR_BITPERPIXEL;
    try {
        TOwnedBitmap aliasCopy;
        if (underlay->Addr == b->Addr) {
            L_INT rc = L_CopyBitmap(aliasCopy.get(), underlay);
            if (rc != SUCCESS) return rc;
            underlay = aliasCopy.get();
        }

        const int W = b->Width, H = b->Height, uw = underlay->Width, uh = underlay->Height;
        const bool tile = uFlags == UB_TILE;
        std::vector<int> column(static_cast<size_t>(W));
        for (int x = 0; x < W; ++x) column[size_t(x)] = tile ? x % uw : int(int64_t(x) * uw / W);
        // The underlay row in use, as colours (converted once per row).
        std::vector<lt::BGRA> line(static_cast<size_t>(uw));
        int lineRow = -1;
        const int bpp = b->BitsPerPixel;
        lt::NearestCache cache(bpp <= 8 ? b->pPalette : nullptr, bpp <= 8 ? 1 << bpp : 0);

        // A shared block stays as it is: each row is copied into a block of our own just
        // before it is multiplied there.
        lt::TOwnRows own(b);
        if (!own.Ok()) return ERROR_NO_MEMORY;
        int copied = 0; // rows [0, copied) are in the block being written
        auto copyTo = [&](int end) {
            for (; copied < end; ++copied) own.Copy(copied);
        };
        lt::ForEachSpan(b, lt::FullRect(b), [&](int y, int x0, int x1) {
            copyTo(y + 1);
            const int uy = tile ? y % uh : int(int64_t(y) * uh / H);
            if (uy != lineRow) {
                const uint8_t* urow = L_RowPtr(underlay, uy);
                for (int i = 0; i < uw; ++i) line[size_t(i)] = lt::ReadPixel(underlay, urow, i);
                lineRow = uy;
            }
            uint8_t* row = own.Target(y);
            if (bpp == 24 || bpp == 32) {
                const size_t step = size_t(bpp / 8);
                uint8_t* p = row + size_t(x0) * step;
                for (int x = x0; x < x1; ++x, p += step) {
                    const lt::BGRA u = line[size_t(column[size_t(x)])];
                    p[0] = Mul255(p[0], u.b);
                    p[1] = Mul255(p[1], u.g);
                    p[2] = Mul255(p[2], u.r);
                }
                return;
            }
            for (int x = x0; x < x1; ++x) {
                const lt::BGRA u = line[size_t(column[size_t(x)])];
                const lt::BGRA c = lt::ReadPixel(b, row, x);
                const lt::BGRA m{Mul255(c.b, u.b), Mul255(c.g, u.g), Mul255(c.r, u.r), c.a};
                if (bpp <= 8)
                    lt::WriteIndex(row, x, bpp, cache.Get(m.r, m.g, m.b));
                else
                    lt::WritePixel(b, row, x, m, true);
            }
        });
        copyTo(H);
        own.Commit();
        return SUCCESS;
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
}
