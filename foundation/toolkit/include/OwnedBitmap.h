// Owners for what the toolkit hands out: a bitmap record that is initialised empty and freed
// exactly once, and the malloc'ed blocks of L_SaveBitmapMemory and L_ChangeToDIB.
#pragma once

#include <cstdlib>
#include <memory>
#include <utility>

#include "Toolkit.h"

// Move-only: moving hands over the pixels, palette and region and leaves the source empty,
// so no two owners ever free the same block.
class TOwnedBitmap {
public:
    TOwnedBitmap() = default;
    ~TOwnedBitmap() { L_FreeBitmap(&b_); }
    TOwnedBitmap(TOwnedBitmap&& o) noexcept : b_(std::exchange(o.b_, BITMAPHANDLE{})) {}
    TOwnedBitmap& operator=(TOwnedBitmap&& o) noexcept {
        if (this != &o) {
            L_FreeBitmap(&b_);
            b_ = std::exchange(o.b_, BITMAPHANDLE{});
        }
        return *this;
    }
    TOwnedBitmap(const TOwnedBitmap&) = delete;
    TOwnedBitmap& operator=(const TOwnedBitmap&) = delete;

    BITMAPHANDLE* get() { return &b_; }
    const BITMAPHANDLE* get() const { return &b_; }
    BITMAPHANDLE* operator->() { return &b_; }
    const BITMAPHANDLE* operator->() const { return &b_; }
    BITMAPHANDLE& operator*() { return b_; }
    const BITMAPHANDLE& operator*() const { return b_; }

    // Frees the content; the record is empty afterwards.
    void Reset() { L_FreeBitmap(&b_); }
    // Gives the content to the caller, who frees it from now on.
    BITMAPHANDLE Release() { return std::exchange(b_, BITMAPHANDLE{}); }

private:
    BITMAPHANDLE b_;
};

struct TFreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
// A block from malloc, freed with free.
using TMallocBlock = std::unique_ptr<uint8_t[], TFreeDeleter>;
