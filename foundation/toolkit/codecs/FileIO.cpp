// The file functions: read a file, find the codec by content, decode, convert;
// encode and write files so that a failed save never damages the old file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "Codec.h"
#include "WholeFile.h"

namespace lt::codec {

const std::vector<const Codec*>& AllCodecs() {
    static const std::vector<const Codec*> codecs = {&kPngCodec, &kJpegCodec, &kBmpCodec,
                                                     &kTiffCodec};
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
    if (!b) return ERROR_NO_BITMAP;
    if (bpp != 0 && !lt::IsValidBpp(bpp)) return ERROR_BITPERPIXEL;
    L_InitBitmap(b, 0, 0, 0);
    const Codec* codec = FindCodec(data, size);
    if (!codec) return ERROR_FILE_FORMAT;
    FILEINFO info;
    int rc = InfoFromMemory(data, size, &info);
    if (rc != SUCCESS) return rc;
    lt::codec::LoadContext ctx(pfn, user, &info);
    BITMAPHANDLE out;
    L_InitBitmap(&out, 0, 0, 0);
    rc = codec->Load(data, size, &out, ctx);
    if (rc != SUCCESS) {
        L_FreeBitmap(&out);
        return rc;
    }
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

L_INT L_WriteFileAtomically(const char* path, const uint8_t* data, size_t size) {
    if (!path || !*path) return ERROR_INV_FILENAME;
    if (!data && size) return ERROR_INV_PARAMETER;
    std::string target(path);
    std::string dir = ".";
    if (auto slash = target.find_last_of('/'); slash != std::string::npos)
        dir = slash == 0 ? "/" : target.substr(0, slash);
    std::string tmpl = target + ".XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) return ERROR_FILE_OPEN;
    // Keep the permissions of the file we replace; a new file gets the usual 0666 & ~umask.
    struct stat st {};
    if (::stat(path, &st) == 0) {
        ::fchmod(fd, st.st_mode & 07777);
    } else {
        // Reading the mask means setting it; two threads saving at once (an autosave in
        // the background) must not leave each other's zero behind.
        static std::mutex umaskLock;
        std::lock_guard<std::mutex> lock(umaskLock);
        mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            ::unlink(name.data());
            return ERROR_FILE_WRITE;
        }
        done += size_t(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        ::unlink(name.data());
        return ERROR_FILE_WRITE;
    }
    if (::rename(name.data(), path) != 0) {
        ::unlink(name.data());
        return ERROR_FILE_WRITE;
    }
    // Make the rename itself durable.
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return SUCCESS;
}

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
    *pOptions = g_extOptions;
    return SUCCESS;
}

L_INT L_SetExtFileOption(const EXTFILEOPTIONS* pOptions) {
    if (!pOptions || pOptions->XResolution <= 0 || pOptions->YResolution <= 0)
        return ERROR_INV_PARAMETER;
    g_extOptions = *pOptions;
    return SUCCESS;
}
