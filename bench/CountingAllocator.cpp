// Replacement of the global operator new/delete that counts allocations and bytes.
#include "CountingAllocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// Word-sized, so that they are lock-free on the 32-bit target too (no libatomic).
std::atomic<std::size_t> g_allocations{0};
std::atomic<std::size_t> g_bytes{0};

void* Allocate(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    g_bytes.fetch_add(size, std::memory_order_relaxed);
    return std::malloc(size != 0 ? size : 1);
}

} // namespace

namespace zam::testing {

AllocationCount AllocationsSoFar() {
    return {static_cast<long long>(g_allocations.load(std::memory_order_relaxed)),
            static_cast<long long>(g_bytes.load(std::memory_order_relaxed))};
}

} // namespace zam::testing

void* operator new(std::size_t size) {
    if (void* p = Allocate(size)) {
        return p;
    }
    throw std::bad_alloc();
}

void* operator new[](std::size_t size) {
    return operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}

void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
