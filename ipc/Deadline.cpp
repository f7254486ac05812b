// Monotonic deadlines for bounded waits.
#include "Deadline.h"

#include <climits>

namespace zam::detail {

namespace {

constexpr long long kNsPerMs = 1000000;
constexpr long long kNsPerS = 1000000000;

} // namespace

long long MonotonicNs() {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * kNsPerS + now.tv_nsec;
}

Deadline::Deadline(long long milliseconds) : m_when() {
    const long long ms = milliseconds < 0 ? 0 : milliseconds;
    const long long when = MonotonicNs() + ms * kNsPerMs;
    m_when.tv_sec = static_cast<time_t>(when / kNsPerS);
    m_when.tv_nsec = static_cast<long>(when % kNsPerS);
}

int Deadline::RemainingMs() const {
    const long long left =
        static_cast<long long>(m_when.tv_sec) * kNsPerS + m_when.tv_nsec - MonotonicNs();
    if (left <= 0) {
        return 0;
    }
    const long long ms = (left + kNsPerMs - 1) / kNsPerMs;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

} // namespace zam::detail
