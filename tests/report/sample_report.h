// Reports built by hand for the PDF's tests and for the picture in docs/:
// ten days of per-second logs cut into a week and a short week, 10-minute
// values with chosen exceedances, events that flag their intervals, and the
// figures worked out from the values by the same rules as the report's.
#pragma once

#include "data/supply_report.h"

#include <QDateTime>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>

namespace SampleReport {

constexpr qint64 INTERVAL_MSECS = 10 * 60 * 1000;
constexpr qint64 FREQUENCY_MSECS = 10 * 1000; // 10-second means
constexpr int DAY_INTERVALS = 24 * 6;
constexpr int OFFSET_SECONDS = 3 * 3600;
inline const char *const PHASES[] = {"A", "B", "C", "AB", "BC", "CA"};

inline qint64 Local(int nDay, int nHour, int nMinute, int nSecond = 0)
{
    return QDateTime(QDate(2026, 12, 1).addDays(nDay), QTime(nHour, nMinute, nSecond), QTimeZone(OFFSET_SECONDS))
        .toMSecsSinceEpoch();
}
// 01.12.2026 00:00 at UTC+03:00.
inline qint64 PeriodStart() { return Local(0, 0, 0); }

inline double Infinity() { return std::numeric_limits<double>::infinity(); }

// Fills the row's figures from its values, as the report does: nExpected
// values could have been had none been missing; short of dMinCoverage % of
// them the row is incomplete unless it fails whatever the missing ones hold.
inline void Judge(SReportRow &row, int nExpected, double dMinCoverage = 90.0)
{
    row.nIntervals = int(row.values.size());
    row.nExpected = nExpected;
    row.nBeyond = int(std::count_if(row.values.begin(), row.values.end(),
                                    [&row](double d) { return !row.band.Holds(d); }));
    row.nBeyondHard = row.hardBand ? int(std::count_if(row.values.begin(), row.values.end(),
                                                       [&row](double d) { return !row.hardBand->Holds(d); }))
                                   : 0;
    if (row.values.empty()) {
        row.eVerdict = EVerdict::NoData;
        return;
    }
    std::vector<double> sorted = row.values;
    std::sort(sorted.begin(), sorted.end());
    const auto rank = [&sorted](double p) { return sorted[std::size_t(std::ceil(p * double(sorted.size()))) - 1]; };
    row.dMinimum = sorted.front();
    row.dMaximum = sorted.back();
    row.dP05 = rank(0.05);
    row.dP95 = rank(0.95);
    const double dWithin = 100.0 * (row.nIntervals - row.nBeyond) / row.nIntervals;
    const bool bFails = dWithin < row.dRequiredShare || row.nBeyondHard > 0;
    const double dBest = 100.0 * (nExpected - row.nBeyond) / nExpected;
    if (dBest < row.dRequiredShare || row.nBeyondHard > 0)
        row.eVerdict = EVerdict::Fail;
    else if (100.0 * row.nIntervals < dMinCoverage * nExpected)
        row.eVerdict = EVerdict::Incomplete;
    else
        row.eVerdict = bFails ? EVerdict::Fail : EVerdict::Pass;
}

inline EVerdict VerdictOf(const std::vector<SReportRow> &rows)
{
    const auto any = [&rows](EVerdict v) {
        return std::any_of(rows.begin(), rows.end(), [v](const SReportRow &row) { return row.eVerdict == v; });
    };
    if (any(EVerdict::Fail))
        return EVerdict::Fail;
    return any(EVerdict::Incomplete) || any(EVerdict::NoData) || rows.empty() ? EVerdict::Incomplete
                                                                                : EVerdict::Pass;
}

inline SReportRow Row(const QString &strQuantity, const QString &strPhase, EQuantityGroup group, SLimitBand band)
{
    SReportRow row;
    row.strQuantity = strQuantity;
    row.strPhase = strPhase;
    row.strColumn = strQuantity + strPhase;
    row.eGroup = group;
    row.band = band;
    return row;
}

// A small number in [-1, 1] that looks like noise and is the same every run.
inline double Wobble(int i, int nSeed)
{
    return std::sin(i * 12.9898 + nSeed * 78.233) * std::cos(i * 4.1414 + nSeed * 1.618);
}

// The value of a column at interval i of the period (counted from its start).
using ValueOf = std::function<double(int i)>;

struct SColumn {
    SReportRow row; // band, hard band, share
    ValueOf value;
};

// A week of the period from day nFirstDay, nDays long: intervals without
// readings in [nGapFrom, nGapFrom + nGapLength) (period's intervals), the
// flagged ones left out, each column's values judged.
inline SReportWeek WeekOf(int nFirstDay, int nDays, int nGapFrom, int nGapLength, const std::set<int> &flagged,
                          const std::vector<SColumn> &columns, double dMinCoverage)
{
    SReportWeek week;
    week.firstDay = QDate(2026, 12, 1).addDays(nFirstDay);
    week.nFromMsecs = Local(nFirstDay, 0, 0);
    week.nToMsecs = Local(nFirstDay + nDays, 0, 0);
    week.nOffsetSeconds = OFFSET_SECONDS;
    week.nEndOffsetSeconds = OFFSET_SECONDS;
    week.bShort = nDays < 7;
    week.nIntervals = nDays * DAY_INTERVALS;
    const int nFirst = nFirstDay * DAY_INTERVALS;
    std::vector<int> valid;
    for (int i = nFirst; i < nFirst + week.nIntervals; ++i) {
        if (i >= nGapFrom && i < nGapFrom + nGapLength)
            continue;
        if (flagged.count(i)) {
            ++week.nFlaggedIntervals;
            continue;
        }
        valid.push_back(i);
        week.intervalStarts.push_back(PeriodStart() + i * INTERVAL_MSECS);
    }
    week.nValidIntervals = int(valid.size());
    week.nInvalidIntervals = week.nIntervals - week.nValidIntervals - week.nFlaggedIntervals;
    const int nExpected = week.nIntervals - week.nFlaggedIntervals;
    for (const SColumn &column : columns) {
        SReportRow row = column.row;
        const bool bFrequency = row.strQuantity == QLatin1String("dF");
        // The frequency is judged on 10-second means: 60 an interval.
        const int nEach = bFrequency ? int(INTERVAL_MSECS / FREQUENCY_MSECS) : 1;
        for (const int i : valid) {
            for (int k = 0; k < nEach; ++k) {
                row.values.push_back(column.value(i * nEach + k));
                if (bFrequency)
                    row.valueStarts.push_back(PeriodStart() + i * INTERVAL_MSECS + k * FREQUENCY_MSECS);
            }
        }
        row.nInvalid = week.nInvalidIntervals;
        row.nFlagged = week.nFlaggedIntervals;
        Judge(row, nExpected * nEach, dMinCoverage);
        week.rows.push_back(row);
    }
    week.eVerdict = VerdictOf(week.rows);
    return week;
}

// EN 50160's low-voltage bands as rows over the columns of the Секунда list,
// in the summary's order (dU, Ku<n>, Ku, K2, dF); harmonic orders above 25
// have no limit there and are not judged.
inline std::vector<SColumn> Columns(const CLimits &limits)
{
    const double dPi = std::acos(-1.0);
    const auto day = [dPi](int i) { return std::sin(2.0 * dPi * (i % DAY_INTERVALS) / DAY_INTERVALS - dPi / 2.0); };
    const auto evening = [](int i) { return (i % 144) >= 108 && (i % 144) < 132 && i / 144 < 5; };
    std::vector<SColumn> columns;
    for (int p = 0; p < 6; ++p) {
        SReportRow row = Row(QStringLiteral("dU"), QLatin1String(PHASES[p]), EQuantityGroup::VoltageDeviation,
                             *limits.VoltageDeviation());
        row.hardBand = SLimitBand{-15.0, 10.0};
        columns.push_back({row, [=](int i) {
                               // dUB at +11 % for 60 intervals (fails its 95 %), one
                               // interval of dUC at +12 % (beyond the 100 % band).
                               if (p == 1 && i >= 4 * 144 + 100 && i < 4 * 144 + 160)
                                   return 11.0 + 0.2 * Wobble(i, 9);
                               if (p == 2 && i == 5 * 144 + 20)
                                   return 12.0;
                               return 1.0 + 0.4 * p - 3.0 * day(i) + 0.6 * Wobble(i, p);
                           }});
    }
    for (int n = FIRST_HARMONIC_ORDER; n <= 25; ++n) {
        const double dLimit = limits.Harmonic(n)->dMax;
        const double dStandard = CLimits::Defaults().Harmonic(n)->dMax;
        for (int p = 0; p < 6; ++p) {
            SReportRow row = Row(QStringLiteral("Ku%1").arg(n), QLatin1String(PHASES[p]), EQuantityGroup::Harmonics,
                                 {-Infinity(), dLimit});
            const double dLevel = (n % 2 == 1 ? 0.35 : 0.12) * dStandard * (1.0 + 0.1 * p);
            columns.push_back({row, [=](int i) {
                                   // Ku5A at 7 % for 4 % of a week; Ku11B high on weekday evenings.
                                   if (n == 5 && p == 0 && i % 25 == 0)
                                       return 7.0;
                                   if (n == 11 && p == 1 && evening(i))
                                       return 3.9 + 0.3 * Wobble(i, 3);
                                   return std::max(dLevel * (1.2 + 0.5 * day(i) + 0.2 * Wobble(i, n * 7 + p)), 0.0);
                               }});
        }
    }
    for (int p = 0; p < 6; ++p)
        columns.push_back({Row(QStringLiteral("Ku"), QLatin1String(PHASES[p]), EQuantityGroup::TotalDistortion,
                               *limits.TotalDistortion()),
                           [=](int i) { return 2.5 + 0.3 * p + 1.2 * day(i) + 0.3 * Wobble(i, 40 + p); }});
    columns.push_back({Row(QStringLiteral("K2"), QString(), EQuantityGroup::Unbalance, *limits.Unbalance()),
                       [=](int i) { return 0.7 + 0.3 * day(i) + 0.1 * Wobble(i, 50); }});
    SReportRow df = Row(QStringLiteral("dF"), QString(), EQuantityGroup::Frequency, *limits.FrequencyDeviation());
    df.strPhase.clear();
    df.hardBand = SLimitBand{-3.0, 2.0};
    df.dRequiredShare = 99.5;
    // The frequency's values are 10-second means: 60 an interval.
    columns.push_back({df, [=](int k) { return 0.015 * day(k / 60) + 0.02 * Wobble(k, 51); }});
    return columns;
}

// Ten days of per-second logs from 01.12.2026 at UTC+03:00: a week that fails
// (dUB's share, dUC beyond the 100 % band, Ku11B), with an interruption and
// two dips that flag their intervals; then three days, eight hours of them
// without readings, too few to judge: incomplete.
inline SSupplyReport Weeks(const CLimits &limits = CLimits::Defaults())
{
    SSupplyReport report;
    report.eSet = EDataSet::Second;
    report.strTimeZone = QStringLiteral("Europe/Moscow");
    report.nEndOffsetSeconds = OFFSET_SECONDS;
    report.dMinCoverage = 90.0;
    report.limits = limits;
    report.events = {
        {ESupplyEventKind::Interruption, Local(2, 13, 21, 4), Local(2, 13, 24, 10), QStringLiteral("ABC"), -100.0},
        {ESupplyEventKind::Dip, Local(4, 8, 15, 7), Local(4, 8, 15, 9), QStringLiteral("A"), -35.2},
        {ESupplyEventKind::Dip, Local(5, 19, 40, 30), Local(5, 19, 40, 31), QStringLiteral("BC"), -18.4},
    };
    std::set<int> flagged;
    for (const SSupplyEvent &event : report.events)
        flagged.insert(int((event.nStartMsecs - PeriodStart()) / INTERVAL_MSECS));
    report.unjudged = {EUnjudged::Flicker, EUnjudged::RapidVoltageChanges, EUnjudged::SignallingVoltages};
    const std::vector<SColumn> columns = Columns(limits);
    // Two hours without readings on the third day of the first week; eight
    // of the second's.
    report.weeks.push_back(WeekOf(0, 7, 2 * DAY_INTERVALS + 60, 12, flagged, columns, report.dMinCoverage));
    report.weeks.push_back(WeekOf(7, 3, 8 * DAY_INTERVALS + 36, 48, flagged, columns, report.dMinCoverage));
    qint64 nValid = 0;
    for (const SReportWeek &week : report.weeks)
        nValid += week.nValidIntervals;
    report.nRowsRead = nValid * 600 - 37;
    report.nDuplicateRows = 60;
    return report;
}

// The limits of the second case: EN 50160's but for Ku5 raised to 8 %.
inline CLimits RaisedKu5()
{
    CLimits limits = CLimits::Defaults();
    limits.SetHarmonic(5, SLimitBand{-Infinity(), 8.0});
    return limits;
}

// One week over the autumn clock change in Berlin: 19.10.2026 00:00 at
// UTC+02:00 to 26.10.2026 00:00 at UTC+01:00, an hour longer than 7 days,
// of per-minute logs with THD switched off.
inline SSupplyReport ClockChangeWeek()
{
    const QTimeZone berlin("Europe/Berlin");
    SSupplyReport report;
    report.eSet = EDataSet::Minute;
    report.strTimeZone = QStringLiteral("Europe/Berlin");
    // Without THD, by choice.
    report.limits = CLimits::Defaults();
    report.limits.SetTotalDistortion(std::nullopt);
    SReportWeek week;
    week.firstDay = QDate(2026, 10, 19);
    const QDateTime from(week.firstDay, QTime(0, 0), berlin);
    const QDateTime to(week.firstDay.addDays(7), QTime(0, 0), berlin);
    week.nFromMsecs = from.toMSecsSinceEpoch();
    week.nToMsecs = to.toMSecsSinceEpoch();
    week.nOffsetSeconds = from.offsetFromUtc();
    week.nEndOffsetSeconds = to.offsetFromUtc();
    week.nIntervals = int((week.nToMsecs - week.nFromMsecs) / INTERVAL_MSECS);
    SReportRow row = Row(QStringLiteral("dU"), QStringLiteral("A"), EQuantityGroup::VoltageDeviation, {-10, 10});
    row.hardBand = SLimitBand{-15.0, 10.0};
    for (int i = 0; i < week.nIntervals; ++i) {
        week.intervalStarts.push_back(week.nFromMsecs + i * INTERVAL_MSECS);
        row.values.push_back(2.0 * Wobble(i, 1));
    }
    week.nValidIntervals = week.nIntervals;
    Judge(row, week.nIntervals);
    week.rows.push_back(row);
    week.eVerdict = VerdictOf(week.rows);
    report.nEndOffsetSeconds = week.nEndOffsetSeconds;
    report.weeks.push_back(week);
    report.unjudged = {EUnjudged::Flicker, EUnjudged::RapidVoltageChanges, EUnjudged::SignallingVoltages,
                       EUnjudged::DipsAndSwells};
    report.offByChoice = {QStringLiteral("Ku")};
    return report;
}

} // namespace SampleReport
