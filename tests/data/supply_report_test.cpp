// The report's arithmetic on rows: the log's time, the intervals, the
// verdicts and the summary's texts.
#include "data/csv_log.h"
#include "data/report_intervals.h"
#include "data/supply_report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// 2026-10-19T00:00:00+03:00, on a 10-minute tick of UTC.
constexpr qint64 T0 = 1792357200;

TEST(LogTimeTest, ReadsWhatTheLogWritesAndNothingElse)
{
    const struct {
        const char *pName;
        const char *pText;
        bool bRead;
        qint64 nUtc;
        int nOffset;
    } cases[] = {
        {"east", "2026-10-19T00:00:00+03:00", true, T0, 3 * 3600},
        {"west", "2026-10-18T16:00:00-05:00", true, T0, -5 * 3600},
        {"quarter hours", "2026-10-19T02:45:00+05:45", true, T0, 5 * 3600 + 45 * 60},
        {"offset with seconds", "2026-10-18T21:00:17+00:00:17", true, T0, 17},
        {"leap day", "2024-02-29T12:00:00+00:00", true, 1709208000, 0},
        {"no leap day", "2026-02-29T12:00:00+00:00", false, 0, 0},
        {"month 13", "2026-13-01T00:00:00+00:00", false, 0, 0},
        {"hour 24", "2026-10-19T24:00:00+00:00", false, 0, 0},
        {"second 60", "2026-10-19T23:59:60+00:00", false, 0, 0},
        {"no offset", "2026-10-19T00:00:00", false, 0, 0},
        {"Z", "2026-10-19T00:00:00Z", false, 0, 0},
        {"space for T", "2026-10-19 00:00:00+03:00", false, 0, 0},
        {"letter in a digit", "2026-1O-19T00:00:00+03:00", false, 0, 0},
        {"offset minutes 60", "2026-10-19T00:00:00+03:60", false, 0, 0},
        {"trailing text", "2026-10-19T00:00:00+03:00x", false, 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        const std::optional<SLogTime> time = ParseLogTime(c.pText);
        ASSERT_EQ(time.has_value(), c.bRead);
        if (!c.bRead)
            continue;
        EXPECT_EQ(time->nUtcSeconds, c.nUtc);
        EXPECT_EQ(time->nOffsetSeconds, c.nOffset);
        // What the log writes reads back as the same instant.
        EXPECT_EQ(ParseLogTime(CsvTime(c.nUtc * 1000, c.nOffset).toStdString())->nUtcSeconds, c.nUtc);
    }
}

TEST(IntervalTest, IntervalsFollowTheTicksOfUtc)
{
    EXPECT_EQ(IntervalOf(T0), T0 / 600);
    EXPECT_EQ(IntervalOf(T0 + 599), T0 / 600);
    EXPECT_EQ(IntervalOf(T0 + 600), T0 / 600 + 1);
    EXPECT_EQ(IntervalOf(-1), -1);
    EXPECT_EQ(IntervalOf(-600), -1);
    EXPECT_EQ(IntervalOf(-601), -2);
}

TEST(IntervalTest, ValueOfAnIntervalIsTheRmsOrTheMeanOfItsReadings)
{
    CIntervalTally tally({EIntervalMean::Voltage, EIntervalMean::Rms, EIntervalMean::Mean});
    const double first[] = {10.0, 3.0, 0.1};
    const double second[] = {-10.0, 4.0, -0.3};
    ASSERT_TRUE(tally.Add(T0, first));
    ASSERT_TRUE(tally.Add(T0 + 61, second));
    const CIntervalTally::SInterval &interval = tally.Intervals().at(T0 / 600);
    // (sqrt((1.1^2 + 0.9^2) / 2) - 1) * 100 = (sqrt(1.01) - 1) * 100
    EXPECT_NEAR(tally.Value(interval, 0), 0.498756211, 1e-9);
    EXPECT_NEAR(tally.Value(interval, 1), std::sqrt(12.5), 1e-9);
    EXPECT_NEAR(tally.Value(interval, 2), -0.1, 1e-9);
}

TEST(IntervalTest, SteadyReadingsMakeExactlyTheirValue)
{
    // A band's bound held steadily is within the band.
    for (const double dReading : {10.0, -10.0, 0.5, 8.0, -0.5, 2.0, 1.5}) {
        SCOPED_TRACE(dReading);
        CIntervalTally tally({EIntervalMean::Voltage, EIntervalMean::Rms, EIntervalMean::Mean});
        const double values[] = {dReading, dReading, dReading};
        for (int nMinute = 0; nMinute < 10; ++nMinute)
            ASSERT_TRUE(tally.Add(T0 + nMinute * 60 + 7, values));
        const CIntervalTally::SInterval &interval = tally.Intervals().at(T0 / 600);
        EXPECT_EQ(tally.Value(interval, 0), dReading);
        EXPECT_EQ(tally.Value(interval, 1), std::abs(dReading));
        EXPECT_EQ(tally.Value(interval, 2), dReading);
    }
}

TEST(IntervalTest, OneReadingPerSecondAndEightMinutesOfTenMakeAnIntervalValid)
{
    const double value[] = {1.0};
    CIntervalTally tally({EIntervalMean::Mean});
    ASSERT_TRUE(tally.Add(T0 + 5, value));
    EXPECT_FALSE(tally.Add(T0 + 5, value)) << "the same second twice";
    EXPECT_TRUE(tally.Add(T0 + 6, value)) << "the next second";
    // Seconds 5 and 6 fill minute 0; six more minutes make seven.
    for (int nMinute = 1; nMinute <= 6; ++nMinute)
        ASSERT_TRUE(tally.Add(T0 + nMinute * 60 + 59, value));
    EXPECT_FALSE(CIntervalTally::IsValid(tally.Intervals().at(T0 / 600)));
    ASSERT_TRUE(tally.Add(T0 + 9 * 60, value));
    EXPECT_TRUE(CIntervalTally::IsValid(tally.Intervals().at(T0 / 600)));
    EXPECT_EQ(tally.Intervals().at(T0 / 600).nReadings, 9);
}

const QTimeZone EAST3_ZONE(3 * 3600);
const QDate MONDAY(2026, 10, 19); // T0's local date

// A report judging one column over intervals of one reading a minute, each
// interval's value given, and three intervals without readings after them:
// a week of those intervals, judged without a coverage rule.
SSupplyReport JudgedOver(const SReportRow &row, const std::vector<double> &intervalValues)
{
    SSupplyReport report;
    report.rows = {row};
    report.dMinCoverage = 0;
    CIntervalTally tally({IntervalMeanOf(row)});
    for (std::size_t i = 0; i < intervalValues.size(); ++i)
        for (int nMinute = 0; nMinute < 10; ++nMinute)
            tally.Add(T0 + qint64(i) * 600 + nMinute * 60, &intervalValues[i]);
    report.nFromMsecs = T0 * 1000;
    report.nToMsecs = (T0 + (qint64(intervalValues.size()) + 3) * 600) * 1000;
    report.weeks = WeeksOf(MONDAY, report.nToMsecs, EAST3_ZONE);
    JudgeWeeks(report, tally, {});
    return report;
}

SReportRow RowFor(const char *pColumn)
{
    const std::vector<SReportRow> rows = JudgedRows({QString::fromLatin1(pColumn)}, CLimits::Defaults());
    EXPECT_EQ(rows.size(), 1u);
    return rows.front();
}

TEST(JudgeTest, VerdictWeighsTheShareWithinTheBandAndTheHardBand)
{
    const struct {
        const char *pName;
        const char *pColumn;
        int nCount;        // intervals
        double dBeyond;    // the value of the ones beyond
        int nBeyond;
        EVerdict eVerdict;
    } cases[] = {
        {"dF: 199 of 200 within is 99.5 %", "dF", 200, 0.6, 1, EVerdict::Pass},
        {"dF: 198 of 200 within is 99 %", "dF", 200, 0.6, 2, EVerdict::Fail},
        {"dF: one interval beyond -3 Hz", "dF", 200, -3.1, 1, EVerdict::Fail},
        {"Ku5: 19 of 20 within is 95 %", "Ku5A", 20, 7.0, 1, EVerdict::Pass},
        {"Ku5: 18 of 20 within", "Ku5A", 20, 7.0, 2, EVerdict::Fail},
        {"Ku5 has no hard band", "Ku5A", 20, 70.0, 1, EVerdict::Pass},
        {"dU: below -10 % but above -15 %", "dUA", 20, -14.9, 1, EVerdict::Pass},
        {"dU: below -15 %", "dUA", 20, -15.1, 1, EVerdict::Fail},
        {"dU: above +10 %", "dUA", 100, 10.1, 1, EVerdict::Fail},
        {"no valid interval", "K2", 0, 0, 0, EVerdict::NoData},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        std::vector<double> values(std::size_t(c.nCount), 0.0);
        for (int i = 0; i < c.nBeyond; ++i)
            values[std::size_t(i * 7 % c.nCount)] = c.dBeyond;
        const SSupplyReport report = JudgedOver(RowFor(c.pColumn), values);
        const SReportRow &row = report.rows.front();
        EXPECT_EQ(row.nIntervals, c.nCount);
        EXPECT_EQ(row.nInvalid, 3);
        EXPECT_EQ(row.nBeyond, c.nBeyond);
        EXPECT_EQ(row.eVerdict, c.eVerdict);
        ASSERT_EQ(report.weeks.size(), 1u);
        EXPECT_EQ(report.weeks[0].rows.front().eVerdict, c.eVerdict) << "the week alone";
    }
}

TEST(JudgeTest, PercentilesAreByNearestRank)
{
    const struct {
        int nCount;
        double dP05, dP95;
    } cases[] = {{1, 1, 1}, {20, 1, 19}, {21, 2, 20}, {100, 5, 95}, {101, 6, 96}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.nCount);
        std::vector<double> values;
        for (int i = c.nCount; i >= 1; --i) // given in descending order: sorting is the report's
            values.push_back(i);
        const SReportRow row = JudgedOver(RowFor("K2"), values).rows.front();
        EXPECT_EQ(row.dP05, c.dP05);
        EXPECT_EQ(row.dP95, c.dP95);
        EXPECT_EQ(row.dMinimum, 1);
        EXPECT_EQ(row.dMaximum, c.nCount);
    }
}

TEST(JudgeTest, RowsComeInTheSummarysOrderAndOnlyWithABand)
{
    CLimits limits = CLimits::Defaults();
    limits.SetUnbalance(std::nullopt);
    QStringList columns = QString::fromUtf8(CsvHeader(EDataSet::Minute).chopped(1)).split(u',');
    const std::vector<SReportRow> rows = JudgedRows(columns, limits);
    QStringList names;
    for (const SReportRow &row : rows)
        names << row.strQuantity + u' ' + row.strPhase;
    // dU, Ku2 ... Ku25 (the defaults have no band above), Ku, dF: 6 + 24 * 6 + 6 + 1.
    ASSERT_EQ(names.size(), 157);
    EXPECT_EQ(names.mid(0, 8), QStringList({"dU A", "dU B", "dU C", "dU AB", "dU BC", "dU CA", "Ku2 A", "Ku2 B"}));
    EXPECT_EQ(names.mid(148), QStringList({"Ku25 BC", "Ku25 CA", "Ku A", "Ku B", "Ku C", "Ku AB", "Ku BC",
                                           "Ku CA", "dF "}));
    EXPECT_EQ(rows.back().dRequiredShare, 99.5);
    EXPECT_EQ(rows.back().eGroup, EQuantityGroup::Frequency);
    EXPECT_EQ(rows[10].strColumn, QStringLiteral("Ku2BC"));
}

TEST(SummaryTest, WritesThreeDecimalsTwoForWithinAndEmptyFieldsWhereThereIsNothing)
{
    SReportRow dU = RowFor("dUAB");
    SReportRow k2 = RowFor("K2");
    SSupplyReport report = JudgedOver(dU, {-0.0004, 0.5, 10.0, -1.25});
    report.weeks[0].rows.push_back(k2); // never judged: no data
    EXPECT_EQ(ReportSummaryCsv(report),
              "week,quantity,phase,low,high,share,intervals,invalid,flagged,beyond,within,minimum,maximum,p05,p95,"
              "verdict\n"
              "2026-10-19,dU,AB,-10,10,95,4,3,0,0,100.00,-1.250,10.000,-1.250,10.000,pass\n"
              "2026-10-19,K2,,,2,95,0,0,0,0,,,,,,no data\n");
    report = JudgedOver(dU, {-0.0004, 0.0001, 0.0002});
    EXPECT_EQ(ReportSummaryCsv(report).split('\n').at(1),
              "2026-10-19,dU,AB,-10,10,95,3,3,0,0,100.00,0.000,0.000,0.000,0.000,pass")
        << "a value that rounds to zero is no negative zero";
    report = JudgedOver(RowFor("dF"), {0.6, 0, 0});
    EXPECT_EQ(ReportSummaryCsv(report).split('\n').at(1),
              "2026-10-19,dF,,-0.5,0.5,99.5,3,3,0,1,66.66,0.000,0.600,0.000,0.600,fail");
}

} // namespace
