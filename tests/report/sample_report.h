// Reports built by hand for the PDF's tests and for the picture in docs/:
// a week of 10-minute values with chosen exceedances, its figures worked out
// from the values by the same rules as the report's.
#pragma once

#include "data/supply_report.h"

#include <QDateTime>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace SampleReport {

constexpr qint64 INTERVAL_MSECS = 10 * 60 * 1000;
constexpr int WEEK_INTERVALS = 7 * 24 * 6;
constexpr int OFFSET_SECONDS = 3 * 3600;
inline const char *const PHASES[] = {"A", "B", "C", "AB", "BC", "CA"};

// 01.12.2026 00:00 at UTC+03:00.
inline qint64 WeekStart()
{
    return QDateTime(QDate(2026, 12, 1), QTime(0, 0), QTimeZone(OFFSET_SECONDS)).toMSecsSinceEpoch();
}

// Fills the row's figures from its values, as the report does.
inline void Judge(SReportRow &row, int nPeriodIntervals)
{
    row.nIntervals = int(row.values.size());
    row.nInvalid = nPeriodIntervals - row.nIntervals;
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
    row.eVerdict = dWithin >= row.dRequiredShare && row.nBeyondHard == 0 ? EVerdict::Pass : EVerdict::Fail;
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

inline double Infinity() { return std::numeric_limits<double>::infinity(); }

// A week of the Минута list with EN 50160's low-voltage bands: two hours
// without readings on the third day, dUB at +11 % for 60 intervals (fails
// its 95 %), one interval of dUC at +12 % (beyond the 100 % band), Ku5A at
// 7 % for 4 % of the week (passes), Ku11B high on weekday evenings (fails).
inline SSupplyReport Week()
{
    SSupplyReport report;
    report.eSet = EDataSet::Minute;
    report.nFromMsecs = WeekStart();
    report.nToMsecs = report.nFromMsecs + qint64(WEEK_INTERVALS) * INTERVAL_MSECS;
    report.nOffsetSeconds = OFFSET_SECONDS;
    report.bWeek = true;
    const int nGapFrom = 2 * 144 + 60; // 03.12 10:00, for two hours
    std::vector<int> valid;
    for (int i = 0; i < WEEK_INTERVALS; ++i) {
        if (i < nGapFrom || i >= nGapFrom + 12) {
            valid.push_back(i);
            report.intervalStarts.push_back(report.nFromMsecs + i * INTERVAL_MSECS);
        }
    }
    report.nValidIntervals = int(valid.size());
    report.nInvalidIntervals = WEEK_INTERVALS - report.nValidIntervals;
    report.nRowsRead = qint64(valid.size()) * 10 - 37;
    report.nDuplicateRows = 60;

    const double dPi = std::acos(-1.0);
    const auto day = [dPi](int i) { return std::sin(2.0 * dPi * (i % 144) / 144.0 - dPi / 2.0); };
    const auto evening = [](int i) { return (i % 144) >= 108 && (i % 144) < 132 && i / 144 < 5; };
    const SLimitBand voltage{-10.0, 10.0};
    for (int p = 0; p < 6; ++p) {
        SReportRow row = Row(QStringLiteral("dU"), QLatin1String(PHASES[p]), EQuantityGroup::VoltageDeviation, voltage);
        row.hardBand = SLimitBand{-15.0, 10.0};
        for (const int i : valid) {
            double d = 1.0 + 0.4 * p - 3.0 * day(i) + 0.6 * Wobble(i, p);
            if (p == 1 && i >= 4 * 144 + 100 && i < 4 * 144 + 160)
                d = 11.0 + 0.2 * Wobble(i, 9);
            if (p == 2 && i == 5 * 144 + 20)
                d = 12.0;
            row.values.push_back(d);
        }
        Judge(row, WEEK_INTERVALS);
        report.rows.push_back(row);
    }
    for (int n = FIRST_HARMONIC_ORDER; n <= 25; ++n) {
        static const double limits[26] = {0,   0,   2,   5, 1,   6, 0.5, 5,   0.5, 1.5, 0.5, 3.5, 0.5, 3,
                                          0.5, 0.5, 0.5, 2, 0.5, 1.5, 0.5, 0.5, 0.5, 1.5, 0.5, 1.5};
        for (int p = 0; p < 6; ++p) {
            SReportRow row = Row(QStringLiteral("Ku%1").arg(n), QLatin1String(PHASES[p]), EQuantityGroup::Harmonics,
                                 {-Infinity(), limits[n]});
            const double dLevel = (n % 2 == 1 ? 0.35 : 0.12) * limits[n] * (1.0 + 0.1 * p);
            for (const int i : valid) {
                double d = dLevel * (1.2 + 0.5 * day(i) + 0.2 * Wobble(i, n * 7 + p));
                if (n == 5 && p == 0 && i % 25 == 0)
                    d = 7.0;
                if (n == 11 && p == 1 && evening(i))
                    d = 3.9 + 0.3 * Wobble(i, 3);
                row.values.push_back(std::max(d, 0.0));
            }
            Judge(row, WEEK_INTERVALS);
            report.rows.push_back(row);
        }
    }
    for (int p = 0; p < 6; ++p) {
        SReportRow row = Row(QStringLiteral("Ku"), QLatin1String(PHASES[p]), EQuantityGroup::TotalDistortion,
                             {-Infinity(), 8.0});
        for (const int i : valid)
            row.values.push_back(2.5 + 0.3 * p + 1.2 * day(i) + 0.3 * Wobble(i, 40 + p));
        Judge(row, WEEK_INTERVALS);
        report.rows.push_back(row);
    }
    SReportRow k2 = Row(QStringLiteral("K2"), QString(), EQuantityGroup::Unbalance, {-Infinity(), 2.0});
    SReportRow df = Row(QStringLiteral("dF"), QString(), EQuantityGroup::Frequency, {-0.5, 0.5});
    df.hardBand = SLimitBand{-3.0, 2.0};
    df.dRequiredShare = 99.5;
    for (const int i : valid) {
        k2.values.push_back(0.7 + 0.3 * day(i) + 0.1 * Wobble(i, 50));
        df.values.push_back(0.015 * day(i) + 0.02 * Wobble(i, 51));
    }
    Judge(k2, WEEK_INTERVALS);
    Judge(df, WEEK_INTERVALS);
    // The printed order: dU, Ku<n>, Ku, K2, dF.
    report.rows.push_back(k2);
    report.rows.push_back(df);
    return report;
}

} // namespace SampleReport
