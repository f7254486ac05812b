// Reports whose image follows from their network number, so that a damaged or misplaced
// frame shows in the report that arrives.
#ifndef ZAM_TEST_REPORTS_H
#define ZAM_TEST_REPORTS_H

#include "LxTarvexDetectedMacMsg.h"

#include <memory>

using Report = std::unique_ptr<LxTarvexDetectedMacMsg>;

inline std::bitset<128> ImageOf(int network) {
    const auto n = static_cast<unsigned long long>(network);
    return (std::bitset<128>(n * 0x9E3779B97F4A7C15ULL) << 40 | std::bitset<128>(n)).set(127);
}

inline Report ReportOf(int network) {
    return std::make_unique<LxTarvexDetectedMacMsg>(static_cast<unsigned short>(network),
                                                    new std::bitset<128>(ImageOf(network)));
}

// The report of `network`, whole, in a bitset of its own.
inline bool Intact(const Report& report, int network) {
    return report != nullptr && report->GetNetworkNumber() == network &&
           report->GetActiveMacImage() != nullptr && *report->GetActiveMacImage() == ImageOf(network);
}

#endif
