// Pixel blocks held by more than one record. The undo history keeps the pixels of layers a
// command does not change by holding the image's own blocks instead of copies; a block is
// freed with its last holder. Only blocks that are shared are counted, so the records of
// everything else cost one look-up in an empty table when they are freed.
//
// Large blocks freed a moment ago are kept for the next allocation of their size. A fresh
// block's pages are each faulted in and cleared by the kernel on their first write, and on
// a virtual machine that costs more than a pass of most point operations: once the
// history is full every step trims its oldest snapshot, and the next command's result
// would otherwise come in new pages. Two blocks at most are kept, about what one trimmed
// step frees; an allocation that fails frees them and tries again. (Handing the pages back
// to the kernel for it to reclaim when it likes, MADV_FREE, made the next pass over the
// block cost more than the fresh pages it spares.)
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

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

// A sanitizer build must see every freed block freed, or it could not catch a use after
// free.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kKeepBlocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kKeepBlocks = false;
#else
constexpr bool kKeepBlocks = true;
#endif
#else
constexpr bool kKeepBlocks = true;
#endif

constexpr size_t kKeptMin = size_t(8) << 20;     // smaller blocks come from the heap cheaply
constexpr size_t kKeptTotal = size_t(256) << 20; // at most this much held
constexpr size_t kKeptBlocks = 2;

struct TKept {
    uint8_t* block;
    size_t capacity;
};
std::mutex g_keptMutex;
std::vector<TKept> g_kept; // oldest first
size_t g_keptBytes = 0;

// Keeps a block nobody holds any more; false when it should simply be freed.
bool Keep(uint8_t* block) {
    const size_t capacity = malloc_usable_size(block);
    if (!kKeepBlocks || capacity < kKeptMin || capacity > kKeptTotal) return false;
    std::vector<uint8_t*> evicted;
    {
        std::lock_guard lock(g_keptMutex);
        try {
            g_kept.reserve(kKeptBlocks);
        } catch (const std::bad_alloc&) {
            return false;
        }
        while (!g_kept.empty() &&
               (g_kept.size() >= kKeptBlocks || g_keptBytes + capacity > kKeptTotal)) {
            evicted.push_back(g_kept.front().block);
            g_keptBytes -= g_kept.front().capacity;
            g_kept.erase(g_kept.begin());
        }
        g_kept.push_back({block, capacity});
        g_keptBytes += capacity;
    }
    for (uint8_t* b : evicted) std::free(b);
    return true;
}

// A kept block for `bytes` that wastes at most an eighth of itself, or null.
uint8_t* TakeKept(size_t bytes) {
    if (!kKeepBlocks || bytes < kKeptMin) return nullptr;
    std::lock_guard lock(g_keptMutex);
    for (auto it = g_kept.end(); it != g_kept.begin();) {
        --it;
        if (it->capacity >= bytes && it->capacity - bytes <= it->capacity / 8) {
            uint8_t* block = it->block;
            g_keptBytes -= it->capacity;
            g_kept.erase(it);
            return block;
        }
    }
    return nullptr;
}

} // namespace

namespace lt {

void ReleasePixels(uint8_t* block) {
    if (block && Release(block) && !Keep(block)) std::free(block);
}

uint8_t* NewPixelBlock(size_t bytes, bool zeroed) {
    if (bytes == 0) bytes = 1;
    if (uint8_t* kept = TakeKept(bytes)) {
        if (zeroed) std::memset(kept, 0, bytes);
        return kept;
    }
    void* p = zeroed ? std::calloc(bytes, 1) : std::malloc(bytes);
    if (!p && DropKeptBlocks()) p = zeroed ? std::calloc(bytes, 1) : std::malloc(bytes);
    if (p) PreferHugePages(p, bytes);
    return static_cast<uint8_t*>(p);
}

bool DropKeptBlocks() {
    std::vector<TKept> kept;
    {
        std::lock_guard lock(g_keptMutex);
        kept.swap(g_kept);
        g_keptBytes = 0;
    }
    for (const TKept& k : kept) std::free(k.block);
    return !kept.empty();
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
    } else if (!(mine = lt::NewPixelBlock(b->Size, false))) {
        return ERROR_NO_MEMORY;
    }
    std::memcpy(mine, b->Addr, b->Size);
    lt::ReleasePixels(b->Addr);
    b->Addr = mine;
    return SUCCESS;
}
