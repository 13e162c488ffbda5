// Pixel blocks held by more than one record. The undo history keeps the pixels of layers a
// command does not change by holding the image's own blocks instead of copies; a block is
// freed with its last holder. Only blocks that are shared are counted, so the records of
// everything else cost one look-up in an empty table when they are freed.
//
// Large blocks freed a moment ago are kept for the next allocation of their size. A fresh
// block's pages are each faulted in and cleared by the kernel on their first write, and on
// a virtual machine that costs more than a pass of most point operations: once the
// history is full every step trims its oldest snapshot, and the next command's result
// would otherwise come in new pages. Eight blocks at most are kept (256 MB at most): a
// trimmed step frees one, and the colour adjustments and Red Eye free several planes and
// intermediate pictures per run. An allocation that fails frees them and tries again.
// (Handing the pages back to the kernel for it to reclaim when it likes, MADV_FREE, made
// the next pass over the block cost more than the fresh pages it spares.)
#include <malloc.h>

#include <algorithm>
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
constexpr size_t kKeptBlocks = 8;

// A plain array: records freed while the program exits may still come here after the
// objects of this file are destroyed.
struct TKept {
    uint8_t* block;
    size_t capacity;
};
std::mutex g_keptMutex;
TKept g_kept[kKeptBlocks]; // oldest first
size_t g_keptCount = 0, g_keptBytes = 0;

void ForgetKept(size_t i) {
    g_keptBytes -= g_kept[i].capacity;
    for (size_t k = i + 1; k < g_keptCount; ++k) g_kept[k - 1] = g_kept[k];
    --g_keptCount;
}

// Keeps a block nobody holds any more; false when it should simply be freed.
bool Keep(uint8_t* block) {
    if (!kKeepBlocks) return false;
    const size_t capacity = malloc_usable_size(block);
    if (capacity < kKeptMin || capacity > kKeptTotal) return false;
    uint8_t* evicted[kKeptBlocks];
    size_t count = 0;
    {
        std::lock_guard lock(g_keptMutex);
        while (g_keptCount > 0 &&
               (g_keptCount == kKeptBlocks || g_keptBytes + capacity > kKeptTotal)) {
            evicted[count++] = g_kept[0].block;
            ForgetKept(0);
        }
        g_kept[g_keptCount++] = TKept{block, capacity};
        g_keptBytes += capacity;
    }
    for (size_t i = 0; i < count; ++i) std::free(evicted[i]);
    return true;
}

// The newest kept block for `bytes` that wastes at most an eighth of itself, or null.
uint8_t* TakeKept(size_t bytes) {
    if (!kKeepBlocks || bytes < kKeptMin) return nullptr;
    std::lock_guard lock(g_keptMutex);
    for (size_t i = g_keptCount; i-- > 0;) {
        if (g_kept[i].capacity >= bytes && g_kept[i].capacity - bytes <= g_kept[i].capacity / 8) {
            uint8_t* block = g_kept[i].block;
            ForgetKept(i);
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
    TKept kept[kKeptBlocks];
    size_t count;
    {
        std::lock_guard lock(g_keptMutex);
        count = g_keptCount;
        std::copy(g_kept, g_kept + count, kept);
        g_keptCount = 0;
        g_keptBytes = 0;
    }
    for (size_t i = 0; i < count; ++i) std::free(kept[i].block);
    return count != 0;
}

TOwnRows::TOwnRows(pBITMAPHANDLE b) : b_(b) {
    if (!L_IsBitmapShared(b)) return;
    // Bytes past the last row, if the record has any, are no row's to copy.
    const size_t rows = size_t(b->Height) * size_t(b->BytesPerLine);
    block_ = lt::NewPixelBlock(std::max(b->Size, rows), false);
    ok_ = block_ != nullptr;
    if (block_ && b->Size > rows) std::memcpy(block_ + rows, b->Addr + rows, b->Size - rows);
}

TOwnRows::~TOwnRows() {
    if (block_) lt::ReleasePixels(block_);
}

uint8_t* TOwnRows::Target(int y) const {
    uint8_t* shared = L_RowPtr(b_, y);
    return block_ ? block_ + (shared - b_->Addr) : shared;
}

void TOwnRows::Copy(int y, size_t from) const {
    if (block_ && from < size_t(b_->BytesPerLine))
        std::memcpy(Target(y) + from, Source(y) + from, size_t(b_->BytesPerLine) - from);
}

void TOwnRows::Commit() {
    if (!block_) return;
    lt::ReleasePixels(b_->Addr);
    b_->Addr = block_;
    block_ = nullptr;
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
