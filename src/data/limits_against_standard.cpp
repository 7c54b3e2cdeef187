#include "data/limits_against_standard.h"

namespace {

using BandOf = std::optional<SLimitBand> (*)(const CLimits &);

struct SNamedBand {
    const char *pKey;
    BandOf band;
};

const SNamedBand NAMED_BANDS[] = {
    {"Ku", [](const CLimits &l) { return l.TotalDistortion(); }},
    {"K2", [](const CLimits &l) { return l.Unbalance(); }},
    {"dF", [](const CLimits &l) { return l.FrequencyDeviation(); }},
    {"dU", [](const CLimits &l) { return l.VoltageDeviation(); }},
    {"dU100", [](const CLimits &l) { return l.VoltageHardBand(); }},
    {"dF100", [](const CLimits &l) { return l.FrequencyHardBand(); }},
};

} // namespace

std::vector<SBandDifference> BandsDifferingFromStandard(const CLimits &limits)
{
    const CLimits standard = CLimits::Defaults();
    std::vector<SBandDifference> differences;
    const auto compare = [&differences](QString strKey, std::optional<SLimitBand> given,
                                        std::optional<SLimitBand> expected) {
        if (given != expected)
            differences.push_back({std::move(strKey), given, expected});
    };
    for (int n = FIRST_HARMONIC_ORDER; n <= LAST_HARMONIC_ORDER; ++n)
        compare(QStringLiteral("Ku%1").arg(n), limits.Harmonic(n), standard.Harmonic(n));
    for (const SNamedBand &named : NAMED_BANDS)
        compare(QLatin1String(named.pKey), named.band(limits), named.band(standard));
    return differences;
}
