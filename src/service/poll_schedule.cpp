#include "service/poll_schedule.h"

#include <QDateTime>
#include <QTimeZone>

#include <algorithm>

namespace {

constexpr qint64 SECOND_MS = 1000;
constexpr qint64 MINUTE_MS = 60 * SECOND_MS;
// A failed day read is tried again after this, doubling like the others.
constexpr qint64 DAY_RETRY_MS = MINUTE_MS;

constexpr EDataSet SETS[] = {EDataSet::Second, EDataSet::Minute, EDataSet::Day};

int IndexOf(EDataSet eSet)
{
    return int(eSet);
}

} // namespace

qint64 NextLocalTime(qint64 nWallMs, int nDayMinute)
{
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(nWallMs);
    const QTime at(nDayMinute / 60, nDayMinute % 60);
    for (int nDays = 0; nDays <= 2; ++nDays) {
        const QDate date = now.date().addDays(nDays);
        QDateTime when(date, at);
        if (!when.isValid()) // that local time does not exist that day
            when = QDateTime(date, at.addSecs(3600));
        if (when.toMSecsSinceEpoch() > nWallMs)
            return when.toMSecsSinceEpoch();
    }
    return nWallMs + 24 * 60 * MINUTE_MS;
}

void CPollSchedule::StartMeter(SMeterTimes &meter, SPollClock now) const
{
    const SMeterConfig &c = meter.config;
    meter.sets[IndexOf(EDataSet::Second)] = {c.nSecondInterval > 0, now.nSteadyMs};
    meter.sets[IndexOf(EDataSet::Minute)] = {c.nMinuteInterval > 0, now.nSteadyMs};
    meter.sets[IndexOf(EDataSet::Day)] = {c.nDayMinute >= 0,
                                          c.nDayMinute >= 0 ? NextLocalTime(now.nWallMs, c.nDayMinute) : 0};
}

void CPollSchedule::SetMeters(const std::vector<SMeterConfig> &meters, int nMaxBackoffSec, SPollClock now)
{
    m_nMaxBackoffMs = qint64(std::max(nMaxBackoffSec, 1)) * SECOND_MS;
    std::vector<SMeterTimes> next;
    next.reserve(meters.size());
    for (const SMeterConfig &config : meters) {
        const auto kept = std::find_if(m_meters.begin(), m_meters.end(),
                                       [&config](const SMeterTimes &m) { return m.config == config; });
        if (kept != m_meters.end()) {
            next.push_back(*kept);
            continue;
        }
        SMeterTimes meter;
        meter.config = config;
        StartMeter(meter, now);
        next.push_back(meter);
    }
    m_meters = std::move(next);
}

qint64 CPollSchedule::IntervalMs(const SMeterTimes &meter, EDataSet eSet) const
{
    switch (eSet) {
    case EDataSet::Second:
        return qint64(meter.config.nSecondInterval) * SECOND_MS;
    case EDataSet::Minute:
        return qint64(meter.config.nMinuteInterval) * SECOND_MS;
    case EDataSet::Day:
        break;
    }
    return DAY_RETRY_MS;
}

qint64 CPollSchedule::BackoffMs(int nMeter, EDataSet eSet) const
{
    const SMeterTimes &meter = m_meters[size_t(nMeter)];
    const qint64 nBase = IntervalMs(meter, eSet);
    // The doubling stops at the longest back-off, but never shortens an
    // interval that was longer to begin with.
    qint64 nWait = nBase;
    for (int i = 0; i < meter.nFailures && nWait < m_nMaxBackoffMs; ++i)
        nWait *= 2;
    return std::max(nBase, std::min(nWait, m_nMaxBackoffMs));
}

qint64 CPollSchedule::DueInMs(const SSetTimes &times, EDataSet eSet, SPollClock now)
{
    return times.nDue - (eSet == EDataSet::Day ? now.nWallMs : now.nSteadyMs);
}

std::optional<SPollJob> CPollSchedule::NextJob(SPollClock now, qint64 *pWaitMs) const
{
    std::optional<SPollJob> best;
    qint64 nBestWait = 0;
    for (size_t i = 0; i < m_meters.size(); ++i) {
        for (const EDataSet eSet : SETS) {
            const SSetTimes &times = m_meters[i].sets[IndexOf(eSet)];
            if (!times.bEnabled)
                continue;
            // Due together, the meter earlier in the line goes first; among
            // the overdue, the one that waited longest.
            const qint64 nWait = DueInMs(times, eSet, now);
            if (!best || nWait < nBestWait) {
                best = SPollJob{int(i), eSet};
                nBestWait = nWait;
            }
        }
    }
    if (pWaitMs)
        *pWaitMs = std::max<qint64>(0, nBestWait);
    return best;
}

void CPollSchedule::Done(const SPollJob &job, bool bOk, SPollClock now)
{
    SMeterTimes &meter = m_meters[size_t(job.nMeter)];
    if (!bOk) {
        // Every read of a meter that does not answer waits, so a silent
        // meter costs the line one time-out per back-off, not one per set.
        ++meter.nFailures;
        for (const EDataSet eSet : SETS) {
            SSetTimes &times = meter.sets[IndexOf(eSet)];
            if (!times.bEnabled)
                continue;
            const qint64 nNow = eSet == EDataSet::Day ? now.nWallMs : now.nSteadyMs;
            const bool bThisOrOverdue = eSet == job.eSet || times.nDue <= nNow;
            if (eSet == EDataSet::Day && !bThisOrOverdue)
                continue; // a day read still ahead keeps its time
            times.nDue = std::max(times.nDue, nNow + BackoffMs(job.nMeter, eSet));
        }
        return;
    }
    const bool bRecovered = meter.nFailures > 0;
    meter.nFailures = 0;
    SSetTimes &times = meter.sets[IndexOf(job.eSet)];
    if (job.eSet == EDataSet::Day) {
        times.nDue = NextLocalTime(now.nWallMs, meter.config.nDayMinute);
        return;
    }
    const qint64 nInterval = IntervalMs(meter, job.eSet);
    if (bRecovered) {
        // Back on the configured rate for every set, counted from now.
        for (const EDataSet eSet : {EDataSet::Second, EDataSet::Minute}) {
            SSetTimes &other = meter.sets[IndexOf(eSet)];
            if (other.bEnabled && eSet != job.eSet)
                other.nDue = std::min(other.nDue, now.nSteadyMs + IntervalMs(meter, eSet));
        }
        times.nDue = now.nSteadyMs + nInterval;
        return;
    }
    // The next tick of the same phase. When ticks passed while the read ran
    // (or while the line was busy), the latest of them is read at once and
    // the others are skipped, so a read slower than its interval runs back
    // to back without a backlog.
    const qint64 nLate = now.nSteadyMs - times.nDue;
    times.nDue += nLate < nInterval ? nInterval : nInterval * (nLate / nInterval);
}
