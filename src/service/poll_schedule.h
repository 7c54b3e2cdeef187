// When each meter of one line is read next: plain arithmetic on two clocks,
// no I/O, so the worker's timing can be tested with a virtual clock.
//
// The per-second and per-minute reads keep their phase on the monotonic
// clock: of the ticks that passed while the line was busy only the latest
// is read (at once); the others are skipped, not replayed. The day read
// falls at a local wall-clock time once a day. A meter that fails waits
// twice as long after each failure (up to the longest back-off) for all
// its reads, and the first success brings its schedule back.
#pragma once

#include "data/data_set.h"
#include "service/service_config.h"

#include <QtGlobal>

#include <optional>
#include <vector>

struct SPollClock {
    qint64 nSteadyMs = 0; // monotonic
    qint64 nWallMs = 0;   // since the epoch
};

struct SPollJob {
    int nMeter = 0; // index into the meters given to SetMeters
    EDataSet eSet = EDataSet::Second;
};

// Local time of the next day read strictly after nWallMs, at nDayMinute
// minutes after local midnight (a day without that local time, for a
// change of the clocks, has its read at the first minute after it).
qint64 NextLocalTime(qint64 nWallMs, int nDayMinute);

class CPollSchedule {
public:
    // The meters of the line, in the order they are read when due together.
    // A meter whose settings did not change (same name, same settings) keeps
    // its schedule and back-off; new meters are due at once.
    void SetMeters(const std::vector<SMeterConfig> &meters, int nMaxBackoffSec, SPollClock now);

    // The job due first, and how long until it is due (0 when it is due
    // now); nothing when no meter reads anything.
    std::optional<SPollJob> NextJob(SPollClock now, qint64 *pWaitMs) const;

    // The outcome of a job that NextJob gave; now is the time it ended.
    void Done(const SPollJob &job, bool bOk, SPollClock now);

    // Consecutive failed reads of a meter.
    int Failures(int nMeter) const { return m_meters[size_t(nMeter)].nFailures; }
    // Milliseconds the meter's next try of a set waits after a failure now.
    qint64 BackoffMs(int nMeter, EDataSet eSet) const;

private:
    struct SSetTimes {
        bool bEnabled = false;
        qint64 nDue = 0; // steady ms for second and minute, wall ms for day
    };
    struct SMeterTimes {
        SMeterConfig config;
        int nFailures = 0;
        SSetTimes sets[3];
    };

    qint64 IntervalMs(const SMeterTimes &meter, EDataSet eSet) const;
    // Below 0 when overdue.
    static qint64 DueInMs(const SSetTimes &times, EDataSet eSet, SPollClock now);
    void StartMeter(SMeterTimes &meter, SPollClock now) const;

    std::vector<SMeterTimes> m_meters;
    qint64 m_nMaxBackoffMs = 300'000;
};
