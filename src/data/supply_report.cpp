// Numbers are written with std::to_chars, so the user's LC_NUMERIC (a
// decimal comma) never shows in the summary a script reads.
#include "data/supply_report.h"

#include "data/csv_log.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

const char *const kPhases[] = {"A", "B", "C", "AB", "BC", "CA"};

// EN 50160's limits for low voltage that no 10-minute value may pass.
constexpr SLimitBand VOLTAGE_HARD_BAND{-15.0, 10.0};
constexpr SLimitBand FREQUENCY_HARD_BAND{-3.0, 2.0};
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

QByteArray Within(const SReportRow &row)
{
    return row.nIntervals == 0 ? QByteArray()
                               : Fixed(100.0 * (row.nIntervals - row.nBeyond) / row.nIntervals, 2);
}

// The value at position ceil(nPercent/100 * N) of the sorted values (nearest rank).
double NearestRank(const std::vector<double> &sorted, int nPercent)
{
    const std::size_t nCount = sorted.size();
    const std::size_t nRank = std::max<std::size_t>(1, (nCount * std::size_t(nPercent) + 99) / 100);
    return sorted[nRank - 1];
}

SReportRow RowOf(const QString &strQuantity, const QString &strPhase, EQuantityGroup eGroup,
                 SLimitBand band)
{
    SReportRow row;
    row.strQuantity = strQuantity;
    row.strPhase = strPhase;
    row.strColumn = strQuantity + strPhase;
    row.eGroup = eGroup;
    row.band = band;
    if (eGroup == EQuantityGroup::VoltageDeviation)
        row.hardBand = VOLTAGE_HARD_BAND;
    if (eGroup == EQuantityGroup::Frequency) {
        row.hardBand = FREQUENCY_HARD_BAND;
        row.dRequiredShare = FREQUENCY_SHARE;
    }
    return row;
}

void Judge(SReportRow &row)
{
    std::vector<double> sorted = row.values;
    std::sort(sorted.begin(), sorted.end());
    row.nIntervals = int(sorted.size());
    row.nBeyond = int(std::count_if(sorted.begin(), sorted.end(), [&](double d) { return !row.band.Holds(d); }));
    row.nBeyondHard = row.hardBand ? int(std::count_if(sorted.begin(), sorted.end(),
                                                       [&](double d) { return !row.hardBand->Holds(d); }))
                                   : 0;
    if (sorted.empty()) {
        row.eVerdict = EVerdict::NoData;
        return;
    }
    row.dMinimum = sorted.front();
    row.dMaximum = sorted.back();
    row.dP05 = NearestRank(sorted, 5);
    row.dP95 = NearestRank(sorted, 95);
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
            rows.push_back(RowOf(strQuantity, strPhase, eGroup, *band));
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

void JudgeIntervals(SSupplyReport &report, const CIntervalTally &tally, qint64 nFirstInterval,
                    qint64 nEndInterval)
{
    report.intervalStarts.clear();
    for (SReportRow &row : report.rows)
        row.values.clear();
    const auto &intervals = tally.Intervals();
    for (auto it = intervals.lower_bound(nFirstInterval); it != intervals.end() && it->first < nEndInterval;
         ++it) {
        if (!CIntervalTally::IsValid(it->second))
            continue;
        report.intervalStarts.push_back(it->first * INTERVAL_SECONDS * 1000);
        for (std::size_t i = 0; i < report.rows.size(); ++i)
            report.rows[i].values.push_back(tally.Value(it->second, i));
    }
    report.nValidIntervals = int(report.intervalStarts.size());
    report.nInvalidIntervals = int(std::max<qint64>(0, nEndInterval - nFirstInterval) - report.nValidIntervals);
    for (SReportRow &row : report.rows) {
        row.nInvalid = report.nInvalidIntervals;
        Judge(row);
    }
}

QByteArray ReportSummaryCsv(const SSupplyReport &report)
{
    QByteArray csv("quantity,phase,low,high,share,intervals,invalid,beyond,within,minimum,maximum,p05,p95,verdict\n");
    for (const SReportRow &row : report.rows) {
        const QList<QByteArray> fields = {row.strQuantity.toUtf8(),
                                          row.strPhase.toUtf8(),
                                          Bound(row.band.dMin),
                                          Bound(row.band.dMax),
                                          Shortest(row.dRequiredShare),
                                          QByteArray::number(row.nIntervals),
                                          QByteArray::number(row.nInvalid),
                                          QByteArray::number(row.nBeyond),
                                          Within(row),
                                          Statistic(row.dMinimum),
                                          Statistic(row.dMaximum),
                                          Statistic(row.dP05),
                                          Statistic(row.dP95),
                                          VerdictText(row.eVerdict)};
        csv += fields.join(',') + '\n';
    }
    return csv;
}

namespace {

// The whole verdict in one line above the table, which runs to some 160
// rows: the counts, and which quantities and phases failed.
QByteArray VerdictLine(const std::vector<SReportRow> &rows)
{
    int nPass = 0;
    int nNoData = 0;
    QByteArrayList failed;
    for (const SReportRow &row : rows) {
        if (row.eVerdict == EVerdict::Pass)
            ++nPass;
        else if (row.eVerdict == EVerdict::NoData)
            ++nNoData;
        else
            failed << (row.strQuantity + (row.strPhase.isEmpty() ? QString() : u' ' + row.strPhase)).toUtf8();
    }
    QByteArray line = "verdict: " + QByteArray::number(nPass) + " pass, " + QByteArray::number(failed.size())
                      + " fail, " + QByteArray::number(nNoData) + " no data";
    if (!failed.isEmpty())
        line += "; failed: " + failed.join(", ");
    return line + '\n';
}

} // namespace

QByteArray ReportTextTable(const SSupplyReport &report)
{
    QByteArray text = "Supply quality after EN 50160, " + ShownTime(report.nFromMsecs, report.nOffsetSeconds)
                      + " to " + ShownTime(report.nToMsecs, report.nOffsetSeconds) + " ("
                      + DurationText((report.nToMsecs - report.nFromMsecs) / 1000) + ")\n";
    text += "10-minute intervals: " + QByteArray::number(report.nValidIntervals) + " valid, "
            + QByteArray::number(report.nInvalidIntervals) + " invalid; rows: " + QByteArray::number(report.nRowsRead)
            + " read, " + QByteArray::number(report.nDuplicateRows) + " given twice, "
            + QByteArray::number(report.nBadRows) + " unreadable\n";
    for (const SBadRow &bad : report.firstBadRows)
        text += "  unreadable: " + bad.strFile.toUtf8() + ", line " + QByteArray::number(bad.nLine) + '\n';
    if (report.nBadRows > qint64(report.firstBadRows.size()))
        text += "  and " + QByteArray::number(report.nBadRows - qint64(report.firstBadRows.size())) + " more\n";
    text += VerdictLine(report.rows);
    text += '\n' + Cell("quantity", 10) + Cell("phase", 7) + Cell("band", 14) + Cell("within %", 10) + "verdict\n";
    for (const SReportRow &row : report.rows) {
        const QByteArray within = Within(row);
        text += Cell(row.strQuantity.toUtf8(), 10) + Cell(row.strPhase.toUtf8(), 7) + Cell(BandText(row.band), 14)
                + Cell(within.isEmpty() ? QByteArray("-") : within, 10) + VerdictText(row.eVerdict) + '\n';
    }
    text += '\n';
    if (!report.bWeek)
        text += "The period is not a week: EN 50160 judges a week; this is what the period held.\n";
    text += "Indicative only: the values were polled and aggregated by Varik, not measured by a\n"
            "class A instrument under IEC 61000-4-30.\n";
    return text;
}
