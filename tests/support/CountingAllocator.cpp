// Replaces the global operator new (new[] goes through it) and the matching deletes with
// malloc/free and a counter, so that a test can see how many allocations a call makes.
#include "CountingAllocator.h"

#include <cstdlib>
#include <new>

static std::size_t s_allocations = 0;

std::size_t AllocationCount() {
    return s_allocations;
}

void* operator new(std::size_t size) {
    ++s_allocations;
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
