// The layer stack: access, copying, new layers, z-order and whole-image conversions.
#include "LayeredImage.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "Effects.h"
#include "Processing.h"

TLayeredImage::~TLayeredImage() = default;

// ---------------------------------------------------------------------------
// Copy and swap.

L_INT TLayeredImage::CopyFrom(TLayeredImage& other) {
    if (&other == this) return SUCCESS;
    // The other image's views may hold edits its layers do not have yet.
    other.CommitChannels(false);
    DiscardViews();
    Layers.Clear();
    L_INT status = SUCCESS;
    for (int i = 0; i < other.Count(); ++i) {
        auto layer = std::make_unique<TLayer>();
        L_INT rc = layer->CopyLayer(*other.Layers.At(i));
        if (rc != SUCCESS && status == SUCCESS) status = rc;
        Layers.Append(std::move(layer));
    }
    Layers.Seek(other.GetCurrentIndex());
    RecomposeAll = true;
    return status;
}

void TLayeredImage::Swap(TLayeredImage& other) {
    if (&other == this) return;
    CommitChannels(true);
    other.CommitChannels(true);
    Layers.Swap(other.Layers);
    RecomposeAll = other.RecomposeAll = true;
}

bool TLayeredImage::SetCurrent(int index) {
    if (index < 0 || index >= Count()) return false;
    if (index != GetCurrentIndex()) {
        CommitChannels(true);
        Layers.Seek(index);
    }
    return true;
}

// ---------------------------------------------------------------------------
// New layers.

L_INT TLayeredImage::CreateLayerFromSelection(L_INT x, L_INT y, const TLeadBitmapX& source,
                                              const BITMAPHANDLE* mask) {
    std::unique_ptr<TLayer> layer;
    const L_INT rc = BuildLayerFromSelection(x, y, source, mask, layer);
    if (rc != SUCCESS) return rc;
    const int at = GetCurrentIndex() + 1;
    Layers.Insert(at, std::move(layer));
    Layers.Seek(at);
    return SUCCESS;
}

L_INT TLayeredImage::BuildLayerFromSelection(L_INT x, L_INT y, const TLeadBitmapX& source,
                                             const BITMAPHANDLE* mask,
                                             std::unique_ptr<TLayer>& out) {
    CommitChannels(true);
    auto layer = std::make_unique<TLayer>();
    L_INT rc = layer->AssignX(source, true);
    if (rc != SUCCESS) return rc;
    rc = layer->NormalizeDepth();
    if (rc != SUCCESS) return rc;
    layer->Name = "Layer";
    layer->X = x;
    layer->Y = y;

    if (mask) {
        // The part of the image-sized mask under the layer. Where the layer sticks out of
        // the image the copy is clipped, so the mask lands at an offset in the layer.
        TLeadBitmapX part;
        rc = part.CopyRect(*mask, x, y, source.Width, source.Height);
        if (rc == ERROR_INV_RANGE) return rc; // the layer lies outside the mask entirely
        if (rc == SUCCESS) rc = part.NormalizeDepth();
        if (rc != SUCCESS) return rc;
        RGNXFORM xf;
        xf.nXOffset = x < 0 ? -x : 0;
        xf.nYOffset = y < 0 ? -y : 0;
        rc = L_SetBitmapRgnFromMask(layer.get(), &xf, &part, L_RGN_SET);
        if (rc != SUCCESS) return rc;
    }
    RECT bounds{};
    if (layer->BitsPerPixel == 32) {
        rc = Lx_IntersectBitmapAlphaWithMask(layer.get());
        if (rc != SUCCESS) return rc;
        // What is selected but fully transparent does not belong to the new layer either.
        rc = layer->RegionFromAlpha(&bounds);
    } else {
        // Palette pixels have no alpha; their shape is the selection alone.
        rc = layer->CropToRegion(&bounds);
    }
    if (rc != SUCCESS) return rc;
    layer->X += bounds.left;
    layer->Y += bounds.top;
    out = std::move(layer);
    return SUCCESS;
}

L_INT TLayeredImage::AddLayer(const BITMAPHANDLE& bitmap, const std::string& name) {
    CommitChannels(true);
    auto layer = std::make_unique<TLayer>();
    L_INT rc = layer->Assign(bitmap, true);
    if (rc == SUCCESS) rc = layer->NormalizeDepth();
    if (rc != SUCCESS) return rc;
    layer->Name = name;
    RECT bounds{};
    rc = layer->CropToRegion(&bounds);
    if (rc != SUCCESS) return rc;
    if (layer->BitsPerPixel == 32) {
        rc = Lx_IntersectBitmapAlphaWithMask(layer.get());
        if (rc != SUCCESS) return rc;
    }
    layer->X = bounds.left;
    layer->Y = bounds.top;
    const int at = Count() == 0 ? 0 : GetCurrentIndex() + 1;
    Layers.Insert(at, std::move(layer));
    Layers.Seek(at);
    return SUCCESS;
}

// ---------------------------------------------------------------------------
// Z-order.

bool TLayeredImage::RemoveCurrent() {
    const int i = GetCurrentIndex();
    if (Count() < 2 || i < 1 || i >= Count()) return false;
    CommitChannels(true);
    Layers.Remove(i);
    Layers.Seek(i - 1);
    return true;
}

bool TLayeredImage::MoveCurrentUp() {
    const int i = GetCurrentIndex();
    if (i < 1 || i >= Count() - 1) return false;
    CommitChannels(true);
    Layers.Exchange(i, i + 1);
    Layers.Seek(i + 1);
    return true;
}

bool TLayeredImage::MoveCurrentDown() {
    const int i = GetCurrentIndex();
    if (i < 2 || i >= Count()) return false;
    CommitChannels(true);
    Layers.Exchange(i, i - 1);
    Layers.Seek(i - 1);
    return true;
}

bool TLayeredImage::BringCurrentToFront() {
    const int i = GetCurrentIndex();
    if (i < 1 || i >= Count() - 1) return false;
    CommitChannels(true);
    Layers.Append(Layers.Take(i));
    Layers.Seek(Count() - 1);
    return true;
}

bool TLayeredImage::SendCurrentToBack() {
    const int i = GetCurrentIndex();
    if (i < 2 || i >= Count()) return false;
    CommitChannels(true);
    Layers.Insert(1, Layers.Take(i));
    Layers.Seek(1);
    return true;
}

// ---------------------------------------------------------------------------
// Whole-image conversions.

namespace {

// Converts one layer in place to a logical depth.
L_INT ConvertLayer(TLayer& layer, L_INT bpp, L_UINT flags, const RGBQUAD* palette, L_UINT colors) {
    if (!layer.IsAllocated()) return ERROR_NO_BITMAP;
    const int storage = bpp <= 8 ? bpp : 32;
    const int oldStorage = layer.BitsPerPixel;
    const int oldLogical = layer.LogicalBpp;
    layer.LogicalBpp = bpp;
    layer.GrayState = -1;
    L_INT rc = L_ColorResBitmap(&layer, &layer, storage, flags, palette, colors);
    // A depth without alpha shows the layer opaque; its region still gives its shape.
    if (rc == SUCCESS && storage == 32 && (oldStorage != 32 || oldLogical != bpp))
        rc = layer.MakeAlphaOpaque();
    return rc;
}

} // namespace

L_INT TLayeredImage::ChangeColorDepth(L_INT bpp, L_UINT flags, const RGBQUAD* palette,
                                      L_UINT colors) {
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return ERROR_BITPERPIXEL;
    if (Count() == 0) return ERROR_NO_BITMAP;
    CommitChannels(true);
    if (bpp <= 8)
        flags &= ~L_UINT(CRF_BYTEORDERBGR);
    else
        flags |= CRF_BYTEORDERBGR;
    TLayer& bg = *Layers.At(0);
    // The background goes first when the others are to take the palette it gets.
    const bool bgFirst = bpp <= 8 && !(flags & CRF_USERPALETTE);
    L_INT status = bgFirst ? ConvertLayer(bg, bpp, flags, palette, colors) : SUCCESS;
    std::vector<RGBQUAD> bgPalette;
    if (bpp <= 8 && status == SUCCESS && bg.pPalette)
        bgPalette.assign(bg.pPalette, bg.pPalette + (1u << bpp));
    // Unless the caller gave the palette, the other layers take the background's, so that
    // every layer ends with the same one: all palette-choice flags (0x6B) give way to it.
    const bool shared = bpp <= 8 && !(flags & CRF_USERPALETTE) && !bgPalette.empty();
    const L_UINT sharedFlags = (flags & ~0x6Bu) | CRF_USERPALETTE;
    // Once the palette is known the layers are independent of each other: they are shared
    // out to the toolkit's processing threads, this one (which alone reports progress)
    // working too.
    std::vector<L_INT> results(size_t(Count()), SUCCESS);
    std::atomic<int> next{bgFirst ? 1 : 0};
    const auto work = [&] {
        for (int i = next++; i < Count(); i = next++) {
            try {
                results[size_t(i)] = shared
                                         ? ConvertLayer(*Layers.At(i), bpp, sharedFlags,
                                                        bgPalette.data(), L_UINT(bgPalette.size()))
                                         : ConvertLayer(*Layers.At(i), bpp, flags, palette, colors);
            } catch (const std::bad_alloc&) {
                results[size_t(i)] = ERROR_NO_MEMORY; // a helper thread must not throw
            }
        }
    };
    std::vector<std::thread> helpers;
    const int threads = std::min(L_GetProcessingThreads(), Count() - next.load());
    for (int k = 1; k < threads; ++k) {
        try {
            helpers.emplace_back(work);
        } catch (const std::system_error&) {
            break; // no more threads: the others do the work
        }
    }
    work();
    for (std::thread& t : helpers) t.join();
    for (L_INT rc : results)
        if (rc != SUCCESS && status == SUCCESS) status = rc;
    RecomposeAll = true;
    return status;
}

L_INT TLayeredImage::SyncLayerColours() {
    if (Count() == 0) return ERROR_NO_BITMAP;
    CommitChannels(true);
    const TLayer& bg = *Layers.At(0);
    const int bpp = bg.LogicalBpp;
    const bool indexed = bg.BitsPerPixel <= 8;
    const L_UINT colours = indexed ? 1u << bg.BitsPerPixel : 0;
    L_INT status = SUCCESS;
    for (int i = 1; i < Count(); ++i) {
        TLayer& layer = *Layers.At(i);
        bool differs = layer.LogicalBpp != bpp;
        if (!differs && indexed)
            differs = layer.BitsPerPixel != bg.BitsPerPixel || !layer.pPalette || !bg.pPalette ||
                      std::memcmp(layer.pPalette, bg.pPalette, colours * sizeof(RGBQUAD)) != 0;
        if (!differs) continue;
        const L_INT rc = indexed
                             ? ConvertLayer(layer, bpp, CRF_USERPALETTE | CRF_FLOYDSTEINDITHERING,
                                            bg.pPalette, colours)
                             : ConvertLayer(layer, bpp, CRF_BYTEORDERBGR, nullptr, 0);
        if (rc != SUCCESS && status == SUCCESS) status = rc;
    }
    RecomposeAll = true;
    return status;
}

L_INT TLayeredImage::ConvertToGrayscale() {
    CommitChannels(true);
    L_INT status = SUCCESS;
    for (int i = 0; i < Count(); ++i) {
        TLayer& layer = *Layers.At(i);
        layer.GrayState = -1;
        L_INT rc = L_GrayScaleBitmap(&layer, 8);
        if (rc == SUCCESS)
            layer.LogicalBpp = layer.BitsPerPixel;
        else if (status == SUCCESS)
            status = rc;
    }
    RecomposeAll = true;
    return status;
}

L_INT TLayeredImage::ResizeAll(L_INT width, L_INT height, L_UINT resampling) {
    if (Count() == 0) return ERROR_NO_BITMAP;
    if (width <= 0 || height <= 0) return ERROR_INV_PARAMETER;
    CommitChannels(true);
    const long double w0 = Layers.At(0)->Width, h0 = Layers.At(0)->Height;
    if (w0 <= 0 || h0 <= 0) return ERROR_NO_BITMAP;
    const long double sx = width / w0, sy = height / h0;
    L_INT status = SUCCESS;
    for (int i = 0; i < Count(); ++i) {
        TLayer& layer = *Layers.At(i);
        // The background gets exactly the requested size; a layer never shrinks to nothing.
        const int nw = i == 0 ? width : std::max(1, RoundHalfAway(layer.Width * sx));
        const int nh = i == 0 ? height : std::max(1, RoundHalfAway(layer.Height * sy));
        L_INT rc = layer.IsAllocated() ? layer.Resample(nw, nh, resampling) : SUCCESS;
        if (rc != SUCCESS && status == SUCCESS) status = rc;
        layer.X = RoundHalfAway(layer.X * sx);
        layer.Y = RoundHalfAway(layer.Y * sy);
        // Resampling softens alpha across the region's edge; outside the shape stays clear.
        if (i > 0 && rc == SUCCESS && layer.BitsPerPixel == 32)
            Lx_IntersectBitmapAlphaWithMask(&layer);
    }
    RecomposeAll = true;
    return status;
}
