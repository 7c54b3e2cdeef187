// Numbers are written with std::to_chars, so the user's LC_NUMERIC (a
// decimal comma) never shows in the summary a script reads.
#include "data/supply_report.h"

#include "data/csv_log.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

#include <QDateTime>

namespace {

const char *const kPhases[] = {"A", "B", "C", "AB", "BC", "CA"};

constexpr double SHARE = 95.0;
constexpr double FREQUENCY_SHARE = 99.5;

QByteArray Fixed(double d, int nDecimals)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, d, std::chars_format::fixed, nDecimals);
    QByteArray bytes(text, int(result.ptr - text));
    // A value that rounds to zero is zero, whichever side it came from.
    if (bytes.startsWith('-') && bytes.count('0') == bytes.size() - 2)
        bytes.remove(0, 1);
    return bytes;
}

// The shortest text that reads back as d: "-10", "0.5", "99.5".
QByteArray Shortest(double d)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, d, std::chars_format::fixed);
    return QByteArray(text, int(result.ptr - text));
}

QByteArray Bound(double d)
{
    return std::isinf(d) ? QByteArray() : Shortest(d);
}

QByteArray Statistic(double d)
{
    return std::isnan(d) ? QByteArray() : Fixed(d, 3);
}

// 100 * nPart / nWhole rounded down to two decimals, in whole numbers: a
// share's text never rounds up to a requirement it misses.
QByteArray PercentDown(qint64 nPart, qint64 nWhole)
{
    const qint64 nHundredths = nPart * 10000 / nWhole;
    const QByteArray decimals = QByteArray::number(nHundredths % 100);
    return QByteArray::number(nHundredths / 100) + '.' + (decimals.size() < 2 ? '0' + decimals : decimals);
}

// The rank ceil(nPercent/100 * N) of N values (nearest rank), from 1.
std::size_t NearestRank(std::size_t nCount, int nPercent)
{
    return std::max<std::size_t>(1, (nCount * std::size_t(nPercent) + 99) / 100);
}

SReportRow RowOf(const QString &strQuantity, const QString &strPhase, EQuantityGroup eGroup,
                 SLimitBand band, const CLimits &limits)
{
    SReportRow row;
    row.strQuantity = strQuantity;
    row.strPhase = strPhase;
    row.strColumn = strQuantity + strPhase;
    row.eGroup = eGroup;
    row.band = band;
    if (eGroup == EQuantityGroup::VoltageDeviation)
        row.hardBand = limits.VoltageHardBand();
    if (eGroup == EQuantityGroup::Frequency) {
        row.hardBand = limits.FrequencyHardBand();
        row.dRequiredShare = FREQUENCY_SHARE;
    }
    return row;
}

void Judge(SReportRow &row)
{
    const std::vector<double> &values = row.values;
    row.nIntervals = int(values.size());
    row.nBeyond = int(std::count_if(values.begin(), values.end(), [&](double d) { return !row.band.Holds(d); }));
    row.nBeyondHard = row.hardBand ? int(std::count_if(values.begin(), values.end(),
                                                       [&](double d) { return !row.hardBand->Holds(d); }))
                                   : 0;
    if (values.empty()) {
        row.eVerdict = EVerdict::NoData;
        return;
    }
    const auto [pMin, pMax] = std::minmax_element(values.begin(), values.end());
    row.dMinimum = *pMin;
    row.dMaximum = *pMax;
    // Two selections cost less than sorting a year of values per row.
    std::vector<double> ranked = values;
    const auto nth = [&](int nPercent) {
        const auto it = ranked.begin() + std::ptrdiff_t(NearestRank(ranked.size(), nPercent) - 1);
        std::nth_element(ranked.begin(), it, ranked.end());
        return *it;
    };
    row.dP05 = nth(5);
    row.dP95 = nth(95);
    // Both sides are exact: whole numbers, and a share of halves times a count.
    const bool bShareHeld = 100.0 * (row.nIntervals - row.nBeyond) >= row.dRequiredShare * row.nIntervals;
    row.eVerdict = bShareHeld && row.nBeyondHard == 0 ? EVerdict::Pass : EVerdict::Fail;
}

QByteArray BandText(const SLimitBand &band)
{
    if (std::isinf(band.dMin))
        return ".. " + Shortest(band.dMax);
    if (std::isinf(band.dMax))
        return Shortest(band.dMin) + " ..";
    return Shortest(band.dMin) + " .. " + Shortest(band.dMax);
}

QByteArray Cell(const QByteArray &text, int nWidth)
{
    return text.leftJustified(nWidth, ' ');
}

QByteArray DurationText(qint64 nSeconds)
{
    const qint64 nDays = nSeconds / 86400;
    const qint64 nHours = nSeconds % 86400 / 3600;
    const qint64 nMinutes = nSeconds % 3600 / 60;
    QByteArray text;
    if (nDays > 0)
        text += QByteArray::number(nDays) + " d ";
    if (nDays > 0 || nHours > 0)
        text += QByteArray::number(nHours) + " h ";
    return text + QByteArray::number(nMinutes) + " min";
}

QByteArray ShownTime(qint64 nMsecs, int nOffsetSeconds)
{
    return CsvTime(nMsecs, nOffsetSeconds).replace('T', ' ');
}

} // namespace

const char *VerdictText(EVerdict verdict)
{
    switch (verdict) {
    case EVerdict::Pass:
        return "pass";
    case EVerdict::Fail:
        return "fail";
    case EVerdict::Incomplete:
        return "incomplete";
    case EVerdict::NoData:
        break;
    }
    return "no data";
}

std::vector<SReportRow> JudgedRows(const QStringList &columns, const CLimits &limits)
{
    std::vector<SReportRow> rows;
    const auto add = [&](const QString &strQuantity, const QString &strPhase, EQuantityGroup eGroup) {
        const QString strColumn = strQuantity + strPhase;
        const std::optional<SLimitBand> band = limits.ForRowName(strColumn);
        if (band && columns.contains(strColumn))
            rows.push_back(RowOf(strQuantity, strPhase, eGroup, *band, limits));
    };
    for (const char *pPhase : kPhases)
        add(QStringLiteral("dU"), QLatin1String(pPhase), EQuantityGroup::VoltageDeviation);
    for (int nOrder = FIRST_HARMONIC_ORDER; nOrder <= LAST_HARMONIC_ORDER; ++nOrder)
        for (const char *pPhase : kPhases)
            add(QStringLiteral("Ku") + QString::number(nOrder), QLatin1String(pPhase), EQuantityGroup::Harmonics);
    for (const char *pPhase : kPhases)
        add(QStringLiteral("Ku"), QLatin1String(pPhase), EQuantityGroup::TotalDistortion);
    add(QStringLiteral("K2"), QString(), EQuantityGroup::Unbalance);
    add(QStringLiteral("dF"), QString(), EQuantityGroup::Frequency);
    return rows;
}

EIntervalMean IntervalMeanOf(const SReportRow &row)
{
    switch (row.eGroup) {
    case EQuantityGroup::VoltageDeviation:
        return EIntervalMean::Voltage;
    case EQuantityGroup::Frequency:
        return EIntervalMean::Mean;
    case EQuantityGroup::Unbalance:
    case EQuantityGroup::Harmonics:
    case EQuantityGroup::TotalDistortion:
        break;
    }
    return EIntervalMean::Rms;
}

namespace {

struct SGathered {
    int nValid = 0; // valid and not flagged
    int nInvalid = 0;
    int nFlagged = 0;
};

// The values of the valid, unflagged intervals of [nFirst, nEnd) into the
// rows (a column judged on spans gets the spans' means), and each row
// judged on them alone.
SGathered Gather(std::vector<SReportRow> &rows, std::vector<qint64> &starts, const CIntervalTally &tally,
                 qint64 nFirst, qint64 nEnd, const std::set<qint64> &flagged)
{
    starts.clear();
    for (SReportRow &row : rows) {
        row.values.clear();
        row.valueStarts.clear();
    }
    SGathered gathered;
    const std::optional<SSpans> &spans = tally.Spans();
    const auto &intervals = tally.Intervals();
    for (auto it = intervals.lower_bound(nFirst); it != intervals.end() && it->first < nEnd; ++it) {
        if (!CIntervalTally::IsValid(it->second))
            continue;
        if (flagged.count(it->first) > 0) {
            ++gathered.nFlagged;
            continue;
        }
        starts.push_back(it->first * INTERVAL_SECONDS * 1000);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (spans && spans->nColumn == i)
                tally.AppendSpanMeans(it->second, it->first, rows[i].values, rows[i].valueStarts);
            else
                rows[i].values.push_back(tally.Value(it->second, i));
        }
    }
    gathered.nValid = int(starts.size());
    gathered.nInvalid = int(std::max<qint64>(0, nEnd - nFirst) - gathered.nValid - gathered.nFlagged);
    for (SReportRow &row : rows) {
        row.nInvalid = gathered.nInvalid;
        row.nFlagged = gathered.nFlagged;
        Judge(row);
    }
    return gathered;
}

// A week's row under the coverage rule: what it holds may fail it whatever
// the missing values would have held; else too few valid intervals leave
// it incomplete, however good the ones there are.
void Cover(SReportRow &row, const SReportWeek &week, int nValuesPerInterval, double dMinCoverage)
{
    row.nExpected = (week.nIntervals - week.nFlaggedIntervals) * nValuesPerInterval;
    // Whole numbers times a share of halves: exact in doubles.
    const bool bFailsWhateverIsMissing =
        row.nBeyondHard > 0 || 100.0 * (row.nExpected - row.nBeyond) < row.dRequiredShare * row.nExpected;
    // Flagged intervals were measured: they cover the week.
    const bool bCovered =
        100.0 * (week.nValidIntervals + week.nFlaggedIntervals) >= dMinCoverage * week.nIntervals;
    if (bFailsWhateverIsMissing)
        row.eVerdict = EVerdict::Fail;
    else if (!bCovered)
        row.eVerdict = EVerdict::Incomplete;
}

// Fail when any fails; pass when every one passes; else incomplete.
template <typename Verdicts> EVerdict Combined(const Verdicts &verdicts)
{
    if (verdicts.empty())
        return EVerdict::NoData;
    bool bAllPass = true;
    for (const EVerdict eVerdict : verdicts) {
        if (eVerdict == EVerdict::Fail)
            return EVerdict::Fail;
        bAllPass = bAllPass && eVerdict == EVerdict::Pass;
    }
    return bAllPass ? EVerdict::Pass : EVerdict::Incomplete;
}

} // namespace

std::vector<SReportWeek> WeeksOf(QDate firstDay, qint64 nToMsecs, const QTimeZone &zone)
{
    std::vector<SReportWeek> weeks;
    const auto offsetAt = [&](qint64 nMsecs) {
        return zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(nMsecs, zone));
    };
    QDate day = firstDay;
    qint64 nFrom = day.startOfDay(zone).toMSecsSinceEpoch();
    while (nFrom < nToMsecs) {
        const QDate next = day.addDays(7);
        const qint64 nNext = next.startOfDay(zone).toMSecsSinceEpoch();
        SReportWeek week;
        week.firstDay = day;
        week.nFromMsecs = nFrom;
        week.nToMsecs = std::min(nNext, nToMsecs);
        week.bShort = nToMsecs < nNext;
        week.nOffsetSeconds = offsetAt(week.nFromMsecs);
        week.nEndOffsetSeconds = offsetAt(week.nToMsecs);
        weeks.push_back(week);
        day = next;
        nFrom = nNext;
    }
    return weeks;
}

void JudgeWeeks(SSupplyReport &report, const std::vector<SReportRow> &judged, CIntervalTally &tally,
                const std::set<qint64> &flagged)
{
    const std::optional<SSpans> &spans = tally.Spans();
    report.nValidIntervals = 0;
    report.nInvalidIntervals = 0;
    for (SReportWeek &week : report.weeks) {
        const qint64 nFirst = FirstIntervalFrom(week.nFromMsecs);
        const qint64 nEnd = FirstIntervalFrom(week.nToMsecs);
        week.rows = judged;
        const SGathered gathered = Gather(week.rows, week.intervalStarts, tally, nFirst, nEnd, flagged);
        tally.Release(nFirst, nEnd);
        week.nIntervals = int(std::max<qint64>(0, nEnd - nFirst));
        week.nValidIntervals = gathered.nValid;
        week.nInvalidIntervals = gathered.nInvalid;
        week.nFlaggedIntervals = gathered.nFlagged;
        for (std::size_t i = 0; i < week.rows.size(); ++i)
            Cover(week.rows[i], week, spans && spans->nColumn == i ? tally.SpansPerInterval() : 1,
                  report.dMinCoverage);
        week.eVerdict = WeekVerdict(week.rows);
        report.nValidIntervals += week.nValidIntervals;
        report.nInvalidIntervals += week.nInvalidIntervals;
    }
}

EVerdict WeekVerdict(const std::vector<SReportRow> &rows)
{
    std::vector<EVerdict> verdicts;
    for (const SReportRow &row : rows)
        verdicts.push_back(row.eVerdict);
    return Combined(verdicts);
}

EVerdict OverallVerdict(const SSupplyReport &report)
{
    std::vector<EVerdict> verdicts;
    for (const SReportWeek &week : report.weeks)
        verdicts.push_back(week.eVerdict);
    return Combined(verdicts);
}

std::vector<EUnjudged> UnjudgedOf(EDataSet eSet)
{
    std::vector<EUnjudged> unjudged = {EUnjudged::Flicker, EUnjudged::RapidVoltageChanges,
                                       EUnjudged::SignallingVoltages};
    if (eSet == EDataSet::Minute)
        unjudged.push_back(EUnjudged::DipsAndSwells);
    return unjudged;
}

QStringList OffByChoice(const CLimits &limits)
{
    const CLimits standard = CLimits::Defaults();
    QStringList off;
    const auto note = [&](const char *pName, const std::optional<SLimitBand> &ours,
                          const std::optional<SLimitBand> &theirs) {
        if (theirs && !ours)
            off << QString::fromLatin1(pName);
    };
    note("dU", limits.VoltageDeviation(), standard.VoltageDeviation());
    note("dF", limits.FrequencyDeviation(), standard.FrequencyDeviation());
    note("K2", limits.Unbalance(), standard.Unbalance());
    note("Ku", limits.TotalDistortion(), standard.TotalDistortion());
    for (int nOrder = FIRST_HARMONIC_ORDER; nOrder <= LAST_HARMONIC_ORDER; ++nOrder)
        note(("Ku" + std::to_string(nOrder)).c_str(), limits.Harmonic(nOrder), standard.Harmonic(nOrder));
    return off;
}

QByteArray WithinText(const SReportRow &row)
{
    return row.nIntervals == 0 ? QByteArray() : PercentDown(row.nIntervals - row.nBeyond, row.nIntervals);
}

QByteArray CoverageText(const SReportWeek &week)
{
    return week.nIntervals == 0 ? QByteArray()
                                : PercentDown(week.nValidIntervals + week.nFlaggedIntervals, week.nIntervals);
}

QByteArray ReportSummaryCsv(const SSupplyReport &report)
{
    QByteArray csv("week,quantity,phase,low,high,share,intervals,invalid,flagged,beyond,within,minimum,maximum,"
                   "p05,p95,verdict\n");
    for (const SReportWeek &week : report.weeks) {
        const QByteArray weekText = week.firstDay.toString(Qt::ISODate).toLatin1();
        for (const SReportRow &row : week.rows) {
            const QList<QByteArray> fields = {weekText,
                                              row.strQuantity.toUtf8(),
                                              row.strPhase.toUtf8(),
                                              Bound(row.band.dMin),
                                              Bound(row.band.dMax),
                                              Shortest(row.dRequiredShare),
                                              QByteArray::number(row.nIntervals),
                                              QByteArray::number(row.nInvalid),
                                              QByteArray::number(row.nFlagged),
                                              QByteArray::number(row.nBeyond),
                                              WithinText(row),
                                              Statistic(row.dMinimum),
                                              Statistic(row.dMaximum),
                                              Statistic(row.dP05),
                                              Statistic(row.dP95),
                                              VerdictText(row.eVerdict)};
            csv += fields.join(',') + '\n';
        }
    }
    return csv;
}

namespace {

// A week's verdict in one line above its table, which runs to some 160
// rows: the counts, and which quantities and phases failed.
QByteArray VerdictLine(const std::vector<SReportRow> &rows)
{
    int nPass = 0;
    int nIncomplete = 0;
    int nNoData = 0;
    QByteArrayList failed;
    for (const SReportRow &row : rows) {
        if (row.eVerdict == EVerdict::Pass)
            ++nPass;
        else if (row.eVerdict == EVerdict::Incomplete)
            ++nIncomplete;
        else if (row.eVerdict == EVerdict::NoData)
            ++nNoData;
        else
            failed << (row.strQuantity + (row.strPhase.isEmpty() ? QString() : u' ' + row.strPhase)).toUtf8();
    }
    QByteArray line = "verdict: " + QByteArray::number(nPass) + " pass, " + QByteArray::number(failed.size())
                      + " fail, " + QByteArray::number(nIncomplete) + " incomplete, " + QByteArray::number(nNoData)
                      + " no data";
    if (!failed.isEmpty())
        line += "; failed: " + failed.join(", ");
    return line + '\n';
}

QByteArray WeekBlock(const SReportWeek &week)
{
    const QDate lastDay =
        week.bShort ? QDateTime::fromMSecsSinceEpoch(week.nToMsecs - 1, QTimeZone(week.nEndOffsetSeconds)).date()
                    : week.firstDay.addDays(6);
    QByteArray text = "week " + week.firstDay.toString(Qt::ISODate).toLatin1() + " to "
                      + lastDay.toString(Qt::ISODate).toLatin1();
    if (week.bShort)
    {
        const qint64 nDays = week.firstDay.daysTo(lastDay) + 1;
        text += " (" + QByteArray::number(nDays) + (nDays == 1 ? " day" : " days")
                + ", shorter: not a week of seven days)";
    }
    text += "\n10-minute intervals: " + QByteArray::number(week.nValidIntervals) + " valid, "
            + QByteArray::number(week.nInvalidIntervals) + " invalid, " + QByteArray::number(week.nFlaggedIntervals)
            + " flagged of " + QByteArray::number(week.nIntervals);
    if (week.nIntervals > 0)
        text += "; coverage " + CoverageText(week) + " %";
    text += '\n' + VerdictLine(week.rows);
    text += '\n' + Cell("quantity", 10) + Cell("phase", 7) + Cell("band", 14) + Cell("within %", 10) + "verdict\n";
    for (const SReportRow &row : week.rows) {
        const QByteArray within = WithinText(row);
        text += Cell(row.strQuantity.toUtf8(), 10) + Cell(row.strPhase.toUtf8(), 7) + Cell(BandText(row.band), 14)
                + Cell(within.isEmpty() ? QByteArray("-") : within, 10) + VerdictText(row.eVerdict) + '\n';
    }
    return text;
}

QByteArray OverallLine(const SSupplyReport &report)
{
    const EVerdict eOverall = OverallVerdict(report);
    QByteArray line = QByteArray("overall verdict: ") + VerdictText(eOverall);
    QByteArrayList weeks;
    for (const SReportWeek &week : report.weeks)
        if (week.eVerdict != EVerdict::Pass)
            weeks << week.firstDay.toString(Qt::ISODate).toLatin1() + ' ' + VerdictText(week.eVerdict);
    if (eOverall != EVerdict::Pass && !weeks.isEmpty())
        line += " (weeks not passed: " + weeks.join(", ") + ')';
    return line + '\n';
}

QByteArray EventsLine(const std::vector<SSupplyEvent> &events)
{
    int nCounts[3] = {};
    for (const SSupplyEvent &event : events)
        ++nCounts[int(event.eKind)];
    // The count first would read "1 interruptions": the name first reads for any count.
    return "events: interruptions " + QByteArray::number(nCounts[int(ESupplyEventKind::Interruption)]) + ", dips "
           + QByteArray::number(nCounts[int(ESupplyEventKind::Dip)]) + ", swells "
           + QByteArray::number(nCounts[int(ESupplyEventKind::Swell)]) + '\n';
}

const char *UnjudgedText(EUnjudged eUnjudged)
{
    switch (eUnjudged) {
    case EUnjudged::Flicker:
        return "flicker (Plt)";
    case EUnjudged::RapidVoltageChanges:
        return "rapid voltage changes";
    case EUnjudged::SignallingVoltages:
        return "signalling voltages";
    case EUnjudged::DipsAndSwells:
        break;
    }
    return "dips and swells (a per-minute log cannot show them)";
}

QByteArray NotJudgedLines(const SSupplyReport &report)
{
    QByteArrayList names;
    for (const EUnjudged eUnjudged : report.unjudged)
        names << UnjudgedText(eUnjudged);
    QByteArray text;
    if (!names.isEmpty())
        text += "not judged: " + names.join(", ") + '\n';
    if (!report.offByChoice.isEmpty())
        text += "not judged by choice (no band in the limits): " + report.offByChoice.join(u", ").toUtf8() + '\n';
    return text;
}

} // namespace

QByteArray ReportTextTable(const SSupplyReport &report)
{
    QByteArray text = "Supply quality after EN 50160, " + ShownTime(report.nFromMsecs, report.nOffsetSeconds)
                      + " to " + ShownTime(report.nToMsecs, report.nEndOffsetSeconds) + " ("
                      + DurationText((report.nToMsecs - report.nFromMsecs) / 1000) + ")";
    if (!report.strTimeZone.isEmpty())
        text += ", time zone " + report.strTimeZone.toUtf8();
    text += "\n10-minute intervals: " + QByteArray::number(report.nValidIntervals) + " valid, "
            + QByteArray::number(report.nInvalidIntervals) + " invalid; rows: " + QByteArray::number(report.nRowsRead)
            + " read, " + QByteArray::number(report.nDuplicateRows) + " given twice, "
            + QByteArray::number(report.nBadRows) + " unreadable\n";
    for (const SBadRow &bad : report.firstBadRows)
        text += "  unreadable: " + bad.strFile.toUtf8() + ", line " + QByteArray::number(bad.nLine) + '\n';
    if (report.nBadRows > qint64(report.firstBadRows.size()))
        text += "  and " + QByteArray::number(report.nBadRows - qint64(report.firstBadRows.size())) + " more\n";
    text += "frequency judged on " + QByteArray(report.eSet == EDataSet::Second ? "10-second means" : "minute values")
            + "; a week's row is incomplete below " + Shortest(report.dMinCoverage) + " % coverage\n";
    for (const SReportWeek &week : report.weeks)
        text += '\n' + WeekBlock(week);
    text += '\n' + OverallLine(report) + EventsLine(report.events) + NotJudgedLines(report);
    text += "Indicative only: the values were polled and aggregated by Varik, not measured by a\n"
            "class A instrument under IEC 61000-4-30.\n";
    return text;
}
