// The report's verdict as a customer reads it: one line per characteristic
// of the supply EN 50160 names, over every week, rather than one per
// quantity and phase. A characteristic fails when any of its rows fails in
// any week; its worst row says where (phase and week) and by how much.
#pragma once

#include "data/supply_report.h"

#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

enum class ECharacteristic {
    VoltageVariations, // dU
    Frequency,         // dF
    Harmonics,         // Ku2 ... Ku40
    TotalDistortion,   // Ku
    Unbalance,         // K2
    Events,            // interruptions, dips, swells: counted, EN 50160 sets no limit
    Flicker,           // the rest is not judged, said by name
    RapidVoltageChanges,
    SignallingVoltages,
    DipsAndSwells,
};

enum class ECharacteristicState {
    Judged,
    Counted,     // the events
    NotJudged,   // nothing in the logs shows it
    OffByChoice, // the limits table switched it off
};

// The row of a week that decides a characteristic, with the statistic shown
// against the bound: P95 against the upper bound, or P05 against the lower
// one where that side of the band is the nearer (or beyond).
struct SWorstRow {
    QString strQuantity; // "Ku11", "dU"
    QString strPhase;    // empty for dF and K2
    QDate week;          // the week's first local date
    double dValue = 0.0; // the P95 or P05 shown
    double dBound = 0.0; // the bound it is read against
    bool bLowSide = false; // dValue is P05 against the lower bound
};

struct SCharacteristicRow {
    ECharacteristic eCharacteristic = ECharacteristic::VoltageVariations;
    ECharacteristicState eState = ECharacteristicState::Judged;
    // Judged: fail when any row fails, pass when every row passes, no data
    // without any row of data, incomplete otherwise.
    EVerdict eVerdict = EVerdict::NoData;
    std::optional<SWorstRow> worst; // judged with data
    QStringList offByChoice;        // of its quantities, those switched off ("Ku5")
    int nInterruptions = 0;         // Events
    int nDips = 0;
    int nSwells = 0;
};

// In the printed order: the judged characteristics, the events, then those
// not judged. A judged characteristic without a band for any of its
// quantities is OffByChoice; one the logs have no column for is NoData.
std::vector<SCharacteristicRow> SupplyCharacteristics(const SSupplyReport &report);

// The report's verdict over the judged characteristics: fail when any
// fails, pass when every one passes, no data when none has data, else
// incomplete.
EVerdict CharacteristicsVerdict(const std::vector<SCharacteristicRow> &rows);
