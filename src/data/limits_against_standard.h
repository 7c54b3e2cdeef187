// Which bands of a limits table differ from EN 50160's (CLimits::Defaults):
// a report judged against other bands must say so, band by band, rather
// than pass as one after the standard.
#pragma once

#include "data/supply_limits.h"

#include <QString>

#include <optional>
#include <vector>

struct SBandDifference {
    QString strKey;                      // the limits file's name: "Ku5", "dU", "dF100"
    std::optional<SLimitBand> given;     // none: no limit
    std::optional<SLimitBand> standard;  // EN 50160's
};

// In the limits file's order: Ku2 ... Ku40, Ku, K2, dF, dU, dU100, dF100.
// Empty when every band, the 100 % bands too, is EN 50160's.
std::vector<SBandDifference> BandsDifferingFromStandard(const CLimits &limits);
