// A layered image: a stack of layers (index 0 is the background), a cursor on the current
// layer, the cached display composite, and the grayscale channel views used while one
// colour channel or the alpha channel is being edited.
//
// Layers deeper than 8 bits are stored at 32 bits with alpha. That stored alpha is real
// whatever depth the user sees: compositing and merging blend a layer by it whenever the
// layer is stored at 32 bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "LayerList.h"

// What Paint draws; filled by the view for every call.
struct TPaintOptions {
    bool SuppressOverlays = false;   // no outlines or frames at all
    bool PaintImage = true;          // recompose and blit the composite
    bool ShowTransformFrame = false; // the free-transform frame of the current layer
    bool ShowCurrentOutline = false; // the outline of the current layer
    bool ShowOtherOutlines = false;  // the outlines of every other layer except the background
    L_INT FrameStyle = 0;            // marching-ants phase of the current layer's outline
    bool BackgroundPalette = false;  // realise the palette as a background palette
    bool CurrentLayerAlone = false;  // the composite shows only the current layer
    HPALETTE Palette = nullptr;      // the display palette (palette screens only)
};

// Channel editing modes.
enum : int {
    CHANNEL_AGGREGATED = 0,
    CHANNEL_ALPHA = 1,
    CHANNEL_RED = 2,
    CHANNEL_GREEN = 3,
    CHANNEL_BLUE = 4,
    CHANNEL_CMYK_CYAN = 5,
    CHANNEL_CMYK_MAGENTA = 6,
    CHANNEL_CMYK_YELLOW = 7,
    CHANNEL_CMYK_BLACK = 8,
    CHANNEL_CMY_CYAN = 9,
    CHANNEL_CMY_MAGENTA = 10,
    CHANNEL_CMY_YELLOW = 11,
    CHANNEL_HSV_HUE = 12,
    CHANNEL_HSV_SATURATION = 13,
    CHANNEL_HSV_VALUE = 14,
    CHANNEL_HLS_HUE = 15,
    CHANNEL_HLS_LIGHTNESS = 16,
    CHANNEL_HLS_SATURATION = 17,
    CHANNEL_LAST = 17,
};

class TLayeredImage {
public:
    TLayeredImage() = default;
    virtual ~TLayeredImage();
    TLayeredImage(const TLayeredImage&) = delete;
    TLayeredImage& operator=(const TLayeredImage&) = delete;

    // --- Layers. GetLayer, GetCurrentLayer and GetBackground answer in the current
    // channel mode: the layer itself when editing all channels, else its channel view.
    int Count() const { return Layers.Count(); }
    int GetCurrentIndex() const { return Layers.Index(); }
    TLayer* GetLayer(int index);
    TLayer* GetCurrentLayer();
    TLayer* GetBackground();
    // Moves the cursor (committing channel views first). Indices out of range are ignored.
    bool SetCurrent(int index);

    // Replaces this image's layers by deep copies of other's (other's views are committed
    // first so the copies are up to date). Composite and views are not copied.
    L_INT CopyFrom(TLayeredImage& other);
    // Exchanges the layer stacks and current indices of two images.
    void Swap(TLayeredImage& other);

    // A new layer "Layer" from the part of `source` under an image-sized 1-bit selection
    // mask (null: all of it), placed at (x, y), cropped to what is selected and not
    // transparent, inserted above the current layer and made current. Fails without
    // changing the stack when nothing would be left.
    L_INT CreateLayerFromSelection(L_INT x, L_INT y, const TLeadBitmapX& source,
                                   const BITMAPHANDLE* mask);
    // The same layer, built without touching the stack (channel views are committed).
    L_INT BuildLayerFromSelection(L_INT x, L_INT y, const TLeadBitmapX& source,
                                  const BITMAPHANDLE* mask, std::unique_ptr<TLayer>& out);
    // A copy of a bitmap as a new layer above the current one (cropped to its region).
    L_INT AddLayer(const BITMAPHANDLE& bitmap, const std::string& name);

    // Z-order. Each returns false and changes nothing when the move is not allowed (the
    // background never moves and nothing goes below it).
    bool RemoveCurrent();
    bool MoveCurrentUp();
    bool MoveCurrentDown();
    bool BringCurrentToFront();
    bool SendCurrentToBack();

    // Converts every layer to a depth; at 8 bits or less all layers end up with the
    // background's palette unless the caller gives its own (CRF_USERPALETTE).
    L_INT ChangeColorDepth(L_INT bpp, L_UINT flags, const RGBQUAD* palette, L_UINT colors);
    L_INT ConvertToGrayscale();
    // Brings every layer above the background into the background's colour class: its
    // logical depth and, at 8 bits or less, its palette (pixels mapped to the nearest
    // entry). Layers already in it are left alone.
    L_INT SyncLayerColours();
    // Scales every layer and its position so that the background becomes width x height.
    L_INT ResizeAll(L_INT width, L_INT height, L_UINT resampling = SIZE_RESAMPLE);

    // --- Display.
    // Draws the image into dc: the composite stretched onto imageRect (window coordinates
    // of the whole image) within paintRect, the view background around it, then overlays.
    virtual void Paint(HDC dc, const RECT& paintRect, const RECT& imageRect,
                       const TPaintOptions& options);
    // Marks image pixels stale; the next paint recombines only them.
    void Invalidate(const RECT& rect);
    void InvalidateAll() {
        RecomposeAll = true;
        ++Changes;
    }
    // Brings the stale part of the composite (which covers `full` in image coordinates)
    // up to date.
    L_INT Recompose(const TPaintOptions& options, const RECT& full);

    // --- Channel views.
    int GetChannelMode() const { return channelMode_; }
    // The stored mode when the image can be edited that way, else aggregated (0).
    int GetEffectiveChannelMode() const;
    L_INT SetChannelMode(int mode);
    // Writes edited views back into their layers; with discard, also drops the views.
    L_INT CommitChannels(bool discard);
    // A new view of layer i in the current mode (null in aggregated mode or on failure).
    std::unique_ptr<TLayer> SeparateChannel(int index);
    // Writes a view back into layer i, changing only the pixels whose channel was edited.
    L_INT MergeChannel(int index, TLayer& view);

    // --- Merging.
    L_INT DropOnBackground();
    L_INT DropOnLower();
    L_INT MergeAll();
    // Combines every layer (hidden ones too) into the background and removes the others.
    L_INT Flatten();
    // Combines the background and the visible layers into the background; hidden layers
    // stay, unchanged and in their order, above it. The background becomes current.
    L_INT MergeVisible();
    L_INT DuplicateCurrent();
    // Builds m from lower layer d (occupying rd) and upper layer u (occupying ru) over the
    // union of the two rectangles; *topLeft gets the union's top-left.
    static L_INT MergeTwo(TLayer& m, const TLayer& d, const RECT& rd, const TLayer& u,
                          const RECT& ru, POINT* topLeft);

    // --- Native file (.qlx): every layer with its name, position, visibility and shape.
    // True when the file starts with the native signature.
    static bool IsNativeFile(const char* path);
    // Loads a native file, or any toolkit format as a single background layer.
    L_INT Load(const char* path, FILEREADCALLBACK progress = nullptr, void* user = nullptr);
    // On failure the image keeps the layers it had. A damaged file gives ERROR_FILE_FORMAT.
    L_INT LoadNative(const char* path);
    L_INT LoadNativeMemory(const uint8_t* data, size_t size);
    // Writes all layers; the old file is replaced only by a complete new one.
    L_INT SaveNative(const char* path);
    // One layer alone as the native file stores each of its layers (record, pixel stream,
    // shape stream): how a layer travels whole between windows and programs.
    static L_INT EncodeLayerBlock(TLayer& layer, std::vector<uint8_t>& block);
    // Reads exactly one block; anything else (short, sizes past its end, a stream that does
    // not decode, bytes left over) gives ERROR_FILE_FORMAT and leaves layer alone.
    static L_INT DecodeLayerBlock(const uint8_t* data, size_t size, std::unique_ptr<TLayer>& layer);
    // Saves a flattened copy of what the view shows (hidden layers left out); this image is
    // not changed.
    L_INT SaveFlat(const char* path, L_INT format, L_INT bpp, L_INT quality);

    TLayerList Layers;
    // The display composite: the background's size; the background's depth and palette
    // for palette images, else 32 bits.
    TLeadBitmapX Composite;
    RECT DirtyRect{};
    bool RecomposeAll = false;
    // Counts Invalidate and InvalidateAll calls. Every change the user can see is
    // invalidated to reach the screen, so an unchanged count means nothing was edited
    // (a scroll may count too: it only costs a needless autosave).
    uint64_t Changes = 0;
    // The colour around the image and under transparent or hidden parts of it.
    COLORREF ViewBackground = RGB(255, 255, 255);

private:
    // Creates or re-creates the composite when the background's size or depth changed.
    L_INT EnsureComposite();
    // The view of layer i if one exists, else the layer itself; never separates.
    TLayer* ExistingViewOrLayer(int index);
    // Merges back a current view left behind by a cursor that moved without a commit.
    void SettleCurrentView();
    void DiscardViews();
    L_INT DropOn(TLayer& dst, const TLayer& src);
    L_INT FlattenLayers(bool hiddenToo);

    int channelMode_ = CHANNEL_AGGREGATED;
    std::unique_ptr<TLayer> currentView_, backgroundView_, otherView_;
    int currentViewIndex_ = -1, otherViewIndex_ = -1;
};
