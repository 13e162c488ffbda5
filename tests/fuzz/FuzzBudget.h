// What every decoder fuzz target shares: the limits it runs with, and the check that a
// load took no more memory than the input's size pays for.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "Toolkit.h"
#include "support/AllocationMeter.h"

namespace fuzz {

// Small limits keep runs quick; QUILLO_FUZZ_REAL_LIMITS=1 runs with the program's own, as
// users meet files, where only the memory budget bounds a hostile header.
inline void SetLimits() {
    static const char* env = std::getenv("QUILLO_FUZZ_REAL_LIMITS");
    static const bool real = env && *env;
    L_SetLimits(real ? L_LIMITS{} : L_LIMITS{4096, 4u << 20});
}

// Measures from construction to Check(): more than the budget is a finding.
class Budget {
public:
    explicit Budget(size_t size) : size_(size) { meter::Start(); }
    void Check() const {
        const uint64_t peak = meter::Peak(), budget = L_DecodeBudget(size_);
        if (peak <= budget) return;
        std::fprintf(stderr, "%zu-byte input took %llu bytes, budget %llu\n", size_,
                     (unsigned long long)peak, (unsigned long long)budget);
        std::abort();
    }

private:
    size_t size_;
};

// Loads the bytes, writes whatever loads back in `format` at `bpp` bits (0: its own) and
// reads the header again: any outcome but a crash, a hang or a leak is fine.
inline int LoadAndSave(const uint8_t* data, size_t size, int format, int bpp = 0) {
    SetLimits();
    BITMAPHANDLE b;
    Budget budget(size);
    const L_INT rc = L_LoadBitmapMemory(data, &b, 0, ORDER_BGR, size);
    budget.Check();
    if (rc == SUCCESS) {
        uint8_t* out = nullptr;
        size_t n = 0;
        if (L_SaveBitmapMemory(&out, &b, format, bpp, 0, &n) == SUCCESS) std::free(out);
        L_FreeBitmap(&b);
    }
    FILEINFO info;
    L_FileInfoMemory(data, size, &info);
    return 0;
}

} // namespace fuzz
