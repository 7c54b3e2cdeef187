#include "data/limits_against_standard.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

TEST(LimitsAgainstStandardTest, EveryBandThatDiffersIsNamed)
{
    const struct {
        const char *pName;
        std::function<void(CLimits &)> change;
        QStringList expected;
    } cases[] = {
        {"EN 50160's own table", [](CLimits &) {}, {}},
        {"a harmonic raised", [](CLimits &l) { l.SetHarmonic(5, SLimitBand{-INF, 8}); }, {QStringLiteral("Ku5")}},
        {"a harmonic without limit in the standard given one",
         [](CLimits &l) { l.SetHarmonic(27, SLimitBand{-INF, 0.5}); }, {QStringLiteral("Ku27")}},
        {"THD switched off", [](CLimits &l) { l.SetTotalDistortion(std::nullopt); }, {QStringLiteral("Ku")}},
        {"voltage band widened, the frequency's kept",
         [](CLimits &l) { l.SetVoltageDeviation(SLimitBand{-20, 20}); }, {QStringLiteral("dU")}},
        {"an island system's 100 % bands",
         [](CLimits &l) {
             l.SetVoltageHardBand(SLimitBand{-15, 15});
             l.SetFrequencyHardBand(SLimitBand{-7.5, 7.5});
         },
         {QStringLiteral("dU100"), QStringLiteral("dF100")}},
        {"several, in the file's order",
         [](CLimits &l) {
             l.SetUnbalance(SLimitBand{-INF, 3});
             l.SetHarmonic(3, std::nullopt);
         },
         {QStringLiteral("Ku3"), QStringLiteral("K2")}},
    };
    for (const auto &c : cases) {
        CLimits limits = CLimits::Defaults();
        c.change(limits);
        QStringList keys;
        for (const SBandDifference &difference : BandsDifferingFromStandard(limits))
            keys << difference.strKey;
        EXPECT_EQ(keys, c.expected) << c.pName;
    }
    const std::vector<SBandDifference> raised = [] {
        CLimits limits = CLimits::Defaults();
        limits.SetHarmonic(5, SLimitBand{-INF, 8});
        return BandsDifferingFromStandard(limits);
    }();
    ASSERT_EQ(raised.size(), 1u);
    EXPECT_EQ(raised[0].given, (SLimitBand{-INF, 8}));
    EXPECT_EQ(raised[0].standard, (SLimitBand{-INF, 6}));
}

TEST(LimitsAgainstStandardTest, NoLimitAtAllDiffersInEveryStandardBand)
{
    const std::vector<SBandDifference> differences = BandsDifferingFromStandard(CLimits::None());
    for (const SBandDifference &difference : differences)
        EXPECT_FALSE(difference.given.has_value()) << difference.strKey.toStdString();
    // 24 orders, Ku, K2, dF, dU at least; the 100 % bands where the
    // standard's table has them.
    EXPECT_GE(differences.size(), 28u);
}

} // namespace
