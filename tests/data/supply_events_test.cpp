// Interruptions, dips and swells found in the phase voltages, the intervals
// they flag and EN 50160's tables they are counted in.
#include "data/report_intervals.h"
#include "data/supply_events.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

// 2026-10-19T00:00:00+03:00, on a 10-minute tick of UTC.
constexpr qint64 T0 = 1792357200;
constexpr qint64 I0 = T0 / INTERVAL_SECONDS;

using EKind = ESupplyEventKind;

// nCount readings from T0 + nFrom, one per spacing, all with these dU.
struct SStretch {
    qint64 nFrom;
    int nCount;
    double dA, dB, dC;
};

struct SReading {
    qint64 nUtcSeconds;
    double dA, dB, dC;
};

// The readings of stretches at the set's spacing, with readings within
// +-10 % before, between and after them, as a log holds them.
std::vector<SReading> ReadingsOf(const std::vector<SStretch> &stretches, EDataSet eSet)
{
    const qint64 nSpacing = eSet == EDataSet::Second ? 1 : 60;
    std::vector<SReading> readings;
    qint64 nNext = -10 * nSpacing;
    for (const SStretch &s : stretches) {
        for (; nNext < s.nFrom; nNext += nSpacing)
            readings.push_back({T0 + nNext, 1.5, -2.0, 9.99});
        for (int i = 0; i < s.nCount; ++i, nNext += nSpacing)
            readings.push_back({T0 + nNext, s.dA, s.dB, s.dC});
    }
    for (int i = 0; i < 10; ++i, nNext += nSpacing)
        readings.push_back({T0 + nNext, -9.99, 10.0, -10.0});
    return readings;
}

CEventTally TallyOf(const std::vector<SReading> &readings, EDataSet eSet)
{
    CEventTally tally(eSet);
    for (const SReading &r : readings)
        tally.Add(r.nUtcSeconds, r.dA, r.dB, r.dC);
    return tally;
}

struct SExpected {
    EKind eKind;
    qint64 nFrom; // seconds from T0
    qint64 nTo;
    const char *pPhases;
    double dExtreme;
};

void ExpectEvents(const std::vector<SSupplyEvent> &events, const std::vector<SExpected> &expected)
{
    ASSERT_EQ(events.size(), expected.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(events[i].eKind, expected[i].eKind);
        EXPECT_EQ(events[i].nStartMsecs, (T0 + expected[i].nFrom) * 1000);
        EXPECT_EQ(events[i].nEndMsecs, (T0 + expected[i].nTo) * 1000);
        EXPECT_EQ(events[i].strPhases, QString::fromLatin1(expected[i].pPhases));
        EXPECT_EQ(events[i].dExtreme, expected[i].dExtreme);
    }
}

TEST(SupplyEventsTest, RunsOfReadingsBeyondTenPercentMakeEvents)
{
    const struct {
        const char *pName;
        EDataSet eSet;
        std::vector<SStretch> stretches;
        std::vector<SExpected> events;
    } cases[] = {
        {"interruption of 3 min, per second", EDataSet::Second,
         {{100, 180, -100, -100, -100}},
         {{EKind::Interruption, 100, 280, "ABC", -100}}},
        {"interruption of 3 min, per minute", EDataSet::Minute,
         {{120, 3, -99, -100, -95}},
         {{EKind::Interruption, 120, 300, "ABC", -100}}},
        {"interruption of one second at the edge -95", EDataSet::Second,
         {{5, 1, -95, -95, -95}},
         {{EKind::Interruption, 5, 6, "ABC", -95}}},
        {"one phase above -95 is a dip, not an interruption", EDataSet::Second,
         {{5, 2, -100, -100, -94.99}},
         {{EKind::Dip, 5, 7, "ABC", -100}}},
        {"a reading back within the band splits an interruption", EDataSet::Second,
         {{0, 3, -100, -100, -100}, {4, 2, -100, -100, -100}},
         {{EKind::Interruption, 0, 3, "ABC", -100}, {EKind::Interruption, 4, 6, "ABC", -100}}},
        {"dip of 5 s on A", EDataSet::Second,
         {{20, 2, -12, 0, 0}, {22, 1, -31.5, 0, 0}, {23, 2, -20, 5, 9}},
         {{EKind::Dip, 20, 25, "A", -31.5}}},
        {"dip of 60 s is an event", EDataSet::Second,
         {{0, 60, -50, -50, -50}},
         {{EKind::Dip, 0, 60, "ABC", -50}}},
        {"dip of 61 s is a variation, no event", EDataSet::Second,
         {{0, 61, -50, -50, -50}},
         {}},
        {"swell of 3 s on C", EDataSet::Second,
         {{7, 1, 0, 0, 12}, {8, 2, 0, 0, 15.25}},
         {{EKind::Swell, 7, 10, "C", 15.25}}},
        {"swell of 61 s is no event", EDataSet::Second,
         {{7, 61, 0, 0, 12}},
         {}},
        {"two runs with a gap", EDataSet::Second,
         {{10, 3, 0, -20, 0}, {14, 2, 0, -25, 0}},
         {{EKind::Dip, 10, 13, "B", -20}, {EKind::Dip, 14, 16, "B", -25}}},
        {"phases that went below in a run", EDataSet::Second,
         {{10, 2, 0, -20, 0}, {12, 2, 0, 0, -15}},
         {{EKind::Dip, 10, 14, "BC", -20}}},
        {"a dip on one phase and a swell on another at once", EDataSet::Second,
         {{10, 2, -20, 15, 0}},
         {{EKind::Dip, 10, 12, "A", -20}, {EKind::Swell, 10, 12, "B", 15}}},
        {"the fall and return of an interruption are part of it", EDataSet::Second,
         {{50, 3, -60, -40, -80}, {53, 180, -100, -100, -100}, {233, 2, -30, -100, -20}},
         {{EKind::Interruption, 50, 235, "ABC", -100}}},
        {"a short return between two losses of supply: one interruption", EDataSet::Second,
         {{0, 10, -100, -100, -100}, {10, 20, -50, -50, -50}, {30, 10, -100, -100, -100}},
         {{EKind::Interruption, 0, 40, "ABC", -100}}},
        {"a variation before an interruption stays apart from it", EDataSet::Second,
         {{0, 61, -50, -50, -50}, {61, 10, -100, -100, -100}, {71, 3, -40, 0, 0}},
         {{EKind::Interruption, 61, 74, "ABC", -100}}},
        {"a variation between two interruptions", EDataSet::Second,
         {{0, 5, -100, -100, -100}, {5, 70, -50, -50, -50}, {75, 5, -100, -100, -100}},
         {{EKind::Interruption, 0, 5, "ABC", -100}, {EKind::Interruption, 75, 80, "ABC", -100}}},
        {"per minute, dips and swells are not seen", EDataSet::Minute,
         {{0, 1, -50, -50, -50}, {60, 1, -94, -100, -100}, {120, 1, 20, 20, 20}},
         {}},
        {"per minute, a minute short of -95 splits an interruption", EDataSet::Minute,
         {{0, 2, -100, -100, -100}, {120, 1, -90, -100, -100}, {180, 1, -100, -100, -100}},
         {{EKind::Interruption, 0, 120, "ABC", -100}, {EKind::Interruption, 180, 240, "ABC", -100}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        ExpectEvents(TallyOf(ReadingsOf(c.stretches, c.eSet), c.eSet).Events(), c.events);
    }
}

TEST(SupplyEventsTest, ReadingsOutOfOrderAndTwiceGiveTheSameEvents)
{
    const std::vector<SStretch> stretches = {
        {10, 3, -20, 0, 0}, {14, 2, 0, 30, 0}, {30, 180, -100, -100, -100}, {300, 5, 0, 0, -60}};
    std::vector<SReading> readings = ReadingsOf(stretches, EDataSet::Second);
    const std::vector<SSupplyEvent> inOrder = TallyOf(readings, EDataSet::Second).Events();
    ASSERT_EQ(inOrder.size(), 4u);

    // Overlapping logs: every reading twice. Where a copy differs, the one
    // given first is taken, as by the intervals' tally (which gives the
    // events only the readings it took: a reading within the band is never
    // followed by another of its second).
    std::vector<SReading> twice = readings;
    for (SReading r : readings) {
        if (r.dA < -10 || r.dB > 10 || r.dC < -10)
            r.dA -= 30;
        twice.push_back(r);
    }
    std::shuffle(twice.begin() + std::ptrdiff_t(readings.size()), twice.end(), std::mt19937(23));
    std::shuffle(twice.begin(), twice.begin() + std::ptrdiff_t(readings.size()), std::mt19937(5));
    const std::vector<SSupplyEvent> shuffled = TallyOf(twice, EDataSet::Second).Events();
    ASSERT_EQ(shuffled.size(), inOrder.size());
    for (std::size_t i = 0; i < inOrder.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(shuffled[i].eKind, inOrder[i].eKind);
        EXPECT_EQ(shuffled[i].nStartMsecs, inOrder[i].nStartMsecs);
        EXPECT_EQ(shuffled[i].nEndMsecs, inOrder[i].nEndMsecs);
        EXPECT_EQ(shuffled[i].strPhases, inOrder[i].strPhases);
        EXPECT_EQ(shuffled[i].dExtreme, inOrder[i].dExtreme);
    }
}

TEST(SupplyEventsTest, IntervalsHoldingAReadingOfAnEventAreFlagged)
{
    const struct {
        const char *pName;
        EDataSet eSet;
        std::vector<SStretch> stretches;
        std::vector<qint64> flagged; // intervals from I0
    } cases[] = {
        {"within one interval", EDataSet::Second, {{100, 5, -20, 0, 0}}, {0}},
        {"across a boundary flags both", EDataSet::Second, {{598, 5, -20, 0, 0}}, {0, 1}},
        {"ending on a boundary flags one", EDataSet::Second, {{595, 5, 0, 15, 0}}, {0}},
        {"starting on a boundary flags one", EDataSet::Second, {{600, 5, 0, 15, 0}}, {1}},
        {"an interruption of 25 min", EDataSet::Second, {{590, 1500, -100, -100, -100}}, {0, 1, 2, 3}},
        {"a variation flags nothing", EDataSet::Second, {{590, 100, -12, 0, 0}}, {}},
        {"per minute, an interruption across a boundary", EDataSet::Minute,
         {{540, 2, -100, -100, -100}}, {0, 1}},
        {"per minute, a dip flags nothing", EDataSet::Minute, {{540, 2, -50, -50, -50}}, {}},
        {"events in two intervals apart", EDataSet::Second,
         {{10, 1, 0, 0, 11}, {1800, 1, -100, -100, -100}}, {0, 3}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        std::set<qint64> expected;
        for (qint64 n : c.flagged)
            expected.insert(I0 + n);
        EXPECT_EQ(TallyOf(ReadingsOf(c.stretches, c.eSet), c.eSet).FlaggedIntervals(), expected);
    }
}

SSupplyEvent EventOf(EKind eKind, qint64 nMsecs, double dExtreme)
{
    SSupplyEvent event;
    event.eKind = eKind;
    event.nStartMsecs = T0 * 1000;
    event.nEndMsecs = T0 * 1000 + nMsecs;
    event.strPhases = QStringLiteral("A");
    event.dExtreme = dExtreme;
    return event;
}

TEST(SupplyEventsTest, DipsAreCountedByResidualVoltageAndDuration)
{
    const struct {
        const char *pName;
        qint64 nMsecs;
        double dU;
        int nRow; // -1: not counted
        int nColumn;
    } cases[] = {
        {"u 89 over 1 s", 1000, -11, 0, 2},
        {"u 80 is the first row's", 1000, -20, 0, 2},
        {"u 79.99", 1000, -20.01, 1, 2},
        {"u 70", 2000, -30, 1, 3},
        {"u 69", 5000, -31, 2, 3},
        {"u 40", 5001, -60, 2, 4},
        {"u 39", 60000, -61, 3, 4},
        {"u 5", 3000, -95, 3, 3},
        {"u 4.9", 3000, -95.1, 4, 3},
        {"u 0", 1000, -100, 4, 2},
        {"200 ms", 200, -15, 0, 0},
        {"201 ms", 201, -15, 0, 1},
        {"500 ms", 500, -15, 0, 1},
        {"longer than a minute", 60001, -15, -1, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        const SDipTable table = DipTableOf({EventOf(EKind::Dip, c.nMsecs, c.dU)}, EDataSet::Second);
        int nCounted = 0;
        for (int r = 0; r < DIP_RESIDUAL_BANDS; ++r)
            for (int k = 0; k < DIP_DURATION_BANDS; ++k)
                nCounted += table.counts[std::size_t(r)][std::size_t(k)];
        EXPECT_EQ(nCounted, c.nRow < 0 ? 0 : 1);
        if (c.nRow >= 0) {
            EXPECT_EQ(table.counts[std::size_t(c.nRow)][std::size_t(c.nColumn)], 1);
        }
    }

    // Interruptions and swells are no dips; dips add up in their cell.
    const SDipTable table = DipTableOf({EventOf(EKind::Interruption, 1000, -100), EventOf(EKind::Swell, 1000, 15),
                                        EventOf(EKind::Dip, 3000, -50), EventOf(EKind::Dip, 4000, -45)},
                                       EDataSet::Second);
    SDipTable expected;
    expected.counts[2][3] = 2;
    EXPECT_EQ(table.counts, expected.counts);
}

TEST(SupplyEventsTest, TablesShowTheColumnsReadingsCanFill)
{
    using SShown = std::array<bool, DIP_DURATION_BANDS>;
    EXPECT_EQ(DipTableOf({}, EDataSet::Second).shown, (SShown{false, false, true, true, true}));
    EXPECT_EQ(DipTableOf({}, EDataSet::Minute).shown, SShown{});
    EXPECT_EQ(SwellTableOf({}, EDataSet::Second).shown, (SShown{false, false, true, true, true}));
    EXPECT_EQ(SwellTableOf({}, EDataSet::Minute).shown, SShown{});

    // A dip found in the readings lands in a shown column.
    std::vector<SReading> readings = ReadingsOf({{0, 1, -50, 0, 0}, {5, 30, 0, -25, 0}}, EDataSet::Second);
    const SDipTable table = DipTableOf(TallyOf(readings, EDataSet::Second).Events(), EDataSet::Second);
    EXPECT_EQ(table.counts[2][2], 1);
    EXPECT_EQ(table.counts[1][4], 1);
}

TEST(SupplyEventsTest, SwellsAreCountedByVoltageAndDuration)
{
    const struct {
        const char *pName;
        qint64 nMsecs;
        double dU;
        int nRow;
        int nColumn;
    } cases[] = {
        {"u 120", 1000, 20, 0, 2},
        {"u 135 over 10 s", 10000, 35, 0, 4},
        {"u 119.99", 2000, 19.99, 1, 3},
        {"u 110.01", 1000, 10.01, 1, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        SSwellTable expected;
        expected.counts[std::size_t(c.nRow)][std::size_t(c.nColumn)] = 1;
        const std::vector<SSupplyEvent> events = {EventOf(EKind::Swell, c.nMsecs, c.dU),
                                                  EventOf(EKind::Dip, c.nMsecs, -c.dU)};
        EXPECT_EQ(SwellTableOf(events, EDataSet::Second).counts, expected.counts);
    }
}

} // namespace
