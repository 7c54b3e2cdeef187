// The worker's timing on a virtual clock: phase kept and missed ticks
// skipped, back-off of a failing meter, a silent meter's cost to the others,
// a new configuration that keeps what did not change, and the day read at
// local time across a change of the clocks.
#include "service/poll_schedule.h"

#include "local_zone.h"

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <map>

namespace {

constexpr qint64 S = 1000;

SMeterConfig Meter(const char *pName, int nSecond, int nMinute = 0, int nDayMinute = -1)
{
    SMeterConfig meter;
    meter.strName = QString::fromLatin1(pName);
    meter.nDevice = 1;
    meter.nSecondInterval = nSecond;
    meter.nMinuteInterval = nMinute;
    meter.nDayMinute = nDayMinute;
    return meter;
}

SPollClock At(qint64 nSteadyMs, qint64 nWallMs = 1'700'000'000'000)
{
    return {nSteadyMs, nWallMs};
}

// Runs the line for nForMs: each job takes what fnCost says and succeeds
// unless fnFails says otherwise. Gives the successful reads per meter.
std::map<int, int> RunLine(CPollSchedule &schedule, qint64 nForMs, const std::function<qint64(SPollJob)> &fnCost,
                           const std::function<bool(SPollJob)> &fnFails)
{
    std::map<int, int> reads;
    qint64 nNow = 0;
    while (nNow < nForMs) {
        qint64 nWait = 0;
        const auto job = schedule.NextJob(At(nNow), &nWait);
        if (!job)
            break;
        nNow += nWait;
        nNow += fnCost(*job);
        const bool bOk = !fnFails(*job);
        if (bOk)
            ++reads[job->nMeter];
        schedule.Done(*job, bOk, At(nNow));
    }
    return reads;
}

qint64 Wall(const char *pIso, const char *pZone)
{
    return QDateTime::fromString(QString::fromLatin1(pIso), Qt::ISODate)
        .toTimeZone(QTimeZone(pZone))
        .toMSecsSinceEpoch();
}

} // namespace

TEST(PollSchedule, KeepsThePhaseAndSkipsTicksThatPassedWhileTheLineWasBusy)
{
    CPollSchedule schedule;
    schedule.SetMeters({Meter("a", 10)}, 300, At(0));
    qint64 nWait = -1;
    ASSERT_TRUE(schedule.NextJob(At(0), &nWait));
    EXPECT_EQ(nWait, 0); // a new meter is due at once

    schedule.Done({0, EDataSet::Second}, true, At(700));
    schedule.NextJob(At(700), &nWait);
    EXPECT_EQ(nWait, 10 * S - 700) << "the next tick keeps the phase of the first";

    // The line was held up for 35 s: the tick at 30 s is read at once,
    // those at 10 and 20 s are not replayed.
    schedule.Done({0, EDataSet::Second}, true, At(35 * S));
    schedule.NextJob(At(35 * S), &nWait);
    EXPECT_EQ(nWait, 0);
    schedule.Done({0, EDataSet::Second}, true, At(35 * S + 300));
    schedule.NextJob(At(35 * S + 300), &nWait);
    EXPECT_EQ(nWait, 5 * S - 300) << "back on the phase of the first";
}

TEST(PollSchedule, AReadSlowerThanItsIntervalRunsBackToBack)
{
    CPollSchedule schedule;
    schedule.SetMeters({Meter("a", 1)}, 300, At(0));
    const auto reads = RunLine(
        schedule, 60 * S, [](SPollJob) { return 1230; }, [](SPollJob) { return false; });
    EXPECT_EQ(reads.at(0), 49); // 60 s / 1.23 s, rounded up: the line never idles
}

TEST(PollSchedule, AFailingMeterWaitsTwiceAsLongEachTimeUpToTheLongestBackOff)
{
    struct SCase {
        const char *pName;
        int nInterval;
        int nMaxBackoff;
        std::vector<qint64> expectedWaits; // after the 1st, 2nd, ... failure
    };
    const SCase cases[] = {
        {"doubles up to the cap", 10, 60, {20 * S, 40 * S, 60 * S, 60 * S}},
        {"an interval above the cap stays", 600, 300, {600 * S, 600 * S}},
        {"a cap below the first doubling", 10, 15, {15 * S, 15 * S}},
    };
    for (const SCase &c : cases) {
        SCOPED_TRACE(c.pName);
        CPollSchedule schedule;
        schedule.SetMeters({Meter("a", c.nInterval)}, c.nMaxBackoff, At(0));
        qint64 nNow = 0;
        for (const qint64 nExpected : c.expectedWaits) {
            schedule.Done({0, EDataSet::Second}, false, At(nNow));
            qint64 nWait = 0;
            schedule.NextJob(At(nNow), &nWait);
            EXPECT_EQ(nWait, nExpected);
            nNow += nWait;
        }
        // The first success brings the configured rate back.
        schedule.Done({0, EDataSet::Second}, true, At(nNow));
        EXPECT_EQ(schedule.Failures(0), 0);
        qint64 nWait = 0;
        schedule.NextJob(At(nNow), &nWait);
        EXPECT_EQ(nWait, qint64(c.nInterval) * S);
    }
}

TEST(PollSchedule, AFailureHoldsBackEveryReadOfThatMeter)
{
    CPollSchedule schedule;
    schedule.SetMeters({Meter("a", 10, 60)}, 300, At(0));
    schedule.Done({0, EDataSet::Second}, false, At(1500));
    // The minute read, due too, is not tried at once against a silent meter.
    qint64 nWait = 0;
    const auto job = schedule.NextJob(At(1500), &nWait);
    ASSERT_TRUE(job);
    EXPECT_EQ(nWait, 20 * S);
    EXPECT_EQ(job->eSet, EDataSet::Second);
}

TEST(PollSchedule, ASilentMeterCostsTheOthersLittleOfTheirRate)
{
    // Eight meters read every 4 s; a good read takes 0.5 s, the silent
    // meter's read runs into its time-out after 1.4 s. Tried at every tick,
    // the silent meter would leave the others about 90 % of their rate.
    std::vector<SMeterConfig> meters;
    for (int i = 0; i < 8; ++i)
        meters.push_back(Meter(QByteArray::number(i).constData(), 4));
    CPollSchedule schedule;
    schedule.SetMeters(meters, 300, At(0));
    const qint64 nTenMinutes = 600 * S;
    const auto reads = RunLine(
        schedule, nTenMinutes, [](SPollJob job) { return job.nMeter == 7 ? 1400 : 500; },
        [](SPollJob job) { return job.nMeter == 7; });
    for (int i = 0; i < 7; ++i)
        EXPECT_GE(reads.at(i), 143) << "meter " << i; // 95 % of 150 ticks in ten minutes
    EXPECT_EQ(reads.count(7), 0u);
}

TEST(PollSchedule, MetersDueTogetherGoInTheOrderOfTheLine)
{
    CPollSchedule schedule;
    schedule.SetMeters({Meter("a", 10), Meter("b", 10), Meter("c", 10)}, 300, At(0));
    std::vector<int> order;
    qint64 nNow = 0;
    for (int i = 0; i < 6; ++i) {
        qint64 nWait = 0;
        const auto job = schedule.NextJob(At(nNow), &nWait);
        nNow += nWait + 300;
        order.push_back(job->nMeter);
        schedule.Done(*job, true, At(nNow));
    }
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 0, 1, 2}));
}

TEST(PollSchedule, ANewConfigurationKeepsTheMetersThatDidNotChange)
{
    CPollSchedule schedule;
    schedule.SetMeters({Meter("kept", 10), Meter("changed", 10)}, 300, At(0));
    schedule.Done({0, EDataSet::Second}, false, At(1000)); // kept: one failure, next try at 21 s
    schedule.Done({1, EDataSet::Second}, true, At(2000));

    SMeterConfig changed = Meter("changed", 30);
    schedule.SetMeters({Meter("new", 10), Meter("kept", 10), changed}, 300, At(5000));
    EXPECT_EQ(schedule.Failures(1), 1) << "the unchanged meter keeps its back-off";
    qint64 nWait = 0;
    const auto job = schedule.NextJob(At(5000), &nWait);
    EXPECT_EQ(nWait, 0);
    EXPECT_EQ(job->nMeter, 0) << "a new meter is due at once";
    schedule.Done(*job, true, At(5300));
    const auto next = schedule.NextJob(At(5300), &nWait);
    EXPECT_EQ(next->nMeter, 2) << "a changed meter starts afresh";
}

TEST(PollSchedule, TheDayReadFallsAtItsLocalTimeAndIsRetriedWhenItFails)
{
    const CLocalZone zone("Europe/Moscow");
    const qint64 nWall = Wall("2026-12-10T14:00:00+03:00", "Europe/Moscow");
    CPollSchedule schedule;
    schedule.SetMeters({Meter("a", 0, 0, 5)}, 300, At(0, nWall));
    qint64 nWait = 0;
    auto job = schedule.NextJob(At(0, nWall), &nWait);
    ASSERT_TRUE(job);
    EXPECT_EQ(job->eSet, EDataSet::Day);
    EXPECT_EQ(nWall + nWait, Wall("2026-12-11T00:05:00+03:00", "Europe/Moscow"));

    const qint64 nDue = nWall + nWait;
    schedule.Done(*job, false, At(0, nDue + 2000));
    schedule.NextJob(At(0, nDue + 2000), &nWait);
    EXPECT_EQ(nWait, 120 * S) << "the first retry after a doubled minute";
    schedule.Done(*job, true, At(0, nDue + 130 * S));
    schedule.NextJob(At(0, nDue + 130 * S), &nWait);
    EXPECT_EQ(nDue + 130 * S + nWait, Wall("2026-12-12T00:05:00+03:00", "Europe/Moscow"));
}

TEST(PollSchedule, NextLocalTimeAcrossAChangeOfTheClocks)
{
    const CLocalZone zone("Europe/Berlin");
    struct SCase {
        const char *pName;
        const char *pNow;
        int nDayMinute;
        const char *pExpected;
    };
    const SCase cases[] = {
        {"later today", "2026-03-28T10:00:00+01:00", 12 * 60, "2026-03-28T12:00:00+01:00"},
        {"passed today: tomorrow", "2026-03-28T13:00:00+01:00", 12 * 60, "2026-03-29T12:00:00+02:00"},
        {"the hour that is skipped in spring", "2026-03-28T03:00:00+01:00", 2 * 60 + 30,
         "2026-03-29T03:30:00+02:00"},
        {"the hour that comes twice in autumn: its first time", "2026-10-24T12:00:00+02:00", 2 * 60 + 30,
         "2026-10-25T02:30:00+02:00"},
        {"exactly now: the next day", "2026-12-10T00:05:00+01:00", 5, "2026-12-11T00:05:00+01:00"},
    };
    for (const SCase &c : cases) {
        SCOPED_TRACE(c.pName);
        EXPECT_EQ(NextLocalTime(Wall(c.pNow, "Europe/Berlin"), c.nDayMinute), Wall(c.pExpected, "Europe/Berlin"));
    }
}
