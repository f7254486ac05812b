// A point in time on CLOCK_MONOTONIC, so that waits are neither cut short nor stretched
// by signals or clock changes.
#ifndef ZAM_DEADLINE_H
#define ZAM_DEADLINE_H

#include <ctime>

namespace zam::detail {

// CLOCK_MONOTONIC in nanoseconds.
long long MonotonicNs();

class Deadline {
public:
    // Expires `milliseconds` from now; negative values count as 0.
    explicit Deadline(long long milliseconds);

    // Milliseconds left, rounded up, clamped to [0, INT_MAX]: a poll(2) timeout.
    int RemainingMs() const;

private:
    struct timespec m_when;
};

} // namespace zam::detail

#endif
