// The report's arithmetic on rows: the log's time, the intervals, the
// verdicts and the summary's texts.
#include "data/csv_log.h"
#include "data/report_intervals.h"
#include "data/supply_report.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <set>
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

TEST(LogNumberTest, ReadsExactlyWhatFromCharsReads)
{
    const struct {
        const char *pText;
        bool bRead;
    } cases[] = {
        {"0", true},         {"-0.000", true},   {"12.345", true},    {"-12.345", true},   {"0.1", true},
        {"49.990", true},    {"00.10", true},    {"1.", true},        {".5", true},        {"1e2", true},
        {"-1.5E-3", true},   {"123456789012.345", true}, {"1234567890123456789", true},
        {"0.123456789123", true}, {"", false}, {"-", false}, {".", false}, {"1.2.3", false}, {"1,5", false},
        {"+1", false},       {" 1", false},      {"1 ", false},       {"inf", false},      {"nan", false},
        {"1e999", false},    {"x", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pText);
        const std::string_view text(c.pText);
        double dValue = 0;
        ASSERT_EQ(ParseLogNumber(text.data(), text.data() + text.size(), dValue), c.bRead);
        if (!c.bRead)
            continue;
        double dExpected = 0;
        std::from_chars(text.data(), text.data() + text.size(), dExpected);
        EXPECT_EQ(std::memcmp(&dValue, &dExpected, sizeof dValue), 0) << dValue << " " << dExpected;
    }
    // Every value of three decimals a log writes, to the bit.
    char text[32];
    for (int nMilli = -200000; nMilli <= 200000; ++nMilli) {
        const int nLength = std::snprintf(text, sizeof text, "%s%d.%03d", nMilli < 0 ? "-" : "", std::abs(nMilli) / 1000,
                                          std::abs(nMilli) % 1000);
        double dValue = 0, dExpected = 0;
        ASSERT_TRUE(ParseLogNumber(text, text + nLength, dValue));
        std::from_chars(text, text + nLength, dExpected);
        ASSERT_EQ(dValue, dExpected) << text;
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
    report.dMinCoverage = 0;
    CIntervalTally tally({IntervalMeanOf(row)});
    for (std::size_t i = 0; i < intervalValues.size(); ++i)
        for (int nMinute = 0; nMinute < 10; ++nMinute)
            tally.Add(T0 + qint64(i) * 600 + nMinute * 60, &intervalValues[i]);
    report.nFromMsecs = T0 * 1000;
    report.nToMsecs = (T0 + (qint64(intervalValues.size()) + 3) * 600) * 1000;
    report.weeks = WeeksOf(MONDAY, report.nToMsecs, EAST3_ZONE);
    JudgeWeeks(report, {row}, tally, {});
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
        ASSERT_EQ(report.weeks.size(), 1u);
        const SReportRow &row = report.weeks[0].rows.front();
        EXPECT_EQ(row.nIntervals, c.nCount);
        EXPECT_EQ(row.nInvalid, 3);
        EXPECT_EQ(row.nBeyond, c.nBeyond);
        EXPECT_EQ(row.eVerdict, c.eVerdict);
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
        const SReportRow row = JudgedOver(RowFor("K2"), values).weeks.at(0).rows.front();
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

namespace {

TEST(ShareTextTest, SharesAreRoundedDownToTwoDecimalsExactly)
{
    const struct {
        const char *pName;
        int nIntervals, nBeyond;
        const char *pText;
    } cases[] = {
        {"99.497 % does not read as the 99.5 it misses", 995, 5, "99.49"},
        {"99.5 % exactly", 1000, 5, "99.50"},
        {"95.03 % exactly stays", 10000, 497, "95.03"},
        {"95.029 %", 1006, 50, "95.02"},
        {"two thirds", 3, 1, "66.66"},
        {"a millionth short of all", 1000000, 1, "99.99"},
        {"all within", 7, 0, "100.00"},
        {"none within", 7, 7, "0.00"},
        {"no values", 0, 0, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        SReportRow row;
        row.nIntervals = c.nIntervals;
        row.nBeyond = c.nBeyond;
        EXPECT_EQ(WithinText(row), c.pText);
    }
}

// The coverage shown (text table and PDF alike) is the one the rule judges:
// flagged intervals were measured, so they count as covered.
TEST(ShareTextTest, CoverageIsShownAsTheRuleJudgesIt)
{
    const struct {
        const char *pName;
        int nIntervals, nValid, nFlagged;
        const char *pText;
    } cases[] = {
        {"flagged count as covered", 1008, 900, 8, "90.07"},
        {"a short week, rounded down", 432, 384, 0, "88.88"},
        {"all flagged", 6, 0, 6, "100.00"},
        {"no interval", 0, 0, 0, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        SReportWeek week;
        week.nIntervals = c.nIntervals;
        week.nValidIntervals = c.nValid;
        week.nFlaggedIntervals = c.nFlagged;
        EXPECT_EQ(CoverageText(week), c.pText);
    }
}

TEST(VerdictTest, AWeekAndTheReportFailOnAnyFailAndPassOnlyWhenAllPass)
{
    using V = EVerdict;
    const struct {
        const char *pName;
        std::vector<V> verdicts;
        V eCombined;
    } cases[] = {
        {"all pass", {V::Pass, V::Pass}, V::Pass},
        {"one fails", {V::Pass, V::Fail, V::Incomplete}, V::Fail},
        {"one incomplete", {V::Pass, V::Incomplete}, V::Incomplete},
        {"no data is no pass", {V::Pass, V::NoData}, V::Incomplete},
        {"nothing judged", {}, V::NoData},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        std::vector<SReportRow> rows(c.verdicts.size());
        SSupplyReport report;
        for (std::size_t i = 0; i < c.verdicts.size(); ++i) {
            rows[i].eVerdict = c.verdicts[i];
            report.weeks.emplace_back().eVerdict = c.verdicts[i];
        }
        EXPECT_EQ(WeekVerdict(rows), c.eCombined);
        EXPECT_EQ(OverallVerdict(report), c.eCombined);
    }
}

// A report over 100 intervals of dUA from T0, a short week: the first
// nValid of them valid, the first nBeyond of those at dBeyond, the last
// nFlagged of those flagged.
SSupplyReport CoverageReport(int nValid, int nFlagged, int nBeyond, double dBeyond, double dMinCoverage)
{
    SSupplyReport report;
    report.dMinCoverage = dMinCoverage;
    CIntervalTally tally({EIntervalMean::Voltage});
    std::set<qint64> flagged;
    for (int i = 0; i < nValid; ++i) {
        const double dValue = i < nBeyond ? dBeyond : 0.0;
        for (int nMinute = 0; nMinute < 10; ++nMinute)
            tally.Add(T0 + i * 600 + nMinute * 60, &dValue);
        if (i >= nValid - nFlagged)
            flagged.insert(T0 / 600 + i);
    }
    report.nFromMsecs = T0 * 1000;
    report.nToMsecs = (T0 + 100 * 600) * 1000;
    report.weeks = WeeksOf(MONDAY, report.nToMsecs, EAST3_ZONE);
    JudgeWeeks(report, {RowFor("dUA")}, tally, flagged);
    return report;
}

TEST(CoverageTest, AWeekWithTooFewValidIntervalsIsIncompleteUnlessItFailsWhateverIsMissing)
{
    using V = EVerdict;
    const struct {
        const char *pName;
        int nValid, nFlagged, nBeyond;
        double dBeyond, dMinCoverage;
        V eVerdict;
    } cases[] = {
        {"90 of 100 valid", 90, 0, 0, 0, 90, V::Pass},
        {"89 of 100 valid", 89, 0, 0, 0, 90, V::Incomplete},
        {"flagged intervals were measured: they cover", 90, 3, 0, 0, 90, V::Pass},
        {"5 of 100 beyond: the missing could still pass it", 89, 0, 5, -12, 90, V::Incomplete},
        {"6 of 100 beyond: fails whatever is missing", 89, 0, 6, -12, 90, V::Fail},
        // 5 beyond of the 97 intervals not flagged: 92 within is less than 95 %.
        {"the flagged ones are no intervals the share could hold", 89, 3, 5, -12, 90, V::Fail},
        {"beyond the hard band once", 50, 0, 1, -16, 90, V::Fail},
        {"nothing valid", 0, 0, 0, 0, 90, V::Incomplete},
        {"every interval asked, one missing", 99, 0, 0, 0, 100, V::Incomplete},
        {"no coverage asked and nothing valid", 0, 0, 0, 0, 0, V::NoData},
        {"no coverage asked", 10, 0, 0, 0, 0, V::Pass},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        const SSupplyReport report = CoverageReport(c.nValid, c.nFlagged, c.nBeyond, c.dBeyond, c.dMinCoverage);
        ASSERT_EQ(report.weeks.size(), 1u);
        const SReportWeek &week = report.weeks[0];
        EXPECT_TRUE(week.bShort);
        EXPECT_EQ(week.nIntervals, 100);
        EXPECT_EQ(week.nValidIntervals, c.nValid - c.nFlagged);
        EXPECT_EQ(week.nFlaggedIntervals, c.nFlagged);
        EXPECT_EQ(week.nInvalidIntervals, 100 - c.nValid);
        const SReportRow &row = week.rows.at(0);
        EXPECT_EQ(row.nExpected, 100 - c.nFlagged);
        EXPECT_EQ(row.nFlagged, c.nFlagged);
        EXPECT_EQ(row.nIntervals, c.nValid - c.nFlagged);
        EXPECT_EQ(row.eVerdict, c.eVerdict);
        EXPECT_EQ(week.eVerdict, c.eVerdict == V::NoData ? V::Incomplete : c.eVerdict);
    }
}

TEST(WeeksTest, WeeksAreSevenCalendarDaysAcrossBothClockChanges)
{
    const QTimeZone berlin("Europe/Berlin"); // summer time from 2026-03-29 to 2026-10-25
    ASSERT_TRUE(berlin.isValid());
    struct SWeek {
        int nHours;
        bool bShort;
        int nOffset, nEndOffset;
    };
    const struct {
        const char *pName;
        QDate firstDay, lastDay;
        std::vector<SWeek> weeks;
    } cases[] = {
        {"spring", QDate(2026, 3, 23), QDate(2026, 4, 5), {{167, false, 3600, 7200}, {168, false, 7200, 7200}}},
        {"autumn and a short last week",
         QDate(2026, 10, 19),
         QDate(2026, 11, 3),
         {{169, false, 7200, 3600}, {168, false, 3600, 3600}, {48, true, 3600, 3600}}},
        {"a single day", QDate(2026, 10, 25), QDate(2026, 10, 25), {{25, true, 7200, 3600}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        SSupplyReport report;
        report.nFromMsecs = c.firstDay.startOfDay(berlin).toMSecsSinceEpoch();
        report.nToMsecs = c.lastDay.addDays(1).startOfDay(berlin).toMSecsSinceEpoch();
        report.weeks = WeeksOf(c.firstDay, report.nToMsecs, berlin);
        CIntervalTally tally({EIntervalMean::Rms});
        JudgeWeeks(report, {RowFor("K2")}, tally, {});
        ASSERT_EQ(report.weeks.size(), c.weeks.size());
        qint64 nFrom = report.nFromMsecs;
        for (std::size_t i = 0; i < c.weeks.size(); ++i) {
            SCOPED_TRACE(i);
            const SReportWeek &week = report.weeks[i];
            EXPECT_EQ(week.firstDay, c.firstDay.addDays(qint64(i) * 7));
            EXPECT_EQ(week.nFromMsecs, nFrom);
            EXPECT_EQ(week.nToMsecs - week.nFromMsecs, c.weeks[i].nHours * 3600 * 1000LL);
            EXPECT_EQ(week.bShort, c.weeks[i].bShort);
            EXPECT_EQ(week.nOffsetSeconds, c.weeks[i].nOffset);
            EXPECT_EQ(week.nEndOffsetSeconds, c.weeks[i].nEndOffset);
            EXPECT_EQ(week.nIntervals, c.weeks[i].nHours * 6);
            EXPECT_EQ(week.nInvalidIntervals, week.nIntervals);
            EXPECT_EQ(week.rows.at(0).eVerdict, EVerdict::Incomplete);
            nFrom = week.nToMsecs;
        }
        EXPECT_EQ(nFrom, report.nToMsecs);
    }
}

// Three weeks of dUA, 12 % of the middle week's intervals at -12 %.
SSupplyReport ThreeWeeks(bool bShortFourthWeek = false)
{
    constexpr int INTERVALS_OF_WEEK = 7 * 144;
    SSupplyReport report;
    report.unjudged = UnjudgedOf(EDataSet::Minute);
    CLimits limits = CLimits::Defaults();
    limits.SetHarmonic(5, std::nullopt);
    report.offByChoice = OffByChoice(limits);
    CIntervalTally tally({EIntervalMean::Voltage, EIntervalMean::Rms});
    for (int i = 0; i < 3 * INTERVALS_OF_WEEK; ++i) {
        const bool bLow = i >= INTERVALS_OF_WEEK && i < INTERVALS_OF_WEEK + 121; // 12.0 % of 1008
        const double values[] = {bLow ? -12.0 : 0.0, 1.0};
        for (int nMinute = 0; nMinute < 10; ++nMinute)
            tally.Add(T0 + qint64(i) * 600 + nMinute * 60, values);
    }
    report.nFromMsecs = T0 * 1000;
    report.nToMsecs = (T0 + 3 * 7 * 86400) * 1000;
    report.nOffsetSeconds = report.nEndOffsetSeconds = 3 * 3600;
    if (bShortFourthWeek)
        report.nToMsecs += 600 * 1000;
    report.weeks = WeeksOf(MONDAY, report.nToMsecs, EAST3_ZONE);
    JudgeWeeks(report, {RowFor("dUA"), RowFor("K2")}, tally, {});
    return report;
}

TEST(WeeksTest, AFailingWeekFailsTheReportThoughThePeriodAsAWholePasses)
{
    const SSupplyReport report = ThreeWeeks();
    ASSERT_EQ(report.weeks.size(), 3u);
    const EVerdict expected[] = {EVerdict::Pass, EVerdict::Fail, EVerdict::Pass};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(report.weeks[i].eVerdict, expected[i]);
        EXPECT_EQ(report.weeks[i].rows.at(0).eVerdict, expected[i]);
        EXPECT_FALSE(report.weeks[i].bShort);
        EXPECT_EQ(report.weeks[i].intervalStarts.size(), 1008u);
        EXPECT_EQ(report.weeks[i].rows.at(0).values.size(), 1008u);
    }
    EXPECT_EQ(report.weeks[1].rows.at(0).nBeyond, 121);
    EXPECT_EQ(OverallVerdict(report), EVerdict::Fail);
    // The period as one would pass: 121 of 3024 beyond is 96 % within.
    int nIntervals = 0;
    int nBeyond = 0;
    for (const SReportWeek &week : report.weeks) {
        nIntervals += week.rows.at(0).nIntervals;
        nBeyond += week.rows.at(0).nBeyond;
    }
    EXPECT_EQ(nIntervals, 3024);
    EXPECT_EQ(nBeyond, 121);
    EXPECT_GE(100.0 * (nIntervals - nBeyond), report.weeks[0].rows.at(0).dRequiredShare * nIntervals);
    EXPECT_EQ(report.nValidIntervals, 3024) << "the total over the weeks";
    EXPECT_EQ(report.nInvalidIntervals, 0);

    const QList<QByteArray> lines = ReportSummaryCsv(report).split('\n');
    ASSERT_EQ(lines.size(), 1 + 3 * 2 + 1);
    EXPECT_EQ(lines[1], "2026-10-19,dU,A,-10,10,95,1008,0,0,0,100.00,0.000,0.000,0.000,0.000,pass");
    EXPECT_EQ(lines[2], "2026-10-19,K2,,,2,95,1008,0,0,0,100.00,1.000,1.000,1.000,1.000,pass");
    // 887 of 1008 within: 87.996 %.
    EXPECT_EQ(lines[3], "2026-10-26,dU,A,-10,10,95,1008,0,0,121,87.99,-12.000,0.000,-12.000,0.000,fail");
    EXPECT_TRUE(lines[5].startsWith("2026-11-02,dU,A,"));
    EXPECT_TRUE(lines[6].startsWith("2026-11-02,K2,"));
}

TEST(TextTableTest, ShowsEachWeekTheOverallVerdictTheEventsAndWhatWasNotJudged)
{
    // And a fourth week of one interval without readings.
    SSupplyReport report = ThreeWeeks(true);
    report.strTimeZone = QStringLiteral("UTC+03:00");
    report.events.push_back({ESupplyEventKind::Interruption, T0 * 1000, (T0 + 180) * 1000, "ABC", -100});
    const QString strText = QString::fromUtf8(ReportTextTable(report));
    const char *const expected[] = {
        "^Supply quality after EN 50160, 2026-10-19 00:00:00\\+03:00 to 2026-11-09 00:10:00\\+03:00 \\(21 d 0 h 10 "
        "min\\), time zone UTC\\+03:00$",
        // The period's counts: the totals over the weeks.
        "^10-minute intervals: 3024 valid, 1 invalid; rows: 0 read, 0 given twice, 0 unreadable$",
        "^week 2026-10-19 to 2026-10-25\\n10-minute intervals: 1008 valid, 0 invalid, 0 flagged of 1008; "
        "coverage 100.00 %\\nverdict: 2 pass, 0 fail, 0 incomplete, 0 no data$",
        "^week 2026-10-26 to 2026-11-01\\n.*\\nverdict: 1 pass, 1 fail, 0 incomplete, 0 no data; failed: dU A$",
        "^dU +A +-10 \\.\\. 10 +87\\.99 +fail$",
        "^week 2026-11-02 to 2026-11-08$",
        "^week 2026-11-09 to 2026-11-09 \\(1 day, shorter: not a week of seven days\\)$",
        "^overall verdict: fail \\(weeks not passed: 2026-10-26 fail, 2026-11-09 incomplete\\)$",
        "^events: interruptions 1, dips 0, swells 0$",
        "^not judged: flicker \\(Plt\\), rapid voltage changes, signalling voltages, dips and swells \\(a "
        "per-minute log cannot show them\\)$",
        "^not judged by choice \\(no band in the limits\\): Ku5$",
        "class A instrument",
    };
    for (const char *pExpected : expected)
        EXPECT_TRUE(strText.contains(QRegularExpression(pExpected, QRegularExpression::MultilineOption)))
            << pExpected << "\n" << strText.left(2000).toStdString();
}

TEST(NotJudgedTest, WhatTheLogsCannotShowAndWhatTheLimitsSwitchOff)
{
    EXPECT_EQ(UnjudgedOf(EDataSet::Second), std::vector<EUnjudged>({EUnjudged::Flicker,
                                                                     EUnjudged::RapidVoltageChanges,
                                                                     EUnjudged::SignallingVoltages}));
    EXPECT_EQ(UnjudgedOf(EDataSet::Minute).back(), EUnjudged::DipsAndSwells);
    CLimits limits = CLimits::Defaults();
    EXPECT_EQ(OffByChoice(limits), QStringList()) << "orders EN 50160 does not bound are no choice";
    limits.SetHarmonic(5, std::nullopt);
    limits.SetHarmonic(30, std::nullopt);
    limits.SetUnbalance(std::nullopt);
    limits.SetVoltageDeviation(std::nullopt);
    EXPECT_EQ(OffByChoice(limits), QStringList({"dU", "K2", "Ku5"}));
    EXPECT_EQ(OffByChoice(CLimits::None()).size(), 4 + 24);
}

TEST(FrequencyTest, ThePerSecondFrequencyIsJudgedOnTenSecondMeans)
{
    SReportRow dF = RowFor("dF");
    SSupplyReport report;
    CIntervalTally tally({EIntervalMean::Mean}, SSpans{0, 10});
    for (int nSecond = 0; nSecond < 1200; ++nSecond) {
        const double dValue = nSecond >= 600 && nSecond < 660 ? -3.5 : (nSecond % 2 ? 0.1 : -0.1);
        tally.Add(T0 + nSecond, &dValue);
    }
    report.nFromMsecs = T0 * 1000;
    report.nToMsecs = (T0 + 1200) * 1000;
    report.weeks = WeeksOf(MONDAY, report.nToMsecs, EAST3_ZONE);
    JudgeWeeks(report, {dF}, tally, {});
    const SReportRow &row = report.weeks.at(0).rows.at(0);
    EXPECT_EQ(row.nIntervals, 120);
    EXPECT_EQ(row.nExpected, 120);
    EXPECT_EQ(row.nBeyondHard, 6);
    EXPECT_EQ(row.dMinimum, -3.5);
    EXPECT_EQ(row.dMaximum, 0.0) << "a 10-second mean of alternating readings";
    EXPECT_EQ(row.eVerdict, EVerdict::Fail);
    ASSERT_EQ(row.valueStarts.size(), 120u);
    EXPECT_EQ(row.valueStarts[0], T0 * 1000);
    EXPECT_EQ(row.valueStarts[61], (T0 + 610) * 1000);
    EXPECT_EQ(row.values[60], -3.5);
}

} // namespace
