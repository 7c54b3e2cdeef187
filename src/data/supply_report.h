// A supply-quality report after EN 50160 over CSV logs of the Секунда or
// the Минута list: each week of the period, quantity and phase judged over
// the 10-minute intervals against the bands of a limits table. Plain
// arithmetic on rows: the files are read elsewhere (files/report_logs.h).
//
// The rules:
// - Weeks of seven calendar days from the period's first local day; the
//   last may be shorter. Each is judged on its own.
// - 10-minute intervals aligned to the 10-minute ticks of UTC. An interval
//   is valid when its readings fall in at least 8 of its 10 one-minute
//   slots; every other interval of the period is invalid. A valid interval
//   holding a reading of an event (interruption, dip, swell) is flagged and
//   left out.
// - The value of an interval: dUA ... dUCA as the rms of the voltage,
//   (sqrt(mean((1 + x/100)^2)) - 1) * 100; Ku<n><phase>, Ku<phase> and K2 as
//   the rms sqrt(mean(x^2)). dF is judged on the means of shorter spans
//   (10 seconds of a per-second log, a minute of a per-minute one).
// - The share of values that must lie within the band: 95 %, and 99.5 % for
//   dF. No value may leave the hard band of the limits (dU100, dF100).
// - pass: share within the band at least the required one, and no value
//   beyond the hard band; fail otherwise, and also when the week's missing
//   values could not save the share; incomplete when the week's valid and
//   flagged intervals cover less than the required share of it; no data
//   without a value. A quantity without a band is not judged (no row).
#pragma once

#include "data/data_set.h"
#include "data/report_intervals.h"
#include "data/supply_limits.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>
#include <QTimeZone>
#include <QtGlobal>

#include <limits>
#include <optional>
#include <set>
#include <vector>

// Incomplete: the week's valid intervals cover less than the required share
// of it, and what is there does not fail whatever the missing ones would
// hold. Never counted as a pass.
enum class EVerdict { Pass, Fail, NoData, Incomplete };

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
    // Valid intervals not flagged; for dF the values judged (10-second means
    // of a per-second log, the minute values of a per-minute one) that lie
    // in those intervals.
    int nIntervals = 0;
    // What nIntervals could have been over the week had no reading been
    // missing (intervals of the week less the flagged ones, times the values
    // an interval holds): a row fails whatever the missing values would hold
    // when even all of them within the band leave too small a share.
    int nExpected = 0;
    int nFlagged = 0;                    // valid intervals left out as flagged
    int nInvalid = 0;                    // the other 10-minute intervals of the week, not flagged
    int nBeyond = 0;                     // values outside the band
    int nBeyondHard = 0;                 // values outside the hard band
    double dMinimum = std::numeric_limits<double>::quiet_NaN();
    double dMaximum = std::numeric_limits<double>::quiet_NaN();
    double dP05 = std::numeric_limits<double>::quiet_NaN(); // nearest rank
    double dP95 = std::numeric_limits<double>::quiet_NaN();
    EVerdict eVerdict = EVerdict::NoData;
    // The value of each valid interval, in the order of
    // SReportWeek::intervalStarts.
    std::vector<double> values;
    // Where the values are not one an interval (dF): the UTC msecs at which
    // each value's span starts; empty otherwise.
    std::vector<qint64> valueStarts;
};

// A week of the period: seven calendar days from its first local date, the
// last one shorter when the period ends before.
struct SReportWeek {
    QDate firstDay;       // local date
    qint64 nFromMsecs = 0; // UTC msecs, inclusive
    qint64 nToMsecs = 0;   // exclusive
    int nOffsetSeconds = 0;    // UTC offset (seconds east) at its start
    int nEndOffsetSeconds = 0; // at its end
    bool bShort = false;  // fewer than seven days
    int nIntervals = 0;        // 10-minute intervals that start within it
    int nValidIntervals = 0;   // valid and not flagged
    int nInvalidIntervals = 0;
    int nFlaggedIntervals = 0; // valid, holding a reading of an event: left out
    std::vector<qint64> intervalStarts; // UTC msecs of each valid, unflagged interval
    std::vector<SReportRow> rows;       // the summary's order
    EVerdict eVerdict = EVerdict::NoData; // WeekVerdict(rows)
};

// A supply event found in the readings.
enum class ESupplyEventKind {
    Interruption, // every phase voltage below 5 % of nominal (dU <= -95 on A, B and C)
    Dip,          // a phase below -10 %, at most a minute
    Swell,        // a phase above +10 %, at most a minute
};

struct SSupplyEvent {
    ESupplyEventKind eKind = ESupplyEventKind::Dip;
    qint64 nStartMsecs = 0; // UTC, the first reading's time
    qint64 nEndMsecs = 0;   // the last reading's time plus the readings' spacing
    QString strPhases;      // the phases beyond: "A", "BC", "ABC"
    double dExtreme = 0.0;  // dU %, the lowest (interruption, dip) or the highest (swell)
};

// What the report does not judge, said by name.
enum class EUnjudged {
    Flicker,               // Plt: no column in the logs
    RapidVoltageChanges,
    SignallingVoltages,
    DipsAndSwells,         // per-minute logs cannot show them
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
    // The period's end in its own UTC offset; the time zone's name
    // ("Europe/Moscow", "UTC+03:00") for showing it.
    int nEndOffsetSeconds = 0;
    QString strTimeZone;
    double dMinCoverage = 90.0; // % of a week's intervals that must be valid
    CLimits limits;             // the bands judged against
    std::vector<SReportWeek> weeks;
    std::vector<SSupplyEvent> events; // in time order
    std::vector<EUnjudged> unjudged;
    // Quantities the limits file switched off ("Ku5", "Ku", "K2", "dF",
    // "dU"): not judged by choice.
    QStringList offByChoice;
    // Totals over the weeks, for the counts the text table prints.
    int nValidIntervals = 0;   // valid and not flagged
    int nInvalidIntervals = 0;
    qint64 nRowsRead = 0;               // rows taken (duplicates once)
    qint64 nDuplicateRows = 0;          // rows whose time was given before
    qint64 nBadRows = 0;
    std::vector<SBadRow> firstBadRows;  // at most 10, in the order met
};

const char *VerdictText(EVerdict verdict); // "pass", "fail", "no data", "incomplete"

// A week's verdict from its rows, and the report's from its weeks: fail when
// any fails; pass when every one passes; else incomplete (no data counts as
// incomplete where a week or a report is judged).
EVerdict WeekVerdict(const std::vector<SReportRow> &rows);
EVerdict OverallVerdict(const SSupplyReport &report);

// 100 * (intervals - beyond) / intervals rounded down to two decimals, as
// text ("99.49"), so that a share never reads as a requirement it misses;
// empty without intervals.
QByteArray WithinText(const SReportRow &row);
// A week's coverage as the rule judges it: 100 * (valid + flagged) /
// intervals, rounded down the same way ("85.71"); empty without intervals.
QByteArray CoverageText(const SReportWeek &week);

// The summary: "week,quantity,phase,low,high,share,intervals,invalid,
// flagged,beyond,within,minimum,maximum,p05,p95,verdict\n" and one row per
// SReportRow of each week, the weeks in order.
QByteArray ReportSummaryCsv(const SSupplyReport &report);
// The short text table printed when no output file is asked for.
QByteArray ReportTextTable(const SSupplyReport &report);

// The rows a report over a log with these columns judges: each quantity and
// phase that has a column and a band, in the summary's order, with its band,
// hard band, share and group; nothing counted yet.
std::vector<SReportRow> JudgedRows(const QStringList &columns, const CLimits &limits);
// How the readings of a row's column make an interval's value.
EIntervalMean IntervalMeanOf(const SReportRow &row);
// The weeks of the period [report.nFromMsecs, report.nToMsecs), whose
// start is 00:00 of firstDay in the zone: seven calendar days each, the
// last cut at the period's end. Nothing judged yet.
std::vector<SReportWeek> WeeksOf(QDate firstDay, qint64 nToMsecs, const QTimeZone &zone);
// Judges each week of report.weeks on its own, under report.dMinCoverage,
// leaving out the flagged intervals: its rows copies of judged (as
// JudgedRows makes them; the tally's columns are theirs in order). The
// tally forgets each week's intervals once it is judged, so a year's logs
// need no second copy.
void JudgeWeeks(SSupplyReport &report, const std::vector<SReportRow> &judged, CIntervalTally &tally,
                const std::set<qint64> &flagged);

// What a report over logs of this set cannot judge.
std::vector<EUnjudged> UnjudgedOf(EDataSet eSet);
// The quantities EN 50160's table bounds that these limits do not.
QStringList OffByChoice(const CLimits &limits);
