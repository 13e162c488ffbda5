// The native layered file (.qlx): every layer with its pixels, position, name and shape.
//
// Layout (all integers little-endian):
//   header, 10 bytes:  "QLX " | header size (6) | layer count | current layer index
//   per layer, bottom first: an 82-byte record, the pixel stream, then the mask stream if any
//     record: size (82) | has mask | flags | X | Y (both int16) | pixel stream bytes |
//             mask stream bytes (u32 each) | name (64 bytes, NUL-terminated, zero-filled)
//     flags: bit 0 set = the layer is hidden; the other bits are written as 0 and ignored,
//             so older files (all 0) load with every layer shown and older readers still
//             load newer files
//   pixel stream: a 32-bit BMP file for layers the user sees at 32 bits (alpha kept), a PNG
//     file at the layer's visible depth otherwise; mask stream: a PNG of the region's 1-bit mask.
//
// The reader parses the file from memory with bounds checks on every field and refuses a
// damaged file with ERROR_FILE_FORMAT without touching the image. The writer builds the whole
// file in memory and replaces the target atomically, so a failed save never damages the old file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "ByteReader.h"
#include "LayeredImage.h"
#include "OwnedBitmap.h"
#include "WholeFile.h"

namespace {

constexpr uint8_t kMagic[4] = {'Q', 'L', 'X', ' '};
constexpr size_t kHeaderBytes = 10;
constexpr size_t kRecordBytes = 82;
constexpr size_t kNameBytes = 64;
constexpr uint16_t kFlagHidden = 1;

void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    Put16(p, uint16_t(v));
    Put16(p + 2, uint16_t(v >> 16));
}

// The stored depth of a layer's pixel stream: what the user sees, where PNG can hold it.
L_INT StreamBpp(const TLayer& layer) {
    if (layer.BitsPerPixel <= 8) return layer.BitsPerPixel;
    if (layer.LogicalBpp == 32) return 32;
    // FIXME: PNG has no 16-bit x1r5g5b5 form, so a 16-bit layer is kept at 24 bits and comes
    // back as a 24-bit layer (no colour is lost: its pixels are stored at 32 bits anyway).
    return 24;
}

// The name field: at most 63 bytes, never cutting a UTF-8 sequence in half.
void PutName(uint8_t* field, const std::string& name) {
    size_t n = name.size();
    if (n > kNameBytes - 1) {
        n = kNameBytes - 1;
        while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
    }
    std::memcpy(field, name.data(), n);
}

} // namespace

bool TLayeredImage::IsNativeFile(const char* path) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    uint8_t magic[4];
    ssize_t n;
    do n = ::read(fd, magic, sizeof magic);
    while (n < 0 && errno == EINTR);
    ::close(fd);
    return n == ssize_t(sizeof magic) && std::memcmp(magic, kMagic, sizeof magic) == 0;
}

L_INT TLayeredImage::Load(const char* path, FILEREADCALLBACK progress, void* user) {
    // Both readers go through the toolkit's file reader, so a missing or unreadable file
    // gives the same code whichever kind it is.
    if (IsNativeFile(path)) return LoadNative(path);

    auto layer = std::make_unique<TLayer>();
    BITMAPHANDLE loaded;
    L_INT rc =
        L_LoadFile(path, &loaded, 0, ORDER_BGR, LOADFILE_ALLOCATE | LOADFILE_STORE, progress, user);
    if (rc != SUCCESS) return rc;
    layer->Adopt(loaded);
    rc = layer->NormalizeDepth();
    if (rc == SUCCESS) rc = L_ChangeBitmapViewPerspective(nullptr, layer.get(), 0);
    if (rc != SUCCESS) return rc;
    layer->Name = "Background";

    DiscardViews();
    Layers.Clear();
    Layers.Append(std::move(layer));
    Layers.Seek(0);
    RecomposeAll = true;
    return SUCCESS;
}

L_INT TLayeredImage::LoadNative(const char* path) {
    std::vector<uint8_t> bytes;
    const L_INT rc = lt::ReadWholeFile(path, bytes);
    if (rc != SUCCESS) return rc;
    return LoadNativeMemory(bytes.data(), bytes.size());
}

namespace {

// One layer's record and streams at r's position, moved past them. ERROR_FILE_FORMAT for
// anything a writer of these files does not produce.
L_INT ReadLayerBlock(lt::ByteReader& r, std::unique_ptr<TLayer>& out) {
    r.u16le(); // record size: records are always 82 bytes
    const bool hasMask = r.u16le() != 0;
    const uint16_t flags = r.u16le();
    const int16_t x = int16_t(r.u16le());
    const int16_t y = int16_t(r.u16le());
    const size_t pixelBytes = r.u32le();
    const size_t maskBytes = r.u32le();
    char name[kNameBytes];
    if (!r.bytes(name, sizeof name)) return ERROR_FILE_FORMAT;
    const void* nul = std::memchr(name, 0, sizeof name);
    if (!nul) return ERROR_FILE_FORMAT;
    if (!r.has(pixelBytes)) return ERROR_FILE_FORMAT;
    // Mask bytes without the mask flag: no writer does that, so the block is damaged.
    if (!hasMask && maskBytes != 0) return ERROR_FILE_FORMAT;

    auto layer = std::make_unique<TLayer>();
    BITMAPHANDLE pixels;
    // A stream the toolkit cannot decode means the block is damaged: it is refused as a
    // whole, because loading a file without that layer would lose it on the next save.
    L_INT rc = L_LoadBitmapMemory(r.here(), &pixels, 0, ORDER_BGR, pixelBytes);
    if (rc == ERROR_NO_MEMORY) return rc;
    // A stream cut short inside the file is damage, not a file that ends early.
    if (rc == SUCCESS && L_GetLoadWarnings() != 0) L_FreeBitmap(&pixels);
    if (rc != SUCCESS || L_GetLoadWarnings() != 0) return ERROR_FILE_FORMAT;
    layer->Adopt(pixels);
    rc = layer->NormalizeDepth();
    if (rc == SUCCESS) rc = L_ChangeBitmapViewPerspective(nullptr, layer.get(), 0);
    if (rc != SUCCESS) return rc;
    r.skip(pixelBytes);

    if (hasMask) {
        if (!r.has(maskBytes)) return ERROR_FILE_FORMAT;
        TLeadBitmap mask;
        BITMAPHANDLE m;
        rc = L_LoadBitmapMemory(r.here(), &m, 0, ORDER_BGR, maskBytes);
        if (rc == ERROR_NO_MEMORY) return rc;
        if (rc == SUCCESS && L_GetLoadWarnings() != 0) L_FreeBitmap(&m);
        if (rc != SUCCESS || L_GetLoadWarnings() != 0) return ERROR_FILE_FORMAT;
        mask.Adopt(m);
        // A shape of another size than its layer cannot have come from this layer.
        if (mask.Width != layer->Width || mask.Height != layer->Height) return ERROR_FILE_FORMAT;
        rc = L_SetBitmapRgnFromMask(layer.get(), nullptr, &mask, L_RGN_SET);
        if (rc != SUCCESS) return rc;
        r.skip(maskBytes);
    }

    layer->Name.assign(name, size_t(static_cast<const char*>(nul) - name));
    layer->X = x;
    layer->Y = y;
    layer->Visible = (flags & kFlagHidden) == 0;
    out = std::move(layer);
    return SUCCESS;
}

// Appends one layer's record and streams to file.
L_INT WriteLayerBlock(TLayer& l, std::vector<uint8_t>& file) {
    // Positions that do not fit the file's 16-bit fields are refused rather than wrapped.
    if (l.X < -32768 || l.X > 32767) return ERROR_XORIGIN;
    if (l.Y < -32768 || l.Y > 32767) return ERROR_YORIGIN;
    struct Stream {
        TMallocBlock data;
        size_t size = 0;
        // Encodes a bitmap into this stream.
        L_INT Save(BITMAPHANDLE* b, L_INT format, L_INT bpp) {
            uint8_t* block = nullptr;
            const L_INT rc = L_SaveBitmapMemory(&block, b, format, bpp, 0, &size);
            data.reset(block);
            return rc;
        }
    } pixels, shape;
    const L_INT bpp = StreamBpp(l);
    L_INT rc = pixels.Save(&l, bpp == 32 ? FILE_BMP : FILE_PNG, bpp);
    if (rc != SUCCESS) return rc;
    if (L_BitmapHasRgn(&l)) {
        TLeadBitmap mask;
        BITMAPHANDLE m;
        rc = L_CreateMaskFromBitmapRgn(&l, &m);
        if (rc != SUCCESS) return rc;
        mask.Adopt(m);
        rc = shape.Save(&mask, FILE_PNG, 0);
        if (rc != SUCCESS) return rc;
    }
    if (pixels.size > 0xFFFFFFFFu || shape.size > 0xFFFFFFFFu) return ERROR_INV_RANGE;
    const size_t at = file.size();
    try {
        file.resize(at + kRecordBytes + pixels.size + shape.size);
    } catch (const std::bad_alloc&) {
        return ERROR_NO_MEMORY;
    }
    uint8_t* p = file.data() + at;
    Put16(p, uint16_t(kRecordBytes));
    Put16(p + 2, shape.data ? 1 : 0);
    Put16(p + 4, l.Visible ? 0 : kFlagHidden);
    Put16(p + 6, uint16_t(l.X));
    Put16(p + 8, uint16_t(l.Y));
    Put32(p + 10, uint32_t(pixels.size));
    Put32(p + 14, uint32_t(shape.size));
    PutName(p + 18, l.Name);
    p += kRecordBytes;
    std::memcpy(p, pixels.data.get(), pixels.size);
    if (shape.size) std::memcpy(p + pixels.size, shape.data.get(), shape.size);
    return SUCCESS;
}

} // namespace

L_INT TLayeredImage::LoadNativeMemory(const uint8_t* data, size_t size) {
    lt::ByteReader r(data, size);
    uint8_t magic[4];
    if (!r.bytes(magic, sizeof magic) || std::memcmp(magic, kMagic, sizeof magic) != 0)
        return ERROR_FILE_FORMAT;
    r.u16le(); // header size: the header is always read as ten bytes
    const size_t count = r.u16le();
    const size_t current = r.u16le();
    if (!r.ok()) return ERROR_FILE_FORMAT;
    if (count > 0 && current >= count) return ERROR_FILE_FORMAT;
    // Every layer needs at least its record: refuse impossible counts before allocating.
    if (count * kRecordBytes > r.remaining()) return ERROR_FILE_FORMAT;

    // Each stream is held to the toolkit's size limits on its own; the layers together may
    // hold a few times that. Without a total, a small file of many well-compressed layers
    // could ask for far more memory than any real picture needs. The sizes the streams
    // declare are added up before the first is decoded.
    const size_t recordsAt = r.pos();
    const uint64_t pixelBudget = 4 * L_GetLimits().MaxPixels;
    const uint64_t memoryBudget = L_DecodeBudget(size);
    uint64_t pixels = 0, bytes = 0;
    for (size_t i = 0; i < count; ++i) {
        r.skip(2 + 2 + 2 + 2 + 2);
        const size_t streams[2] = {r.u32le(), r.u32le()};
        r.skip(kNameBytes);
        for (size_t n : streams) {
            if (!r.has(n)) return ERROR_FILE_FORMAT;
            FILEINFO info;
            if (n > 0) {
                if (L_FileInfoMemory(r.here(), n, &info) != SUCCESS) return ERROR_FILE_FORMAT;
                pixels += uint64_t(info.Width) * uint64_t(info.Height);
                bytes += info.SizeMem;
            }
            r.skip(n);
        }
        if (!r.ok() || pixels > pixelBudget || bytes > memoryBudget) return ERROR_FILE_FORMAT;
    }
    r.seek(recordsAt);
    // Built aside and swapped in only when the whole file was good.
    TLayerList loaded;
    for (size_t i = 0; i < count; ++i) {
        std::unique_ptr<TLayer> layer;
        const L_INT rc = ReadLayerBlock(r, layer);
        if (rc != SUCCESS) return rc;
        loaded.Append(std::move(layer));
    }
    loaded.Seek(int(current));

    DiscardViews();
    Layers.Swap(loaded);
    RecomposeAll = true;
    return SUCCESS;
}

L_INT TLayeredImage::SaveNative(const char* path) {
    CommitChannels(false);
    const int count = Count();
    if (count > 0xFFFF) return ERROR_INV_RANGE;
    std::vector<uint8_t> file(kHeaderBytes);
    std::memcpy(file.data(), kMagic, sizeof kMagic);
    Put16(&file[4], 6);
    Put16(&file[6], uint16_t(count));
    const int current = GetCurrentIndex();
    Put16(&file[8], uint16_t(current >= 0 && current < count ? current : 0));
    for (int i = 0; i < count; ++i) {
        const L_INT rc = WriteLayerBlock(*Layers.At(i), file);
        if (rc != SUCCESS) return rc;
    }
    return L_WriteFileAtomically(path, file.data(), file.size());
}

L_INT TLayeredImage::EncodeLayerBlock(TLayer& layer, std::vector<uint8_t>& block) {
    block.clear();
    return WriteLayerBlock(layer, block);
}

L_INT TLayeredImage::DecodeLayerBlock(const uint8_t* data, size_t size,
                                      std::unique_ptr<TLayer>& layer) {
    lt::ByteReader r(data, size);
    std::unique_ptr<TLayer> read;
    const L_INT rc = ReadLayerBlock(r, read);
    if (rc != SUCCESS) return rc;
    // Bytes after the block: not something we wrote.
    if (!r.ok() || r.remaining() != 0) return ERROR_FILE_FORMAT;
    layer = std::move(read);
    return SUCCESS;
}

L_INT TLayeredImage::SaveFlat(const char* path, L_INT format, L_INT bpp, L_INT quality) {
    CommitChannels(false);
    if (Count() == 0) return ERROR_NO_BITMAP;
    if (Count() == 1 && Layers.At(0)->Visible) {
        TLayer& l = *Layers.At(0);
        return L_SaveBitmap(path, &l, format, bpp ? bpp : l.GetBitsPerPixel(), quality);
    }
    // The file gets what the view shows: the visible layers only, over the view colour where
    // a hidden background leaves the canvas bare (transparent when the user sees 32 bits,
    // since a file has no view around it). A copy is flattened so the user's layers stay.
    TLayeredImage flat;
    L_INT rc = flat.CopyFrom(*this);
    if (rc != SUCCESS) return rc;
    for (int i = flat.Count() - 1; i > 0; --i)
        if (!flat.Layers.At(i)->Visible) flat.Layers.Remove(i);
    TLayer& base = *flat.Layers.At(0);
    if (!base.Visible) {
        L_FreeBitmapRgn(&base);
        const COLORREF fill =
            base.LogicalBpp == 32 ? 0 : (ViewBackground & 0xFFFFFFu) | 0xFF000000u;
        if ((rc = base.FillWithAlpha(fill)) != SUCCESS) return rc;
        base.Visible = true;
    }
    rc = flat.Flatten();
    if (rc != SUCCESS) return rc;
    TLayer& bg = *flat.Layers.At(0);
    return L_SaveBitmap(path, &bg, format, bpp ? bpp : bg.GetBitsPerPixel(), quality);
}
