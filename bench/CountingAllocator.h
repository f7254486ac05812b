// For bench_alloc: a global operator new that counts: allocations (and bytes) made by any code of the
// process, the shared libraries included, since the program's operator new replaces theirs.
#ifndef ZAM_TESTING_COUNTING_ALLOCATOR_H
#define ZAM_TESTING_COUNTING_ALLOCATOR_H

#include <cstddef>

namespace zam::testing {

struct AllocationCount {
    long long allocations;
    long long bytes;
};

// Totals since the program started.
AllocationCount AllocationsSoFar();

} // namespace zam::testing

#endif
