// Counts the heap memory the process holds, to measure the peak of one operation: through
// the sanitizer's allocation hooks in sanitizer builds, by wrapping glibc's allocator
// otherwise. Every thread's allocations count.
#pragma once

#include <cstdint>

namespace meter {

// Starts a measurement: the peak is taken relative to what is held now.
void Start();
// The most held at once since Start, in bytes.
uint64_t Peak();

} // namespace meter
