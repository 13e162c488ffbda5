// GIF pictures, read through giflib: the first frame only, on a canvas of the logical screen.
//
// The frame keeps its colour table exactly: 1, 4 or 8 bits by the table's size. A frame with
// a transparent colour (graphic control extension) is decoded to 32 bits instead, that colour
// at alpha 0, since the palette of a toolkit bitmap has no alpha. The canvas around a frame
// smaller than the screen is the background colour, or transparent when the frame has a
// transparent colour. Interlaced frames are put back in order and reported in four passes.
// Indices past the colour table are read as 0.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "Codec.h"

namespace lt::codec {
namespace {

constexpr int kProgressBand = 64;

struct Source {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
};

int ReadBytes(GifFileType* gif, GifByteType* out, int n) {
    auto* s = static_cast<Source*>(gif->UserData);
    const size_t k = std::min(size_t(n < 0 ? 0 : n), s->size - s->pos);
    std::memcpy(out, s->data + s->pos, k);
    s->pos += k;
    return int(k);
}

// An open file positioned at the first frame's pixels.
class Frame {
public:
    ~Frame() {
        int err = 0;
        if (gif_) DGifCloseFile(gif_, &err);
    }

    int Open(const uint8_t* data, size_t size) {
        src_ = Source{data, size};
        int err = 0;
        gif_ = DGifOpen(&src_, ReadBytes, &err);
        if (!gif_) return err == D_GIF_ERR_NOT_ENOUGH_MEM ? ERROR_NO_MEMORY : ERROR_FILE_FORMAT;
        for (;;) {
            GifRecordType type;
            if (DGifGetRecordType(gif_, &type) == GIF_ERROR) return ERROR_FILE_FORMAT;
            if (type == TERMINATE_RECORD_TYPE) return ERROR_FILE_FORMAT; // no frame at all
            if (type == IMAGE_DESC_RECORD_TYPE) break;
            if (type != EXTENSION_RECORD_TYPE) return ERROR_FILE_FORMAT;
            int code = 0;
            GifByteType* ext = nullptr;
            if (DGifGetExtension(gif_, &code, &ext) == GIF_ERROR) return ERROR_FILE_FORMAT;
            if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
                GraphicsControlBlock gcb;
                if (DGifExtensionToGCB(ext[0], ext + 1, &gcb) == GIF_OK)
                    transparent_ = gcb.TransparentColor;
            }
            while (ext) {
                if (DGifGetExtensionNext(gif_, &ext) == GIF_ERROR) return ERROR_FILE_FORMAT;
            }
        }
        if (DGifGetImageDesc(gif_) == GIF_ERROR) return ERROR_FILE_FORMAT;
        const GifImageDesc& d = gif_->Image;
        if (d.Width <= 0 || d.Height <= 0 || d.Left < 0 || d.Top < 0) return ERROR_FILE_FORMAT;
        width_ = gif_->SWidth > 0 ? gif_->SWidth : d.Left + d.Width;
        height_ = gif_->SHeight > 0 ? gif_->SHeight : d.Top + d.Height;
        map_ = d.ColorMap ? d.ColorMap : gif_->SColorMap;
        const int colours = map_ ? map_->ColorCount : 256;
        if (transparent_ >= colours) transparent_ = NO_TRANSPARENT_COLOR;
        bpp_ = transparent_ != NO_TRANSPARENT_COLOR ? 32 : colours <= 2 ? 1 : colours <= 16 ? 4 : 8;
        return SUCCESS;
    }

    GifFileType* gif_ = nullptr;
    Source src_{nullptr, 0};
    ColorMapObject* map_ = nullptr;
    int transparent_ = NO_TRANSPARENT_COLOR;
    int width_ = 0, height_ = 0, bpp_ = 8;
};

RGBQUAD Entry(const ColorMapObject* map, int i) {
    if (!map) return RGBQUAD{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    if (i >= map->ColorCount) return RGBQUAD{};
    const GifColorType& c = map->Colors[i];
    return RGBQUAD{c.Blue, c.Green, c.Red, 0};
}

// Writes `count` indices into row y of the canvas from column x0.
void PutIndices(const Frame& f, BITMAPHANDLE* b, int y, int x0, const GifPixelType* px, int count) {
    uint8_t* row = L_RowPtr(b, y);
    const int colours = f.map_ ? f.map_->ColorCount : 256;
    for (int i = 0; i < count; ++i) {
        const int x = x0 + i;
        int v = px[i] < colours ? px[i] : 0;
        if (f.bpp_ == 32) {
            const RGBQUAD q = Entry(f.map_, v);
            uint8_t* p = row + 4 * size_t(x);
            p[0] = q.rgbBlue;
            p[1] = q.rgbGreen;
            p[2] = q.rgbRed;
            p[3] = v == f.transparent_ ? 0 : 255;
        } else {
            WriteIndex(row, x, f.bpp_, unsigned(v) & ((1u << f.bpp_) - 1));
        }
    }
}

bool Sniff(const uint8_t* data, size_t size) {
    return size >= 6 &&
           (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0);
}

int Info(const uint8_t* data, size_t size, FILEINFO* info) {
    Frame f;
    const int rc = f.Open(data, size);
    if (rc != SUCCESS) return rc;
    info->Format = FILE_GIF;
    info->Width = f.width_;
    info->Height = f.height_;
    info->BitsPerPixel = f.bpp_;
    info->Colors = f.map_ ? f.map_->ColorCount : 256;
    info->Compression = 0;
    info->Passes = f.gif_->Image.Interlace ? 4 : 1;
    // The format stores no resolution.
    EXTFILEOPTIONS ext;
    L_GetExtFileOption(&ext);
    info->XResolution = ext.XResolution;
    info->YResolution = ext.YResolution;
    return SUCCESS;
}

int Load(const uint8_t* data, size_t size, BITMAPHANDLE* out, LoadContext& ctx) {
    Frame f;
    int rc = f.Open(data, size);
    if (rc != SUCCESS) return rc;
    const GifImageDesc d = f.gif_->Image;
    std::vector<GifPixelType> line;
    try {
        line.resize(size_t(d.Width));
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    L_InitBitmap(out, f.width_, f.height_, f.bpp_);
    rc = AllocatePixels(out);
    if (rc != SUCCESS) {
        L_InitBitmap(out, 0, 0, 0);
        return rc;
    }
    EXTFILEOPTIONS ext;
    L_GetExtFileOption(&ext);
    out->XResolution = ext.XResolution;
    out->YResolution = ext.YResolution;
    if (out->pPalette)
        for (int i = 0; i < 256; ++i) out->pPalette[i] = Entry(f.map_, i);

    // The canvas first: background colour, or transparent.
    const int bg = f.gif_->SBackGroundColor < (f.map_ ? f.map_->ColorCount : 256)
                       ? f.gif_->SBackGroundColor
                       : 0;
    std::vector<GifPixelType> fill(size_t(f.width_),
                                   GifPixelType(f.bpp_ == 32 ? f.transparent_ : bg));
    for (int y = 0; y < f.height_; ++y) PutIndices(f, out, y, 0, fill.data(), f.width_);

    // The part of the frame on the canvas.
    const int visibleW = std::max(0, std::min(d.Width, f.width_ - d.Left));
    static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    const int passes = d.Interlace ? 4 : 1;
    int done = 0; // frame rows decoded, in file order
    bool ended = false;
    for (int pass = 0; pass < passes && !ended && rc == SUCCESS; ++pass) {
        const int start = d.Interlace ? kStart[pass] : 0, step = d.Interlace ? kStep[pass] : 1;
        for (int fy = start; fy < d.Height; fy += step) {
            if (DGifGetLine(f.gif_, line.data(), d.Width) == GIF_ERROR) {
                ended = true;
                break;
            }
            ++done;
            const int y = d.Top + fy;
            if (y < f.height_ && visibleW > 0) PutIndices(f, out, y, d.Left, line.data(), visibleW);
        }
        for (int y = 0; !ended && rc == SUCCESS && y < f.height_; y += kProgressBand)
            rc = ctx.Rows(out, y, std::min(kProgressBand, f.height_ - y), pass, passes);
    }
    if (rc == SUCCESS && ended) {
        // An interlaced frame with its first pass whole is a coarse picture and stays as it
        // is; otherwise the rows below the last one decoded are filled.
        if (d.Interlace && done >= (d.Height + 7) / 8)
            rc = ctx.EndedEarly(out, done, f.height_, f.height_);
        else
            rc = ctx.EndedEarly(out, d.Interlace ? 0 : done, d.Top + done, f.height_);
        for (int y = 0; rc == SUCCESS && y < f.height_; y += kProgressBand)
            rc = ctx.Rows(out, y, std::min(kProgressBand, f.height_ - y), passes - 1, passes);
    }
    if (rc != SUCCESS) {
        L_FreeBitmap(out);
        L_InitBitmap(out, 0, 0, 0);
    }
    return rc;
}

bool CanSave(int, int) { return false; }

int Save(const BITMAPHANDLE*, int, int, std::vector<uint8_t>&) {
    return ERROR_FEATURE_NOT_SUPPORTED;
}

bool HandlesFormat(int format) { return format == FILE_GIF; }

} // namespace

extern const Codec kGifCodec = {"gif", Sniff, Info, Load, CanSave, Save, nullptr, HandlesFormat};

} // namespace lt::codec
