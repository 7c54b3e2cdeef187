// A supply-quality report after EN 50160 over CSV logs of the Секунда or
// the Минута list: each quantity and phase judged over the 10-minute
// intervals of a period against the bands of a limits table. Plain
// arithmetic on rows: the files are read elsewhere (files/report_logs.h).
//
// The rules:
// - 10-minute intervals aligned to the 10-minute ticks of UTC. An interval
//   is valid when its readings fall in at least 8 of its 10 one-minute
//   slots; every other interval of the period is invalid.
// - The value of an interval: dUA ... dUCA as the rms of the voltage,
//   (sqrt(mean((1 + x/100)^2)) - 1) * 100; Ku<n><phase>, Ku<phase> and K2 as
//   the rms sqrt(mean(x^2)); dF as the mean.
// - The share of valid intervals that must lie within the band: 95 %, and
//   99.5 % for dF. No valid interval may leave dU -15 ... +10 % or
//   dF -3 ... +2 Hz.
// - pass: share within the band at least the required one, and no valid
//   interval beyond the 100 % band; fail otherwise; no data without a valid
//   interval. A quantity without a band is not judged (no row).
#pragma once

#include "data/data_set.h"
#include "data/report_intervals.h"
#include "data/supply_limits.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <limits>
#include <optional>
#include <vector>

enum class EVerdict { Pass, Fail, NoData };

// The groups of the printed verdict table, in its order.
enum class EQuantityGroup { VoltageDeviation, Frequency, Unbalance, Harmonics, TotalDistortion };

// One judged quantity and phase: one row of the summary.
struct SReportRow {
    QString strQuantity; // "dU", "Ku5", "Ku", "K2", "dF"
    QString strPhase;    // "A", "B", "C", "AB", "BC", "CA"; empty for K2 and dF
    QString strColumn;   // the log's column: "dUA", "Ku5A", "KuAB", "K2", "dF"
    EQuantityGroup eGroup = EQuantityGroup::VoltageDeviation;
    SLimitBand band;                     // a side without bound is infinite
    std::optional<SLimitBand> hardBand;  // the band no interval may leave (dU, dF)
    double dRequiredShare = 95.0;        // %
    int nIntervals = 0;                  // valid intervals
    int nInvalid = 0;                    // the other 10-minute intervals of the period
    int nBeyond = 0;                     // valid intervals outside the band
    int nBeyondHard = 0;                 // valid intervals outside the hard band
    double dMinimum = std::numeric_limits<double>::quiet_NaN();
    double dMaximum = std::numeric_limits<double>::quiet_NaN();
    double dP05 = std::numeric_limits<double>::quiet_NaN(); // nearest rank
    double dP95 = std::numeric_limits<double>::quiet_NaN();
    EVerdict eVerdict = EVerdict::NoData;
    // The value of each valid interval, in the order of
    // SSupplyReport::intervalStarts.
    std::vector<double> values;
};

// A row of a log that could not be read: the file as given and its line (from 1).
struct SBadRow {
    QString strFile;
    qint64 nLine = 0;
};

struct SSupplyReport {
    EDataSet eSet = EDataSet::Minute;
    // The period, UTC milliseconds, from inclusive to exclusive, and the UTC
    // offset (seconds east) of local time at its start, for showing it.
    qint64 nFromMsecs = 0;
    qint64 nToMsecs = 0;
    int nOffsetSeconds = 0;
    bool bWeek = false;         // the period is exactly seven days
    int nValidIntervals = 0;
    int nInvalidIntervals = 0;
    std::vector<qint64> intervalStarts; // UTC msecs of each valid interval's start
    std::vector<SReportRow> rows;       // the summary's order
    qint64 nRowsRead = 0;               // rows taken (duplicates once)
    qint64 nDuplicateRows = 0;          // rows whose time was given before
    qint64 nBadRows = 0;
    std::vector<SBadRow> firstBadRows;  // at most 10, in the order met
};

const char *VerdictText(EVerdict verdict); // "pass", "fail", "no data"

// The summary: "quantity,phase,low,high,share,intervals,invalid,beyond,
// within,minimum,maximum,p05,p95,verdict\n" and one row per SReportRow.
QByteArray ReportSummaryCsv(const SSupplyReport &report);
// The short text table printed when no output file is asked for.
QByteArray ReportTextTable(const SSupplyReport &report);

// The rows a report over a log with these columns judges: each quantity and
// phase that has a column and a band, in the summary's order, with its band,
// hard band, share and group; nothing counted yet.
std::vector<SReportRow> JudgedRows(const QStringList &columns, const CLimits &limits);
// How the readings of a row's column make an interval's value.
EIntervalMean IntervalMeanOf(const SReportRow &row);
// Judges the intervals [nFirstInterval, nEndInterval) (by IntervalOf) of the
// tally, whose columns are report.rows' in order: fills the counts, the
// valid intervals' starts and values and the verdicts.
void JudgeIntervals(SSupplyReport &report, const CIntervalTally &tally, qint64 nFirstInterval,
                    qint64 nEndInterval);
