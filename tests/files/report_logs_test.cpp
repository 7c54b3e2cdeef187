// Reports made from log files written by the test, with counts and
// verdicts worked out by hand.
#include "files/report_logs.h"

#include "files/report_test_logs.h"
#include "local_zone.h"
#include "test_files.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTimeZone>

#include <functional>

#include <gtest/gtest.h>

namespace {

using TestFiles::PutFile;

// 2026-10-19T00:00:00+03:00, a Monday, on a 10-minute tick of UTC.
constexpr qint64 T0 = 1792357200;
constexpr int MINUTES_OF_WEEK = 7 * 24 * 60;
constexpr int EAST3 = 3 * 3600;
constexpr int EAST2 = 2 * 3600;

// The report's first week's row of this column.
const SReportRow *RowOf(const SSupplyReport &report, const char *pColumn)
{
    if (report.weeks.empty())
        return nullptr;
    for (const SReportRow &row : report.weeks.front().rows)
        if (row.strColumn == QLatin1String(pColumn))
            return &row;
    return nullptr;
}

QByteArray SummaryLine(const SSupplyReport &report, const char *pColumn)
{
    const QList<QByteArray> lines = ReportSummaryCsv(report).split('\n');
    const int nRow = int(RowOf(report, pColumn) - report.weeks.front().rows.data());
    return lines.value(nRow + 1);
}

// A period of one calendar week, whatever its hours.
bool IsOneWholeWeek(const SSupplyReport &report)
{
    return report.weeks.size() == 1 && !report.weeks.front().bShort;
}

// A week of Минута rows, one a minute, in two overlapping files, with the
// offset going back from +03:00 to +02:00 midweek (the local hour after it
// is written twice, as the clocks say) and:
// - intervals 100 and 102 invalid: 7 minutes of 10 and none; 101 valid with 8;
// - dUA at -12 % in 50 intervals: beyond the band, within the hard band;
// - dUB at +11 % in 60 intervals (beyond the band and the hard band too);
// - dUC at +12 % in one interval;
// - Ku5A at 7 % in 40 intervals, 4 % of the week;
// - dF at +0.6 Hz in 5 intervals;
// - three broken rows in the later file.
class WeekTest : public ::testing::Test {
protected:
    static bool IsGap(int nMinute)
    {
        const int nInterval = nMinute / 10;
        const int nSlot = nMinute % 10;
        return (nInterval == 100 && nSlot < 3) || (nInterval == 101 && (nSlot == 5 || nSlot == 9))
               || nInterval == 102;
    }

    static std::map<QByteArray, QByteArray> ValuesAt(int nMinute)
    {
        const int n = nMinute / 10;
        std::map<QByteArray, QByteArray> values;
        if (n >= 500 && n < 550)
            values["dUA"] = "-12.00";
        if (n >= 200 && n < 260)
            values["dUB"] = "11.00";
        if (n == 400)
            values["dUC"] = "12.00";
        if (n >= 300 && n < 340)
            values["Ku5A"] = "7.00";
        if (n >= 600 && n < 605)
            values["dF"] = "0.60";
        return values;
    }

    static void AddMinutes(CTestLog &log, int nFrom, int nTo)
    {
        for (int nMinute = nFrom; nMinute < nTo; ++nMinute) {
            if (IsGap(nMinute))
                continue;
            const int nOffset = nMinute < MINUTES_OF_WEEK / 2 ? EAST3 : EAST2;
            log.Row(T0 + nMinute * 60, nOffset, ValuesAt(nMinute));
        }
    }

    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        CTestLog early(EDataSet::Minute);
        AddMinutes(early, 0, 6000);
        CTestLog late(EDataSet::Minute);
        AddMinutes(late, 5000, 5010);
        m_nBadNumberLine = late.NextLine();
        late.Line(CsvTime((T0 + 5010 * 60) * 1000, EAST2) + ",1.2.3" + QByteArray(",0").repeated(249));
        m_nShortLine = late.NextLine();
        late.Line(CsvTime((T0 + 5010 * 60) * 1000, EAST2) + QByteArray(",0").repeated(249));
        m_nBadTimeLine = late.NextLine();
        late.Line("2026-10-22 12:00:00+02:00" + QByteArray(",0").repeated(250));
        AddMinutes(late, 5010, MINUTES_OF_WEEK);
        m_strEarly = m_dir.filePath("early.csv");
        m_strLate = m_dir.filePath("late.csv");
        ASSERT_TRUE(PutFile(m_strEarly, early.Bytes()));
        ASSERT_TRUE(PutFile(m_strLate, late.Bytes()));
    }

    QTemporaryDir m_dir;
    QString m_strEarly, m_strLate;
    qint64 m_nBadNumberLine = 0, m_nShortLine = 0, m_nBadTimeLine = 0;
};

TEST_F(WeekTest, CountsAndVerdictsAreThoseWorkedOutByHand)
{
    SReportRequest request;
    request.logs = {m_strLate, m_strEarly}; // any order
    request.zone = QTimeZone(EAST3);
    const SReportOutcome outcome = MakeReport(request);
    ASSERT_EQ(outcome.eFailure, EReportFailure::None) << outcome.strError.toStdString();
    const SSupplyReport &report = outcome.report;

    EXPECT_EQ(report.eSet, EDataSet::Minute);
    EXPECT_EQ(report.nFromMsecs, T0 * 1000);
    EXPECT_EQ(report.nToMsecs, (T0 + 7 * 86400) * 1000);
    EXPECT_EQ(report.nOffsetSeconds, EAST3);
    ASSERT_TRUE(IsOneWholeWeek(report));
    const SReportWeek &week = report.weeks.front();
    // 1008 intervals; 100 and 102 invalid.
    EXPECT_EQ(report.nValidIntervals, 1006);
    EXPECT_EQ(report.nInvalidIntervals, 2);
    EXPECT_EQ(week.nValidIntervals, 1006);
    EXPECT_EQ(week.nInvalidIntervals, 2);
    EXPECT_EQ(week.intervalStarts.size(), 1006u);
    EXPECT_EQ(week.intervalStarts[100], (T0 + 101 * 600) * 1000);
    EXPECT_EQ(week.intervalStarts[101], (T0 + 103 * 600) * 1000);
    // 10080 minutes less 3 + 10 + 2 of the gaps; minutes 5000 to 5999 twice.
    EXPECT_EQ(report.nRowsRead, 10065);
    EXPECT_EQ(report.nDuplicateRows, 1000);
    EXPECT_EQ(report.nBadRows, 3);
    ASSERT_EQ(report.firstBadRows.size(), 3u);
    const QString strLate = QDir::toNativeSeparators(m_strLate);
    EXPECT_EQ(report.firstBadRows[0].strFile, strLate);
    EXPECT_EQ(report.firstBadRows[0].nLine, m_nBadNumberLine);
    EXPECT_EQ(report.firstBadRows[1].nLine, m_nShortLine);
    EXPECT_EQ(report.firstBadRows[2].nLine, m_nBadTimeLine);

    const struct {
        const char *pColumn;
        const char *pLine;
    } expected[] = {
        // 956 of 1006 within: 95.02 % (rounded down); the 51st lowest is a 0.
        {"dUA", "2026-10-19,dU,A,-10,10,95,1006,2,0,50,95.02,-12.000,0.000,0.000,0.000,pass"},
        // 946 of 1006: 94.03 %; the 956th lowest is an 11.
        {"dUB", "2026-10-19,dU,B,-10,10,95,1006,2,0,60,94.03,0.000,11.000,0.000,11.000,fail"},
        // 99.90 % within, but beyond +10 % once.
        {"dUC", "2026-10-19,dU,C,-10,10,95,1006,2,0,1,99.90,0.000,12.000,0.000,0.000,fail"},
        {"dUAB", "2026-10-19,dU,AB,-10,10,95,1006,2,0,0,100.00,0.000,0.000,0.000,0.000,pass"},
        {"Ku5A", "2026-10-19,Ku5,A,,6,95,1006,2,0,40,96.02,0.000,7.000,0.000,0.000,pass"},
        {"Ku5B", "2026-10-19,Ku5,B,,6,95,1006,2,0,0,100.00,0.000,0.000,0.000,0.000,pass"},
        // On the minute values: 1006 intervals of 10 less the 2 missing
        // minutes of interval 101; 10008 of 10058 within: 99.502 % against 99.5.
        {"dF", "2026-10-19,dF,,-0.5,0.5,99.5,10058,2,0,50,99.50,0.000,0.600,0.000,0.000,pass"},
        {"K2", "2026-10-19,K2,,,2,95,1006,2,0,0,100.00,0.000,0.000,0.000,0.000,pass"},
    };
    for (const auto &e : expected) {
        SCOPED_TRACE(e.pColumn);
        ASSERT_NE(RowOf(report, e.pColumn), nullptr);
        EXPECT_EQ(SummaryLine(report, e.pColumn), e.pLine);
    }
    EXPECT_EQ(RowOf(report, "dUB")->nBeyondHard, 60);
    EXPECT_EQ(RowOf(report, "dUA")->nBeyondHard, 0);
    // Orders without a default band are not judged.
    EXPECT_EQ(RowOf(report, "Ku26A"), nullptr);
    EXPECT_EQ(week.rows.size(), 158u);
}

TEST_F(WeekTest, ProgressCountsTheBytesAndCanStop)
{
    SReportRequest request;
    request.logs = {m_strEarly, m_strLate};
    const qint64 nTotal = QFileInfo(m_strEarly).size() + QFileInfo(m_strLate).size();
    qint64 nLast = 0;
    int nCalls = 0;
    SReportOutcome outcome = MakeReport(request, [&](qint64 nRead, qint64 nOf) {
        EXPECT_EQ(nOf, nTotal);
        EXPECT_GT(nRead, nLast);
        nLast = nRead;
        ++nCalls;
        return true;
    });
    EXPECT_EQ(outcome.eFailure, EReportFailure::None);
    EXPECT_EQ(nLast, nTotal);
    EXPECT_GT(nCalls, 2) << "the logs are several megabytes: read in blocks";

    outcome = MakeReport(request, [](qint64, qint64) { return false; });
    EXPECT_EQ(outcome.eFailure, EReportFailure::Cancelled);
}

TEST_F(WeekTest, RowsOutsideThePeriodAreLeftOut)
{
    CLocalZone zone("Etc/GMT-3"); // UTC+3 all year
    const struct {
        const char *pName;
        std::optional<QDate> from, to;
        qint64 nFrom, nTo; // UTC seconds
        int nValid, nInvalid;
        qint64 nRows;
        bool bWeek;
    } cases[] = {
        {"one day", QDate(2026, 10, 20), QDate(2026, 10, 20), T0 + 86400, T0 + 2 * 86400, 144, 0, 1440, false},
        // Every interval after the logs' end is invalid.
        {"the week and the next day", QDate(2026, 10, 19), QDate(2026, 10, 26), T0, T0 + 8 * 86400, 1006, 146,
         10065, false},
        {"the week by dates", QDate(2026, 10, 19), QDate(2026, 10, 25), T0, T0 + 7 * 86400, 1006, 2, 10065, true},
        {"from only: to the last row", QDate(2026, 10, 25), std::nullopt, T0 + 6 * 86400, T0 + 7 * 86400, 144, 0,
         1440, false},
        {"to only: from the first row", std::nullopt, QDate(2026, 10, 19), T0, T0 + 86400, 142, 2, 1440 - 15,
         false},
        {"before the logs", QDate(2026, 10, 1), QDate(2026, 10, 1), T0 - 18 * 86400, T0 - 17 * 86400, 0, 144, 0,
         false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        SReportRequest request;
        request.logs = {m_strEarly, m_strLate};
        request.from = c.from;
        request.to = c.to;
        const SReportOutcome outcome = MakeReport(request);
        ASSERT_EQ(outcome.eFailure, EReportFailure::None);
        EXPECT_EQ(outcome.report.nFromMsecs, c.nFrom * 1000);
        EXPECT_EQ(outcome.report.nToMsecs, c.nTo * 1000);
        EXPECT_EQ(outcome.report.nValidIntervals, c.nValid);
        EXPECT_EQ(outcome.report.nInvalidIntervals, c.nInvalid);
        EXPECT_EQ(outcome.report.nRowsRead, c.nRows);
        EXPECT_EQ(IsOneWholeWeek(outcome.report), c.bWeek);
        EXPECT_EQ(outcome.report.nOffsetSeconds, EAST3);
        // Each column has values in some week unless no interval is valid.
        ASSERT_FALSE(outcome.report.weeks.empty());
        for (std::size_t i = 0; i < outcome.report.weeks.front().rows.size(); ++i) {
            bool bValues = false;
            for (const SReportWeek &week : outcome.report.weeks)
                bValues = bValues || week.rows.at(i).nIntervals > 0;
            ASSERT_EQ(!bValues, c.nValid == 0) << i;
        }
    }
}

TEST(ReportPeriodTest, ACalendarWeekIsAWeekWhenTheClocksChange)
{
    CLocalZone zone("Europe/Berlin"); // summer time ends on 2026-10-25
    QTemporaryDir dir;
    CTestLog log(EDataSet::Minute);
    log.Row(T0, EAST3);
    ASSERT_TRUE(PutFile(dir.filePath("a.csv"), log.Bytes()));
    SReportRequest request;
    request.logs = {dir.filePath("a.csv")};
    request.from = QDate(2026, 10, 19);
    request.to = QDate(2026, 10, 25);
    const SReportOutcome outcome = MakeReport(request);
    ASSERT_EQ(outcome.eFailure, EReportFailure::None);
    EXPECT_TRUE(IsOneWholeWeek(outcome.report));
    EXPECT_EQ(outcome.report.nOffsetSeconds, EAST2);
    EXPECT_EQ(outcome.report.nToMsecs - outcome.report.nFromMsecs, (7 * 24 + 1) * 3600 * 1000LL);
    EXPECT_EQ(outcome.report.nInvalidIntervals, (7 * 24 + 1) * 6);
}

TEST(ReportLogsTest, LinesThatAreNoRowsAreCountedAndTheRestRead)
{
    QTemporaryDir dir;
    CTestLog log(EDataSet::Second);
    for (int nSecond = 0; nSecond < 600; nSecond += 60)
        log.Row(T0 + nSecond, EAST3, {{"dUA", "1.000"}});
    const QByteArray row = CsvTime((T0 + 1) * 1000, EAST3) + QByteArray(",0").repeated(259);
    const struct {
        const char *pName;
        QByteArray line;
        bool bBad;
    } cases[] = {
        {"a whole row", row, false},
        {"an empty line", "", true},
        {"a field too many", row + ",0", true},
        {"an empty value", CsvTime((T0 + 1) * 1000, EAST3) + "," + QByteArray(",0").repeated(258), true},
        {"a value with a comma for a dot", CsvTime((T0 + 1) * 1000, EAST3) + ",1,5" + QByteArray(",0").repeated(258), true},
        {"inf", CsvTime((T0 + 1) * 1000, EAST3) + ",inf" + QByteArray(",0").repeated(258), true},
        {"a line of a megabyte", QByteArray(3 << 20, 'x'), true},
        // Only the judged columns are numbers to the report.
        {"a word where no value is judged", row.chopped(1) + "x", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        // The line stands between two rows, and the last row lacks its line feed.
        CTestLog bytes = log;
        bytes.Line(c.line);
        QByteArray file = bytes.Bytes() + CsvRow((T0 + 2) * 1000, EAST3, std::vector<QByteArray>(259, "0"));
        file.chop(1);
        ASSERT_TRUE(PutFile(dir.filePath("s.csv"), file));
        SReportRequest request;
        request.logs = {dir.filePath("s.csv")};
        const SReportOutcome outcome = MakeReport(request);
        ASSERT_EQ(outcome.eFailure, EReportFailure::None);
        EXPECT_EQ(outcome.report.eSet, EDataSet::Second);
        EXPECT_EQ(outcome.report.nBadRows, c.bBad ? 1 : 0);
        EXPECT_EQ(outcome.report.nRowsRead, c.bBad ? 11 : 12);
        if (c.bBad) {
            EXPECT_EQ(outcome.report.firstBadRows.at(0).nLine, 12);
        }
        EXPECT_EQ(outcome.report.nValidIntervals, 1);
    }
}

TEST(ReportLogsTest, TenBadRowsAreNamedAndAllCounted)
{
    QTemporaryDir dir;
    CTestLog log(EDataSet::Minute);
    for (int i = 0; i < 25; ++i)
        log.Line("broken");
    ASSERT_TRUE(PutFile(dir.filePath("m.csv"), log.Bytes()));
    SReportRequest request;
    request.logs = {dir.filePath("m.csv")};
    const SReportOutcome outcome = MakeReport(request);
    // No row at all makes no report, but what was read is still counted.
    ASSERT_EQ(outcome.eFailure, EReportFailure::NoReadableRow);
    EXPECT_EQ(outcome.report.nBadRows, 25);
    ASSERT_EQ(outcome.report.firstBadRows.size(), 10u);
    EXPECT_EQ(outcome.report.firstBadRows.back().nLine, 11);
    EXPECT_EQ(outcome.report.nValidIntervals + outcome.report.nInvalidIntervals, 0) << "no row: no span";
    EXPECT_TRUE(outcome.report.weeks.empty());
}

TEST(ReportLogsTest, FilesThatCannotBeReportedOnAreNamed)
{
    QTemporaryDir dir;
    const QString strMinute = dir.filePath("minute.csv");
    const QString strSecond = dir.filePath("second.csv");
    const QString strDay = dir.filePath("day.csv");
    const QString strEmpty = dir.filePath("empty.csv");
    ASSERT_TRUE(PutFile(strMinute, CsvHeader(EDataSet::Minute)));
    ASSERT_TRUE(PutFile(strSecond, CsvHeader(EDataSet::Second)));
    ASSERT_TRUE(PutFile(strDay, CsvHeader(EDataSet::Day)));
    ASSERT_TRUE(PutFile(strEmpty, ""));
    const QString strMissing = dir.filePath("missing.csv");
    const struct {
        const char *pName;
        QStringList logs;
        std::optional<QDate> from, to;
        EReportFailure eFailure;
        QString strNamed;
    } cases[] = {
        {"a missing file", {strMinute, strMissing}, {}, {}, EReportFailure::LogUnreadable, strMissing},
        {"a folder", {dir.path()}, {}, {}, EReportFailure::LogUnreadable, dir.path()},
        {"a day log", {strDay}, {}, {}, EReportFailure::NotALog, strDay},
        {"an empty file", {strEmpty}, {}, {}, EReportFailure::NotALog, strEmpty},
        {"logs of both lists", {strMinute, strSecond}, {}, {}, EReportFailure::NotALog, strSecond},
        {"to before from", {strMinute}, QDate(2026, 10, 2), QDate(2026, 10, 1), EReportFailure::BadPeriod,
         "2026-10-01"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        SReportRequest request;
        request.logs = c.logs;
        request.from = c.from;
        request.to = c.to;
        const SReportOutcome outcome = MakeReport(request);
        EXPECT_EQ(outcome.eFailure, c.eFailure);
        EXPECT_TRUE(outcome.strError.contains(QDir::toNativeSeparators(c.strNamed))) << outcome.strError.toStdString();
    }
}

// The zone of the request, not the machine's, makes the period, its
// offsets and the weeks.
TEST(ReportZoneTest, ThePeriodAndTheWeeksAreOfTheRequestsZone)
{
    CLocalZone machine("Asia/Tokyo");
    QTemporaryDir dir;
    CTestLog log(EDataSet::Minute);
    log.Row(T0 + 5 * 86400 + 7 * 3600, EAST3);  // 2026-10-24T06:00:00+02:00, a Saturday
    log.Row(T0 + 7 * 86400 + 3 * 3600, EAST3);  // 2026-10-26T01:00:00+01:00
    ASSERT_TRUE(PutFile(dir.filePath("a.csv"), log.Bytes()));
    const qint64 nLastIntervalEnd = (T0 + 7 * 86400 + 3 * 3600 + 600) * 1000;
    const struct {
        const char *pName;
        QTimeZone zone;
        std::optional<QDate> from, to;
        qint64 nFrom, nTo; // msecs
        int nOffset, nEndOffset;
        const char *pZone;
        std::vector<QDate> weeks;
        bool bLastShort;
    } cases[] = {
        {"from the first row's local day to its last interval", QTimeZone("Europe/Berlin"), {}, {},
         (T0 + 5 * 86400 + 3600) * 1000, nLastIntervalEnd, EAST2, 3600, "Europe/Berlin", {QDate(2026, 10, 24)},
         true},
        {"an offset zone", QTimeZone(EAST3), {}, {}, (T0 + 5 * 86400) * 1000, nLastIntervalEnd, EAST3, EAST3,
         "UTC+03:00", {QDate(2026, 10, 24)}, true},
        {"dates: across the change, then a short week", QTimeZone("Europe/Berlin"), QDate(2026, 10, 19),
         QDate(2026, 10, 27), (T0 + 3600) * 1000, (T0 + 9 * 86400 + 2 * 3600) * 1000, EAST2, 3600,
         "Europe/Berlin", {QDate(2026, 10, 19), QDate(2026, 10, 26)}, true},
        {"dates of whole weeks", QTimeZone(EAST3), QDate(2026, 10, 19), QDate(2026, 11, 1), T0 * 1000,
         (T0 + 14 * 86400) * 1000, EAST3, EAST3, "UTC+03:00", {QDate(2026, 10, 19), QDate(2026, 10, 26)}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        ASSERT_TRUE(c.zone.isValid());
        SReportRequest request;
        request.logs = {dir.filePath("a.csv")};
        request.zone = c.zone;
        request.from = c.from;
        request.to = c.to;
        const SReportOutcome outcome = MakeReport(request);
        ASSERT_EQ(outcome.eFailure, EReportFailure::None);
        const SSupplyReport &report = outcome.report;
        EXPECT_EQ(report.nFromMsecs, c.nFrom);
        EXPECT_EQ(report.nToMsecs, c.nTo);
        EXPECT_EQ(report.nOffsetSeconds, c.nOffset);
        EXPECT_EQ(report.nEndOffsetSeconds, c.nEndOffset);
        EXPECT_EQ(report.strTimeZone, QLatin1String(c.pZone));
        ASSERT_EQ(report.weeks.size(), c.weeks.size());
        for (std::size_t i = 0; i < c.weeks.size(); ++i)
            EXPECT_EQ(report.weeks[i].firstDay, c.weeks[i]);
        EXPECT_EQ(report.weeks.front().nFromMsecs, c.nFrom);
        EXPECT_EQ(report.weeks.back().nToMsecs, c.nTo);
        EXPECT_EQ(report.weeks.back().bShort, c.bLastShort);
        EXPECT_EQ(OverallVerdict(report), EVerdict::Incomplete) << "two rows are no week";
    }
}

// Minute rows over a local day from T0 + nDay days, with values from a
// minute's index.
QByteArray MinuteDay(int nDay, const std::function<std::map<QByteArray, QByteArray>(int)> &valuesAt)
{
    CTestLog log(EDataSet::Minute);
    for (int nMinute = 0; nMinute < 1440; ++nMinute)
        log.Row(T0 + nDay * 86400 + nMinute * 60, EAST3, valuesAt(nMinute));
    return log.Bytes();
}

TEST(ReportCoverageTest, OneDayOfAWeekIsIncomplete)
{
    QTemporaryDir dir;
    ASSERT_TRUE(PutFile(dir.filePath("day.csv"), MinuteDay(1, [](int) { return std::map<QByteArray, QByteArray>(); })));
    SReportRequest request;
    request.logs = {dir.filePath("day.csv")};
    request.zone = QTimeZone(EAST3);
    request.from = QDate(2026, 10, 19);
    request.to = QDate(2026, 10, 25);
    const SReportOutcome outcome = MakeReport(request);
    ASSERT_EQ(outcome.eFailure, EReportFailure::None);
    const SSupplyReport &report = outcome.report;
    ASSERT_EQ(report.weeks.size(), 1u);
    const SReportWeek &week = report.weeks[0];
    EXPECT_FALSE(week.bShort);
    EXPECT_EQ(week.nValidIntervals, 144);
    EXPECT_EQ(week.nInvalidIntervals, 864);
    for (const SReportRow &row : week.rows)
        ASSERT_EQ(row.eVerdict, EVerdict::Incomplete) << row.strColumn.toStdString();
    EXPECT_EQ(week.eVerdict, EVerdict::Incomplete);
    EXPECT_EQ(OverallVerdict(report), EVerdict::Incomplete);
    EXPECT_TRUE(ReportSummaryCsv(report).contains("\n2026-10-19,dU,A,-10,10,95,144,864,0,0,100.00,"));
    // What is not judged, and what the limits were.
    EXPECT_EQ(report.unjudged, UnjudgedOf(EDataSet::Minute));
    EXPECT_EQ(report.limits, request.limits);
    EXPECT_EQ(report.dMinCoverage, 90.0);
    EXPECT_TRUE(report.offByChoice.isEmpty());
}

TEST(ReportFlaggingTest, AnInterruptionIsFlaggedAndLeftOutSoTheVoltagePasses)
{
    QTemporaryDir dir;
    // Three minutes without voltage in the 61st interval of the day.
    ASSERT_TRUE(PutFile(dir.filePath("day.csv"), MinuteDay(0, [](int nMinute) {
                            return nMinute >= 603 && nMinute < 606
                                       ? std::map<QByteArray, QByteArray>{{"dUA", "-100.00"},
                                                                          {"dUB", "-100.00"},
                                                                          {"dUC", "-100.00"}}
                                       : std::map<QByteArray, QByteArray>();
                        })));
    SReportRequest request;
    request.logs = {dir.filePath("day.csv")};
    request.zone = QTimeZone(EAST3);
    const SReportOutcome outcome = MakeReport(request);
    ASSERT_EQ(outcome.eFailure, EReportFailure::None);
    const SSupplyReport &report = outcome.report;
    ASSERT_EQ(report.events.size(), 1u);
    EXPECT_EQ(report.events[0].eKind, ESupplyEventKind::Interruption);
    ASSERT_EQ(report.weeks.size(), 1u);
    const SReportWeek &week = report.weeks[0];
    EXPECT_TRUE(week.bShort);
    EXPECT_EQ(week.nIntervals, 144);
    EXPECT_EQ(week.nValidIntervals, 143);
    EXPECT_EQ(week.nFlaggedIntervals, 1);
    EXPECT_EQ(week.intervalStarts.size(), 143u);
    for (const SReportRow &row : week.rows) {
        SCOPED_TRACE(row.strColumn.toStdString());
        EXPECT_EQ(row.eVerdict, EVerdict::Pass);
        EXPECT_EQ(row.nFlagged, 1);
    }
    EXPECT_EQ(week.eVerdict, EVerdict::Pass);
    EXPECT_TRUE(ReportSummaryCsv(report).contains("\n2026-10-19,dU,A,-10,10,95,143,0,1,0,100.00,"));
    EXPECT_TRUE(ReportSummaryCsv(report).contains("\n2026-10-19,dF,,-0.5,0.5,99.5,1430,0,1,0,100.00,"));
}

TEST(ReportFrequencyTest, AMinuteAt46point5HzFailsOnTenSecondMeans)
{
    QTemporaryDir dir;
    CTestLog log(EDataSet::Second);
    for (int nSecond = 0; nSecond < 1200; ++nSecond)
        log.Row(T0 + nSecond, EAST3,
                nSecond >= 700 && nSecond < 760 ? std::map<QByteArray, QByteArray>{{"dF", "-3.500"}}
                                                : std::map<QByteArray, QByteArray>{});
    ASSERT_TRUE(PutFile(dir.filePath("s.csv"), log.Bytes()));
    SReportRequest request;
    request.logs = {dir.filePath("s.csv")};
    request.zone = QTimeZone(EAST3);
    const SReportOutcome outcome = MakeReport(request);
    ASSERT_EQ(outcome.eFailure, EReportFailure::None);
    ASSERT_EQ(outcome.report.weeks.size(), 1u);
    const SReportWeek &week = outcome.report.weeks[0];
    EXPECT_EQ(week.nIntervals, 2);
    const SReportRow &dF = week.rows.back();
    ASSERT_EQ(dF.strColumn, QStringLiteral("dF"));
    EXPECT_EQ(dF.nIntervals, 120);
    EXPECT_EQ(dF.nExpected, 120);
    EXPECT_EQ(dF.nBeyondHard, 6);
    EXPECT_EQ(dF.eVerdict, EVerdict::Fail) << "its 10-minute mean, -0.35 Hz, is within the band";
    EXPECT_EQ(dF.values.size(), 120u);
    EXPECT_EQ(dF.valueStarts.at(70), (T0 + 700) * 1000);
    EXPECT_EQ(week.eVerdict, EVerdict::Fail);
    EXPECT_EQ(week.rows.front().eVerdict, EVerdict::Pass);
    EXPECT_EQ(outcome.report.unjudged.size(), 3u) << "per-second logs show dips and swells";
}

} // namespace
