// The file functions: read a file, find the codec by content, decode, convert;
// encode and hand the bytes to the atomic writer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "Codec.h"
#include "PixelAccess.h"
#include "WholeFile.h"

namespace lt::codec {

void FillGrayRows(BITMAPHANDLE* b, int first, int last) {
    first = std::max(first, 0);
    last = std::min(last, b->Height);
    if (first >= last) return;
    const BGRA gray{128, 128, 128, 255};
    // Every pixel of a row is the same, so one row is made and copied.
    uint8_t* row0 = L_RowPtr(b, first);
    for (int x = 0; x < b->Width; ++x) WritePixel(b, row0, x, gray, false);
    for (int y = first + 1; y < last; ++y)
        std::memcpy(L_RowPtr(b, y), row0, size_t(b->BytesPerLine));
}

int LoadContext::EndedEarly(BITMAPHANDLE* b, int rowsDecoded, int first, int last) {
    if (rowsDecoded <= 0) return ERROR_FILE_FORMAT;
    FillGrayRows(b, first, last);
    truncated_ = true;
    return SUCCESS;
}

int LoadContext::FinishRows(BITMAPHANDLE* b, int rowsRead, int height, int rc) {
    constexpr int kBand = 64;
    if (rowsRead < height) rc = EndedEarly(b, rowsRead, rowsRead, height);
    for (int y = 0; rc == SUCCESS && y < height; y += kBand)
        rc = Rows(b, y, std::min(kBand, height - y), 0, 1);
    if (rc != SUCCESS) {
        L_FreeBitmap(b);
        L_InitBitmap(b, 0, 0, 0);
    }
    return rc;
}

const std::vector<const Codec*>& AllCodecs() {
    // The formats without a magic number of their own come last, the weakest last of all.
    // clang-format off
    static const std::vector<const Codec*> codecs = {
        &kEpsCodec, &kPcdCodec, &kFpxCodec,
        &kPngCodec, &kJpegCodec, &kBmpCodec, &kTiffCodec, &kPcxCodec,  &kSunCodec,      &kCalsCodec,
        &kCmpCodec, &kFaxCodec, &kIocaCodec, &kModcaCodec, &kWpgCodec, &kGifCodec, &kPsdCodec,  &kMspCodec, &kGemCodec,  &kPictCodec, &kMacPaintCodec, &kTgaCodec};
    // clang-format on
    return codecs;
}

} // namespace lt::codec

namespace lt {

// Files larger than this are refused before they are read; no supported image of the
// largest allowed size needs more.
constexpr uint64_t kMaxFileBytes = uint64_t(2) << 30;

int ReadWholeFile(const char* path, std::vector<uint8_t>& out) {
    if (!path || !*path) return ERROR_INV_FILENAME;
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ERROR_FILENOTFOUND : ERROR_FILE_OPEN;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return ERROR_FILE_OPEN;
    }
    if (uint64_t(st.st_size) > kMaxFileBytes) {
        ::close(fd);
        return ERROR_NO_MEMORY;
    }
    try {
        // A photo's file is tens of megabytes: faulted in by 4 KB pages, the pages cost
        // more than reading into them.
        out.reserve(size_t(st.st_size));
        lt::PreferHugePages(out.data(), out.capacity());
        out.resize(size_t(st.st_size));
    } catch (...) {
        ::close(fd);
        return ERROR_NO_MEMORY;
    }
    size_t done = 0;
    while (done < out.size()) {
        ssize_t n = ::read(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            return ERROR_FILE_READ;
        }
        done += size_t(n);
    }
    ::close(fd);
    return SUCCESS;
}

} // namespace lt

namespace {

using lt::ReadWholeFile;
using lt::codec::AllCodecs;
using lt::codec::Codec;

EXTFILEOPTIONS g_extOptions;
// Codecs read the options on whatever thread saves (the autosave writes in the
// background) while a new document may set them on the window thread.
std::mutex g_extOptionsLock;
thread_local L_UINT t_loadWarnings = 0;

const Codec* FindCodec(const uint8_t* data, size_t size) {
    for (const Codec* c : AllCodecs())
        if (c->Sniff(data, size)) return c;
    return nullptr;
}

int InfoFromMemory(const uint8_t* data, size_t size, FILEINFO* info) {
    const Codec* codec = FindCodec(data, size);
    if (!codec) return ERROR_FILE_FORMAT;
    FILEINFO fi;
    int rc = codec->Info(data, size, &fi);
    if (rc != SUCCESS) return rc;
    fi.SizeDisk = size;
    L_BytesPerLine(fi.Width, fi.BitsPerPixel, &fi.BytesPerLine);
    fi.SizeMem = uint64_t(fi.BytesPerLine) * uint64_t(fi.Height);
    fi.Order = ORDER_BGR;
    fi.ViewPerspective = TOP_LEFT;
    // Keep the name the caller may have set.
    std::memcpy(fi.Name, info->Name, sizeof fi.Name);
    *info = fi;
    return SUCCESS;
}

// Converts a freshly loaded bitmap to the requested depth; 0 keeps it.
int ConvertLoaded(BITMAPHANDLE* b, int bpp) {
    if (bpp == 0 || bpp == b->BitsPerPixel) return SUCCESS;
    if (!lt::IsValidBpp(bpp)) return ERROR_BITPERPIXEL;
    L_UINT flags = bpp <= 8 ? (CRF_OPTIMIZEDPALETTE | CRF_FLOYDSTEINDITHERING) : CRF_BYTEORDERBGR;
    return L_ColorResBitmap(b, b, bpp, flags, nullptr, 0);
}

int LoadFromMemory(const uint8_t* data, size_t size, BITMAPHANDLE* b, int bpp, int order,
                   FILEREADCALLBACK pfn, void* user, FILEINFO* infoOut) {
    t_loadWarnings = 0;
    if (!b) return ERROR_NO_BITMAP;
    if (bpp != 0 && !lt::IsValidBpp(bpp)) return ERROR_BITPERPIXEL;
    L_InitBitmap(b, 0, 0, 0);
    const Codec* codec = FindCodec(data, size);
    if (!codec) return ERROR_FILE_FORMAT;
    FILEINFO info;
    int rc = InfoFromMemory(data, size, &info);
    if (rc != SUCCESS) return rc;
    lt::codec::LoadContext ctx(pfn, user, &info, size);
    // Past the limits is a bad size whatever the data; within them, the bitmap alone must
    // fit what the file can pay for (codecs check their working memory on top of it).
    rc = L_CheckImageSize(info.Width, info.Height, info.BitsPerPixel, nullptr, nullptr);
    if (rc != SUCCESS) return rc;
    if (info.SizeMem > ctx.Budget()) return ERROR_FILE_FORMAT;
    BITMAPHANDLE out;
    L_InitBitmap(&out, 0, 0, 0);
    rc = codec->Load(data, size, &out, ctx);
    if (rc != SUCCESS) {
        L_FreeBitmap(&out);
        return rc;
    }
    if (ctx.Truncated()) t_loadWarnings |= LOADWARN_TRUNCATED;
    rc = ConvertLoaded(&out, bpp);
    if (rc != SUCCESS) {
        L_FreeBitmap(&out);
        return rc;
    }
    out.Order = order == ORDER_RGB ? ORDER_RGB : ORDER_BGR;
    if (infoOut) *infoOut = info;
    *b = out;
    return SUCCESS;
}

} // namespace

namespace {

int EncodeToMemory(BITMAPHANDLE* b, int format, int bpp, int qfactor, std::vector<uint8_t>& out) {
    if (!lt::IsAllocated(b)) return ERROR_NO_BITMAP;
    if (qfactor < 0 || qfactor > 255) return ERROR_QFACTOR;
    if (bpp == 0) bpp = b->BitsPerPixel;
    const Codec* codec = nullptr;
    for (const Codec* c : AllCodecs())
        if (c->HandlesFormat(format)) codec = c;
    if (!codec) return ERROR_FEATURE_NOT_SUPPORTED;
    if (!codec->CanSave(format, bpp)) {
        // A format we only read is "not supported"; a depth the format cannot hold is a bad depth.
        for (int d : {1, 4, 8, 16, 24, 32})
            if (codec->CanSave(format, d)) return ERROR_BITPERPIXEL;
        return ERROR_FEATURE_NOT_SUPPORTED;
    }
    if (bpp == b->BitsPerPixel) return codec->Save(b, format, qfactor, out);
    // Save a converted copy; the caller's bitmap is left as it was.
    BITMAPHANDLE tmp;
    L_UINT flags = bpp <= 8 ? (CRF_OPTIMIZEDPALETTE | CRF_FLOYDSTEINDITHERING) : CRF_BYTEORDERBGR;
    int rc = L_ColorResBitmap(b, &tmp, bpp, flags, nullptr, 0);
    if (rc != SUCCESS) return rc;
    rc = codec->Save(&tmp, format, qfactor, out);
    L_FreeBitmap(&tmp);
    return rc;
}

} // namespace

L_UINT L_GetLoadWarnings() { return t_loadWarnings; }

uint64_t L_DecodeBudget(uint64_t fileBytes) {
    constexpr uint64_t kBase = uint64_t(64) << 20, kPerByte = 2000;
    return kBase + std::min(fileBytes, uint64_t(1) << 40) * kPerByte;
}

L_INT L_FileInfo(const char* path, FILEINFO* pInfo) {
    if (!pInfo) return ERROR_INV_PARAMETER;
    std::vector<uint8_t> data;
    int rc = ReadWholeFile(path, data);
    if (rc != SUCCESS) return rc;
    std::snprintf(pInfo->Name, sizeof pInfo->Name, "%s", path);
    return InfoFromMemory(data.data(), data.size(), pInfo);
}

L_INT L_FileInfoMemory(const uint8_t* buffer, size_t size, FILEINFO* pInfo) {
    if (!pInfo || (!buffer && size)) return ERROR_INV_PARAMETER;
    return InfoFromMemory(buffer, size, pInfo);
}

L_INT L_LoadFile(const char* path, pBITMAPHANDLE b, L_INT nBitsPerPixel, L_INT nOrder,
                 L_UINT uFlags, FILEREADCALLBACK pfn, void* pUserData) {
    if (!b) return ERROR_NO_BITMAP;
    if (!(uFlags & LOADFILE_ALLOCATE)) return ERROR_INV_PARAMETER;
    std::vector<uint8_t> data;
    int rc = ReadWholeFile(path, data);
    if (rc != SUCCESS) {
        t_loadWarnings = 0;
        L_InitBitmap(b, 0, 0, 0);
        return rc;
    }
    return LoadFromMemory(data.data(), data.size(), b, nBitsPerPixel, nOrder, pfn, pUserData,
                          nullptr);
}

L_INT L_LoadBitmap(const char* path, pBITMAPHANDLE b, L_INT nBitsPerPixel, L_INT nOrder) {
    return L_LoadFile(path, b, nBitsPerPixel, nOrder, LOADFILE_ALLOCATE | LOADFILE_STORE, nullptr,
                      nullptr);
}

L_INT L_LoadBitmapMemory(const uint8_t* buffer, pBITMAPHANDLE b, L_INT nBitsPerPixel, L_INT nOrder,
                         size_t size) {
    if (!buffer && size) return ERROR_INV_PARAMETER;
    return LoadFromMemory(buffer, size, b, nBitsPerPixel, nOrder, nullptr, nullptr, nullptr);
}

L_INT L_SaveBitmap(const char* path, pBITMAPHANDLE b, L_INT nFormat, L_INT nBitsPerPixel,
                   L_INT nQFactor) {
    std::vector<uint8_t> bytes;
    int rc = EncodeToMemory(b, nFormat, nBitsPerPixel, nQFactor, bytes);
    if (rc == SUCCESS && nFormat == FILE_PCX && path) rc = lt::codec::KeepDcxPages(path, bytes);
    if (rc != SUCCESS) return rc;
    return L_WriteFileAtomically(path, bytes.data(), bytes.size());
}

L_INT L_SaveBitmapMemory(uint8_t** ppBuffer, pBITMAPHANDLE b, L_INT nFormat, L_INT nBitsPerPixel,
                         L_INT nQFactor, size_t* pSize) {
    if (!ppBuffer || !pSize) return ERROR_INV_PARAMETER;
    std::vector<uint8_t> bytes;
    int rc = EncodeToMemory(b, nFormat, nBitsPerPixel, nQFactor, bytes);
    if (rc != SUCCESS) return rc;
    auto* buf = static_cast<uint8_t*>(std::malloc(bytes.empty() ? 1 : bytes.size()));
    if (!buf) return ERROR_NO_MEMORY;
    lt::PreferHugePages(buf, bytes.size());
    if (!bytes.empty()) std::memcpy(buf, bytes.data(), bytes.size());
    *ppBuffer = buf;
    *pSize = bytes.size();
    return SUCCESS;
}

L_INT L_GetCompressFileStamp(const char* path, pBITMAPHANDLE b, L_INT nBitsPerPixel) {
    if (!b) return ERROR_NO_BITMAP;
    L_InitBitmap(b, 0, 0, 0);
    std::vector<uint8_t> data;
    int rc = ReadWholeFile(path, data);
    if (rc != SUCCESS) return rc;
    const Codec* codec = FindCodec(data.data(), data.size());
    if (!codec) return ERROR_FILE_FORMAT;
    if (!codec->Stamp) return ERROR_NO_STAMP;
    BITMAPHANDLE out;
    L_InitBitmap(&out, 0, 0, 0);
    rc = codec->Stamp(data.data(), data.size(), &out);
    if (rc == SUCCESS) rc = ConvertLoaded(&out, nBitsPerPixel);
    if (rc != SUCCESS) {
        L_FreeBitmap(&out);
        return rc;
    }
    *b = out;
    return SUCCESS;
}

L_INT L_GetExtFileOption(EXTFILEOPTIONS* pOptions) {
    if (!pOptions) return ERROR_INV_PARAMETER;
    std::lock_guard<std::mutex> lock(g_extOptionsLock);
    *pOptions = g_extOptions;
    return SUCCESS;
}

L_INT L_SetExtFileOption(const EXTFILEOPTIONS* pOptions) {
    if (!pOptions || pOptions->XResolution <= 0 || pOptions->YResolution <= 0)
        return ERROR_INV_PARAMETER;
    std::lock_guard<std::mutex> lock(g_extOptionsLock);
    g_extOptions = *pOptions;
    return SUCCESS;
}
