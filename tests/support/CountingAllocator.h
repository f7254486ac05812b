// Counts the global operator new and new[] calls of the test process.
#ifndef ZAM_TEST_COUNTING_ALLOCATOR_H
#define ZAM_TEST_COUNTING_ALLOCATOR_H

#include <cstddef>

// Allocations made through operator new or new[] since the process started.
std::size_t AllocationCount();

#endif
