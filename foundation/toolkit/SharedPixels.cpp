// Pixel blocks held by more than one record. The undo history keeps the pixels of layers a
// command does not change by holding the image's own blocks instead of copies; a block is
// freed with its last holder. Only blocks that are shared are counted, so the records of
// everything else cost one look-up in an empty table when they are freed.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

#include "BitmapInternal.h"

namespace {

std::mutex g_mutex;
// Holders beyond the first, by block.
std::unordered_map<const uint8_t*, size_t> g_extra;
// Entries in g_extra: freeing skips the lock while nothing is shared.
std::atomic<size_t> g_entries{0};

void Hold(const uint8_t* block) {
    std::lock_guard lock(g_mutex);
    if (++g_extra[block] == 1) ++g_entries;
}

// Drops one holder; true when it was the last.
bool Release(const uint8_t* block) {
    if (g_entries.load(std::memory_order_acquire) == 0) return true;
    std::lock_guard lock(g_mutex);
    const auto it = g_extra.find(block);
    if (it == g_extra.end()) return true;
    if (--it->second == 0) {
        g_extra.erase(it);
        --g_entries;
    }
    return false;
}

} // namespace

namespace lt {

void ReleasePixels(uint8_t* block) {
    if (block && Release(block)) std::free(block);
}

} // namespace lt

L_INT L_ShareBitmap(pBITMAPHANDLE dst, const BITMAPHANDLE* src) {
    if (!dst || !src || !src->Flags.Allocated || !src->Addr) return ERROR_NO_BITMAP;
    if (dst == src) return SUCCESS;
    BITMAPHANDLE copy = *src;
    copy.pPalette = nullptr;
    copy.pRgn = nullptr;
    if (src->pPalette) {
        copy.pPalette = new (std::nothrow) RGBQUAD[256];
        if (!copy.pPalette) return ERROR_NO_MEMORY;
        std::memcpy(copy.pPalette, src->pPalette, sizeof(RGBQUAD) * 256);
    }
    if (src->pRgn && !(copy.pRgn = L_CopyRgn(src->pRgn))) {
        delete[] copy.pPalette;
        return ERROR_NO_MEMORY;
    }
    try {
        Hold(src->Addr);
    } catch (const std::bad_alloc&) {
        delete[] copy.pPalette;
        L_DeleteRgn(copy.pRgn);
        return ERROR_NO_MEMORY;
    }
    *dst = copy;
    return SUCCESS;
}

bool L_IsBitmapShared(const BITMAPHANDLE* b) {
    if (!b || !b->Addr || g_entries.load(std::memory_order_acquire) == 0) return false;
    std::lock_guard lock(g_mutex);
    return g_extra.count(b->Addr) != 0;
}

L_INT L_UnshareBitmap(pBITMAPHANDLE b, pBITMAPHANDLE spare) {
    if (!L_IsBitmapShared(b)) return SUCCESS;
    uint8_t* mine = nullptr;
    if (spare && spare->Addr && spare->Size == b->Size && !L_IsBitmapShared(spare)) {
        mine = spare->Addr;
        spare->Addr = nullptr;
        spare->Flags.Allocated = false;
    } else if (!(mine = static_cast<uint8_t*>(std::malloc(b->Size ? b->Size : 1)))) {
        return ERROR_NO_MEMORY;
    }
    std::memcpy(mine, b->Addr, b->Size);
    lt::ReleasePixels(b->Addr);
    b->Addr = mine;
    return SUCCESS;
}
