// Shearing: whole rows (or columns) move by whole pixels.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <vector>

#include "GeometryInternal.h"

using namespace lt::geom;

namespace {

using lt::BGRA;

// ---------------------------------------------------------------------------
// Shearing moves whole rows (or columns) by whole pixels.

L_INT ShearRows(const BITMAPHANDLE* s, BITMAPHANDLE* d, const std::vector<int>& shift,
                const uint8_t* fill, Progress* prog) {
    return WithPixelType(s->BitsPerPixel, [&](auto px) -> L_INT {
        using P = decltype(px);
        for (int y = 0; y < d->Height; ++y) {
            if (prog && !prog->Continue(y)) return ERROR_USER_ABORT;
            uint8_t* dr = L_RowPtr(d, y);
            const int x0 = shift[size_t(y)];
            SetRun<P>(dr, 0, x0, fill);
            P::CopyRun(dr, x0, L_RowPtr(s, y), 0, s->Width);
            SetRun<P>(dr, x0 + s->Width, d->Width, fill);
        }
        return SUCCESS;
    });
}

L_INT ShearColumns(const BITMAPHANDLE* s, BITMAPHANDLE* d, const std::vector<int>& shift,
                   const uint8_t* fill, Progress* prog) {
    const std::vector<const uint8_t*> rows = RowTable(s);
    return WithPixelType(s->BitsPerPixel, [&](auto px) -> L_INT {
        using P = decltype(px);
        for (int y = 0; y < d->Height; ++y) {
            if (prog && !prog->Continue(y)) return ERROR_USER_ABORT;
            uint8_t* dr = L_RowPtr(d, y);
            for (int x = 0; x < d->Width; ++x) {
                const int sy = y - shift[size_t(x)];
                if (sy >= 0 && sy < s->Height)
                    P::Copy(dr, x, rows[size_t(sy)], x);
                else
                    P::Set(dr, x, fill);
            }
        }
        return SUCCESS;
    });
}

} // namespace

L_INT L_ShearBitmap(pBITMAPHANDLE b, L_INT nAngle, bool fHorizontal, COLORREF crFill) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    if (nAngle < -4500 || nAngle > 4500) return ERROR_INV_PARAMETER;
    // Positive angles push later rows right (horizontal) or later columns down (vertical),
    // by the tangent times the distance of the line's centre from the first line.
    const double t = std::tan(nAngle * std::numbers::pi / 18000.0);
    const int lines = fHorizontal ? b->Height : b->Width;
    const int grow = std::max(0, int(std::ceil(lines * std::fabs(t) - 1e-7)));
    const L_INT w = b->Width + (fHorizontal ? grow : 0), h = b->Height + (fHorizontal ? 0 : grow);
    L_INT rc = L_CheckImageSize(w, h, b->BitsPerPixel, nullptr, nullptr);
    if (rc != SUCCESS) return rc;
    return Guard([&]() -> L_INT {
        std::vector<int> shift(static_cast<size_t>(lines));
        for (int i = 0; i < lines; ++i) {
            int v = int(std::floor((i + 0.5) * t)) + (t < 0 ? grow : 0);
            shift[size_t(i)] = std::clamp(v, 0, grow);
        }
        std::unique_ptr<LRegion> rgn;
        if (b->pRgn && fHorizontal) {
            rgn = std::make_unique<LRegion>();
            for (const RgnSpan& sp : b->pRgn->spans) {
                if (sp.y < 0 || sp.y >= b->Height) continue;
                const int dx = shift[size_t(sp.y)];
                rgn->spans.push_back(RgnSpan{sp.y, sp.x0 + dx, sp.x1 + dx});
            }
        } else if (b->pRgn) {
            const uint8_t outside[4] = {0, 0, 0, 0};
            L_INT r = TransformRegion(
                b, w, h,
                [&](const BITMAPHANDLE* src, BITMAPHANDLE* dst) {
                    ShearColumns(src, dst, shift, outside, nullptr);
                },
                &rgn);
            if (r != SUCCESS) return r;
        }
        TOwnedBitmap out;
        L_INT r = NewLike(b, w, h, out.get());
        if (r != SUCCESS) return r;
        const Fill fill = MakeFill(b, crFill);
        Progress prog(h);
        r = fHorizontal ? ShearRows(b, out.get(), shift, fill.stored, &prog)
                        : ShearColumns(b, out.get(), shift, fill.stored, &prog);
        if (r != SUCCESS) return r;
        if (!prog.Continue(h)) return ERROR_USER_ABORT;
        Commit(b, out, std::move(rgn));
        return SUCCESS;
    });
}
