// libtiff reading from and writing to memory instead of files.
#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <mutex>

#include "TiffInternal.h"

namespace lt::codec::tiff {
namespace {

tmsize_t ReadProc(thandle_t h, void* buf, tmsize_t n) {
    auto* s = static_cast<MemStream*>(h);
    const uint8_t* base = s->out ? s->out->data() : s->data;
    size_t avail = s->Size();
    if (n <= 0 || s->pos >= avail) return 0;
    size_t k = std::min(size_t(n), size_t(avail - s->pos));
    std::memcpy(buf, base + s->pos, k);
    s->pos += k;
    return tmsize_t(k);
}

tmsize_t WriteProc(thandle_t h, void* buf, tmsize_t n) {
    auto* s = static_cast<MemStream*>(h);
    if (!s->out || n < 0) return -1;
    uint64_t end = s->pos + uint64_t(n);
    const auto* bytes = static_cast<const uint8_t*>(buf);
    try {
        // Strips are appended; only a move back (the directory's offset) overwrites.
        if (s->pos == s->out->size()) {
            s->out->insert(s->out->end(), bytes, bytes + n);
            s->pos = end;
            return n;
        }
        if (end > s->out->size()) s->out->resize(size_t(end));
    } catch (...) {
        return -1;
    }
    std::memcpy(s->out->data() + s->pos, bytes, size_t(n));
    s->pos = end;
    return n;
}

toff_t SeekProc(thandle_t h, toff_t off, int whence) {
    auto* s = static_cast<MemStream*>(h);
    uint64_t base = whence == SEEK_CUR ? s->pos : whence == SEEK_END ? s->Size() : 0;
    uint64_t target = base + off; // libtiff passes backward moves as wrapped values
    // Classic TIFF offsets are 32 bits; BigTIFF ones beyond a terabyte are nonsense here.
    if (target > (uint64_t(1) << 40)) return toff_t(-1);
    s->pos = target;
    return target;
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t h) { return static_cast<MemStream*>(h)->Size(); }

// Reading maps the caller's buffer, so libtiff decodes strips without copying them.
int MapProc(thandle_t h, void** base, toff_t* size) {
    auto* s = static_cast<MemStream*>(h);
    if (s->out) return 0;
    *base = const_cast<uint8_t*>(s->data);
    *size = s->size;
    return 1;
}
void UnmapProc(thandle_t, void*, toff_t) {}

int OnError(TIFF*, void* user, const char*, const char*, va_list) {
    if (user) static_cast<ErrorState*>(user)->failed = true;
    return 1;
}
int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

} // namespace

TiffPtr Open(MemStream* s, const char* mode, ErrorState* errors, tmsize_t allocLimit) {
    // Messages raised outside any handle would otherwise go to stderr.
    static std::once_flag silenced;
    std::call_once(silenced, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    if (!opts) return nullptr;
    if (allocLimit > 0) TIFFOpenOptionsSetMaxSingleMemAlloc(opts, allocLimit);
    TIFFOpenOptionsSetErrorHandlerExtR(opts, OnError, errors);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, OnWarning, nullptr);
    TIFF* tif = TIFFClientOpenExt("memory", mode, s, ReadProc, WriteProc, SeekProc, CloseProc,
                                  SizeProc, MapProc, UnmapProc, opts);
    TIFFOpenOptionsFree(opts);
    return TiffPtr(tif);
}

tmsize_t ReadAllocLimit(size_t fileSize) {
    return kBaseAllocLimit + tmsize_t(std::min<size_t>(fileSize, size_t(1) << 40));
}

} // namespace lt::codec::tiff
