#include "AllocationMeter.h"

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstddef>

namespace {

std::atomic<int64_t> g_live{0};
std::atomic<int64_t> g_peak{0};
std::atomic<int64_t> g_base{0};

void Add(size_t n) {
    const int64_t now = g_live.fetch_add(int64_t(n), std::memory_order_relaxed) + int64_t(n);
    int64_t peak = g_peak.load(std::memory_order_relaxed);
    while (now > peak && !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {}
}
void Sub(size_t n) { g_live.fetch_sub(int64_t(n), std::memory_order_relaxed); }

} // namespace

namespace meter {

void Start() {
    const int64_t now = g_live.load();
    g_base.store(now);
    g_peak.store(now);
}

uint64_t Peak() {
    const int64_t d = g_peak.load() - g_base.load();
    return d > 0 ? uint64_t(d) : 0;
}

} // namespace meter

#if defined(__SANITIZE_ADDRESS__)
#define QUILLO_METER_HOOKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLO_METER_HOOKS 1
#endif
#endif

#ifdef QUILLO_METER_HOOKS
// The sanitizer runtime calls these for every allocation (declared here: gcc ships no
// header for them).
extern "C" {
size_t __sanitizer_get_allocated_size(const volatile void* p);
void __sanitizer_malloc_hook(const volatile void*, size_t size) { Add(size); }
void __sanitizer_free_hook(const volatile void* p) {
    if (p) Sub(__sanitizer_get_allocated_size(p));
}
}

#else
// glibc lets a program replace its allocator; these forward to glibc's own and count.
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);

void* malloc(size_t n) {
    void* p = __libc_malloc(n);
    if (p) Add(malloc_usable_size(p));
    return p;
}
void free(void* p) {
    if (!p) return;
    Sub(malloc_usable_size(p));
    __libc_free(p);
}
void* calloc(size_t n, size_t size) {
    void* p = __libc_calloc(n, size);
    if (p) Add(malloc_usable_size(p));
    return p;
}
void* realloc(void* old, size_t n) {
    const size_t before = old ? malloc_usable_size(old) : 0;
    void* p = __libc_realloc(old, n);
    if (p) {
        Sub(before);
        Add(malloc_usable_size(p));
    } else if (n == 0 && old) {
        Sub(before);
    }
    return p;
}
void* memalign(size_t align, size_t n) {
    void* p = __libc_memalign(align, n);
    if (p) Add(malloc_usable_size(p));
    return p;
}
void* aligned_alloc(size_t align, size_t n) { return memalign(align, n); }
int posix_memalign(void** out, size_t align, size_t n) {
    void* p = memalign(align, n);
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}
}
#endif
