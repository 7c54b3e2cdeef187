#include "data/supply_characteristics.h"

#include <cmath>

namespace {

// Which characteristic a row of the summary belongs to.
ECharacteristic CharacteristicOf(EQuantityGroup group)
{
    switch (group) {
    case EQuantityGroup::VoltageDeviation:
        return ECharacteristic::VoltageVariations;
    case EQuantityGroup::Frequency:
        return ECharacteristic::Frequency;
    case EQuantityGroup::Unbalance:
        return ECharacteristic::Unbalance;
    case EQuantityGroup::Harmonics:
        return ECharacteristic::Harmonics;
    case EQuantityGroup::TotalDistortion:
        break;
    }
    return ECharacteristic::TotalDistortion;
}

bool IsOfCharacteristic(const QString &strQuantity, ECharacteristic characteristic)
{
    switch (characteristic) {
    case ECharacteristic::VoltageVariations:
        return strQuantity == QLatin1String("dU");
    case ECharacteristic::Frequency:
        return strQuantity == QLatin1String("dF");
    case ECharacteristic::Unbalance:
        return strQuantity == QLatin1String("K2");
    case ECharacteristic::TotalDistortion:
        return strQuantity == QLatin1String("Ku");
    case ECharacteristic::Harmonics:
        return strQuantity.size() > 2 && strQuantity.startsWith(QLatin1String("Ku"));
    default:
        return false;
    }
}

// Higher is worse: how the verdicts of a characteristic's rows combine.
int Severity(EVerdict verdict)
{
    switch (verdict) {
    case EVerdict::Fail:
        return 3;
    case EVerdict::Incomplete:
        return 2;
    case EVerdict::NoData:
        return 1;
    case EVerdict::Pass:
        break;
    }
    return 0;
}

// How far into (below 1) or beyond (above 1) its band a row's statistic
// lies, so that rows of different bands (the harmonic orders) compare: the
// share of the distance from the band's middle (from zero where the band
// has an upper bound only) to the bound.
struct SReach {
    double dReach = -std::numeric_limits<double>::infinity();
    double dValue = 0.0;
    double dBound = 0.0;
    bool bLowSide = false;
};

double Reach(double dValue, double dMiddle, double dBound)
{
    const double dHalf = std::abs(dBound - dMiddle);
    return dHalf > 0.0 ? (dValue - dMiddle) / (dBound - dMiddle) : (dValue == dBound ? 1.0 : dValue - dBound);
}

SReach ReachOf(const SReportRow &row)
{
    SReach reach;
    const bool bLow = std::isfinite(row.band.dMin);
    const bool bHigh = std::isfinite(row.band.dMax);
    const double dMiddle = bLow && bHigh ? (row.band.dMin + row.band.dMax) / 2.0 : 0.0;
    if (bHigh && std::isfinite(row.dP95))
        reach = {Reach(row.dP95, dMiddle, row.band.dMax), row.dP95, row.band.dMax, false};
    if (bLow && std::isfinite(row.dP05)) {
        const SReach low{Reach(row.dP05, dMiddle, row.band.dMin), row.dP05, row.band.dMin, true};
        if (low.dReach > reach.dReach)
            reach = low;
    }
    return reach;
}

struct SCandidate {
    int nSeverity = -1;
    SReach reach;
    bool bHasData = false;
};

bool Worse(const SCandidate &a, const SCandidate &b)
{
    if (a.bHasData != b.bHasData)
        return a.bHasData;
    if (a.nSeverity != b.nSeverity)
        return a.nSeverity > b.nSeverity;
    return a.reach.dReach > b.reach.dReach;
}

SCharacteristicRow Judged(const SSupplyReport &report, ECharacteristic characteristic)
{
    SCharacteristicRow out;
    out.eCharacteristic = characteristic;
    for (const QString &strOff : report.offByChoice) {
        if (IsOfCharacteristic(strOff, characteristic))
            out.offByChoice << strOff;
    }
    bool bAnyRow = false;
    bool bAllPass = true;
    bool bAnyData = false;
    int nWorstSeverity = 0;
    SCandidate worst;
    for (const SReportWeek &week : report.weeks) {
        for (const SReportRow &row : week.rows) {
            if (CharacteristicOf(row.eGroup) != characteristic)
                continue;
            bAnyRow = true;
            bAllPass = bAllPass && row.eVerdict == EVerdict::Pass;
            bAnyData = bAnyData || row.eVerdict != EVerdict::NoData;
            nWorstSeverity = std::max(nWorstSeverity, Severity(row.eVerdict));
            SCandidate candidate{Severity(row.eVerdict), ReachOf(row), std::isfinite(row.dP95)};
            if (!candidate.bHasData || !Worse(candidate, worst))
                continue;
            worst = candidate;
            out.worst = SWorstRow{row.strQuantity, row.strPhase, week.firstDay, candidate.reach.dValue,
                                  candidate.reach.dBound, candidate.reach.bLowSide};
        }
    }
    if (!bAnyRow) {
        // No row: switched off, or the logs hold no column of it.
        out.eState = out.offByChoice.isEmpty() ? ECharacteristicState::Judged : ECharacteristicState::OffByChoice;
        out.eVerdict = EVerdict::NoData;
        return out;
    }
    if (bAllPass)
        out.eVerdict = EVerdict::Pass;
    else if (nWorstSeverity == Severity(EVerdict::Fail))
        out.eVerdict = EVerdict::Fail;
    else if (!bAnyData)
        out.eVerdict = EVerdict::NoData;
    else
        out.eVerdict = EVerdict::Incomplete;
    return out;
}

ECharacteristic NotJudged(EUnjudged unjudged)
{
    switch (unjudged) {
    case EUnjudged::Flicker:
        return ECharacteristic::Flicker;
    case EUnjudged::RapidVoltageChanges:
        return ECharacteristic::RapidVoltageChanges;
    case EUnjudged::SignallingVoltages:
        return ECharacteristic::SignallingVoltages;
    case EUnjudged::DipsAndSwells:
        break;
    }
    return ECharacteristic::DipsAndSwells;
}

} // namespace

std::vector<SCharacteristicRow> SupplyCharacteristics(const SSupplyReport &report)
{
    std::vector<SCharacteristicRow> rows;
    for (const ECharacteristic characteristic :
         {ECharacteristic::VoltageVariations, ECharacteristic::Frequency, ECharacteristic::Harmonics,
          ECharacteristic::TotalDistortion, ECharacteristic::Unbalance})
        rows.push_back(Judged(report, characteristic));

    SCharacteristicRow events;
    events.eCharacteristic = ECharacteristic::Events;
    events.eState = ECharacteristicState::Counted;
    for (const SSupplyEvent &event : report.events) {
        switch (event.eKind) {
        case ESupplyEventKind::Interruption:
            ++events.nInterruptions;
            break;
        case ESupplyEventKind::Dip:
            ++events.nDips;
            break;
        case ESupplyEventKind::Swell:
            ++events.nSwells;
            break;
        }
    }
    rows.push_back(events);

    for (const EUnjudged unjudged : report.unjudged) {
        SCharacteristicRow row;
        row.eCharacteristic = NotJudged(unjudged);
        row.eState = ECharacteristicState::NotJudged;
        rows.push_back(row);
    }
    return rows;
}

EVerdict CharacteristicsVerdict(const std::vector<SCharacteristicRow> &rows)
{
    bool bAny = false;
    bool bAllPass = true;
    bool bAnyData = false;
    for (const SCharacteristicRow &row : rows) {
        if (row.eState != ECharacteristicState::Judged)
            continue;
        if (row.eVerdict == EVerdict::Fail)
            return EVerdict::Fail;
        bAny = true;
        bAllPass = bAllPass && row.eVerdict == EVerdict::Pass;
        bAnyData = bAnyData || row.eVerdict != EVerdict::NoData;
    }
    if (!bAny || !bAnyData)
        return EVerdict::NoData;
    return bAllPass ? EVerdict::Pass : EVerdict::Incomplete;
}
