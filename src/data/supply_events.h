// Interruptions, dips and swells found in a log's phase voltages, and the
// 10-minute intervals they flag. Readings may come in any order and more
// than once (logs overlap and are given in any order): only those beyond
// +-10 % are kept, so memory grows with the excursions, not with the rows.
#pragma once

#include "data/data_set.h"
#include "data/supply_report.h"

#include <QtGlobal>

#include <array>
#include <set>
#include <vector>

// EN 50160's table of dips: residual voltage (% of nominal) by duration.
inline constexpr int DIP_RESIDUAL_BANDS = 5; // 90..80, 80..70, 70..40, 40..5, below 5
inline constexpr int DIP_DURATION_BANDS = 5; // <=200 ms, <=500 ms, <=1 s, <=5 s, <=60 s

struct SDipTable {
    std::array<std::array<int, DIP_DURATION_BANDS>, DIP_RESIDUAL_BANDS> counts{};
    // The duration columns readings at the log's spacing can show; the
    // others stay empty and the report says so.
    std::array<bool, DIP_DURATION_BANDS> shown{};
};

class CEventTally {
public:
    // The log's set fixes the readings' spacing (1 s or 60 s) and what can
    // be seen: a per-minute log shows interruptions of whole minutes only.
    explicit CEventTally(EDataSet eSet);

    // A reading taken for the report (once per UTC second), with its dU of
    // phases A, B and C in %.
    void Add(qint64 nUtcSeconds, double dUA, double dUB, double dUC);

    // Once every reading is in: the events in time order.
    std::vector<SSupplyEvent> Events() const;
    // The 10-minute intervals (by IntervalOf) holding a reading of an event.
    std::set<qint64> FlaggedIntervals() const;

private:
    struct SBeyond {
        qint64 nUtcSeconds = 0;
        std::array<double, 3> dU{};
    };
    // The readings in time order, each second once (the first given kept).
    std::vector<SBeyond> Settled() const;

    EDataSet m_eSet;
    std::vector<SBeyond> m_beyond;
};

// The dips of events by residual voltage u = 100 + dU (90 > u >= 80, 80 > u
// >= 70, 70 > u >= 40, 40 > u >= 5, 5 > u) and duration (10 ... 200 ms,
// ... 500 ms, ... 1 s, ... 5 s, ... 60 s, each upper end included). An
// interruption is no dip. Per second, a dip of one reading counts as 1 s, so
// only the columns from 0.5 ... 1 s on are shown; per minute none is.
SDipTable DipTableOf(const std::vector<SSupplyEvent> &events, EDataSet eSet);

// EN 50160's table of swells beside it: u >= 120 and 120 > u > 110, by the
// same durations and shown alike.
inline constexpr int SWELL_RESIDUAL_BANDS = 2;

struct SSwellTable {
    std::array<std::array<int, DIP_DURATION_BANDS>, SWELL_RESIDUAL_BANDS> counts{};
    std::array<bool, DIP_DURATION_BANDS> shown{};
};

SSwellTable SwellTableOf(const std::vector<SSupplyEvent> &events, EDataSet eSet);
