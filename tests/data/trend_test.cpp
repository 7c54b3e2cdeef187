#include "data/catalogue.h"
#include "data/trend.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <cmath>
#include <map>

namespace {

// The Секунда list with the given values by row name; every other row empty.
CListRows SecondRows(const std::map<QString, QString> &values)
{
    CListRows rows = SecondListRows();
    for (SListRow &row : rows)
        if (const auto it = values.find(row.strName); it != values.end())
            row.strValue = it->second;
    return rows;
}

int RowOf(const char *pName)
{
    const CListRows rows = SecondListRows();
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].strName == QLatin1String(pName))
            return int(i);
    return -1;
}

TEST(Trend, FollowsTheVoltageDeviationsFrequencyAndUnbalanceByDefault)
{
    const CListRows rows = SecondListRows();
    QStringList names;
    for (int nRow : CTrend::DefaultRows())
        names.append(rows.at(std::size_t(nRow)).strName);
    EXPECT_EQ(names, QStringList({"dUA", "dUB", "dUC", "dUAB", "dUBC", "dUCA", "F", "K2"}));
    EXPECT_EQ(CTrend().Rows(), CTrend::DefaultRows());
}

TEST(Trend, FailedReadingsLeaveGapsNotRepeatedValues)
{
    CTrend trend;
    trend.SetRows({RowOf("dUA"), RowOf("F")});
    trend.AppendReading(1000, SecondRows({{"dUA", "1.50"}, {"F", "50.01"}}));
    trend.AppendGap(2000);
    trend.AppendReading(3000, SecondRows({{"dUA", "-2.00"}})); // F shows nothing
    trend.AppendReading(4000, CListRows(3));                   // not a Секунда list

    const CTrendSeries dU = trend.Series(0);
    const CTrendSeries f = trend.Series(1);
    ASSERT_EQ(dU.size(), 4u);
    ASSERT_EQ(f.size(), 4u);
    EXPECT_EQ(dU[0].dValue, 1.5);
    EXPECT_TRUE(std::isnan(dU[1].dValue));
    EXPECT_EQ(dU[2].dValue, -2.0);
    EXPECT_TRUE(std::isnan(dU[3].dValue));
    EXPECT_EQ(f[0].dValue, 50.01);
    EXPECT_TRUE(std::isnan(f[1].dValue));
    EXPECT_TRUE(std::isnan(f[2].dValue));
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(dU[i].nMsecs, qint64(1000 * (i + 1)));

    // A clock stepping back does not put the series out of order.
    trend.AppendGap(2500);
    EXPECT_EQ(trend.Series(0).back().nMsecs, 4000);

    trend.SetRows({RowOf("K2")});
    EXPECT_EQ(trend.SeriesCount(), 1u);
    EXPECT_TRUE(trend.Series(0).empty());
}

TEST(Trend, HoldsADayOfSecondsAndDropsTheOldestBeyondCapacity)
{
    CTrend trend;
    const std::size_t nRow = std::size_t(RowOf("dUA"));
    trend.SetRows({int(nRow)});
    CListRows rows = SecondListRows();
    const qint64 nStart = 1'700'000'000'000;
    const std::size_t nDay = 24 * 3600;
    auto append = [&](std::size_t i) {
        rows[nRow].strValue = QString::number(i);
        trend.AppendReading(nStart + qint64(i) * 1000, rows);
    };
    for (std::size_t i = 0; i < nDay; ++i)
        append(i);
    ASSERT_EQ(trend.Series(0).size(), nDay);
    EXPECT_EQ(trend.Series(0).front().dValue, 0.0);
    EXPECT_EQ(trend.Series(0).front().nMsecs, nStart);

    for (std::size_t i = nDay; i < CTrend::DEFAULT_CAPACITY + 5; ++i)
        append(i);
    const CTrendSeries series = trend.Series(0);
    ASSERT_EQ(series.size(), CTrend::DEFAULT_CAPACITY);
    EXPECT_EQ(series.front().dValue, 5.0);
    EXPECT_EQ(series.front().nMsecs, nStart + 5000);
    EXPECT_EQ(series.back().dValue, double(CTrend::DEFAULT_CAPACITY + 4));
    EXPECT_EQ(trend.BytesHeld(), CTrend::DEFAULT_CAPACITY * (sizeof(qint64) + sizeof(std::int32_t)));

    trend.Clear();
    EXPECT_TRUE(trend.Series(0).empty());
    EXPECT_EQ(trend.BytesHeld(), 0u);
}

TEST(Trend, SpanStatisticsLeaveGapsOut)
{
    CTrend trend;
    trend.SetRows({RowOf("dUA")});
    const char *values[] = {"1.00", nullptr, "3.00", "5.00", nullptr, "-2.00"};
    for (int i = 0; i < 6; ++i) {
        if (values[i] != nullptr)
            trend.AppendReading(i * 1000, SecondRows({{"dUA", QString::fromLatin1(values[i])}}));
        else
            trend.AppendGap(i * 1000);
    }
    const struct {
        qint64 nFrom, nTo;
        double dMin, dMax, dMean;
        std::size_t nCount;
    } spans[] = {
        {0, 5000, -2, 5, 7.0 / 4, 4}, // the whole series
        {-9000, 9000, -2, 5, 7.0 / 4, 4},
        {1000, 3000, 3, 5, 4, 2},     // both ends belong to the span
        {1, 2999, 3, 3, 3, 1},
    };
    for (const auto &s : spans) {
        const SSpanStats stats = trend.Stats(0, s.nFrom, s.nTo);
        EXPECT_EQ(stats.nCount, s.nCount) << s.nFrom << " .. " << s.nTo;
        EXPECT_EQ(stats.dMin, s.dMin) << s.nFrom << " .. " << s.nTo;
        EXPECT_EQ(stats.dMax, s.dMax) << s.nFrom << " .. " << s.nTo;
        EXPECT_DOUBLE_EQ(stats.dMean, s.dMean) << s.nFrom << " .. " << s.nTo;
    }
    // Only gaps, nothing, a reversed span, a series that is not there.
    for (const SSpanStats &stats : {trend.Stats(0, 1000, 1000), trend.Stats(0, 6000, 9000),
                                    trend.Stats(0, 3000, 2000), trend.Stats(1, 0, 5000)}) {
        EXPECT_EQ(stats.nCount, 0u);
        EXPECT_TRUE(std::isnan(stats.dMin) && std::isnan(stats.dMax) && std::isnan(stats.dMean));
    }
}

// Values are held as the list shows them, to the hundredth: exactly, over the
// whole range a 32-bit reading of thousandths can show.
TEST(Trend, HoldsShownValuesExactly)
{
    const struct {
        const char *pText;
        double dHeld;
    } cases[] = {
        {"50.01", 50.01},           {"-0.05", -0.05}, {"230", 230.0}, {"2147483.65", 2147483.65},
        {"-2147483.65", -2147483.65}, {"99999999999.00", NAN}, // more than any reading shows: no value
    };
    CTrend trend;
    trend.SetRows({RowOf("dUA")});
    for (std::size_t i = 0; i < std::size(cases); ++i)
        trend.AppendReading(qint64(i) * 1000, SecondRows({{"dUA", QString::fromLatin1(cases[i].pText)}}));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        if (std::isnan(cases[i].dHeld)) {
            EXPECT_TRUE(std::isnan(trend.Series(0)[i].dValue)) << cases[i].pText;
        } else {
            EXPECT_EQ(trend.Series(0)[i].dValue, cases[i].dHeld) << cases[i].pText;
        }
    }
}

// The series share one column of times: a row costs a 32-bit count a reading.
TEST(Trend, RowsFollowedBeforeKeepTheirPointsNewOnesStartEmpty)
{
    CTrend trend(5);
    trend.SetRows({RowOf("dUA"), RowOf("F")});
    const auto Append = [&trend](int nSecond) {
        trend.AppendReading(nSecond * 1000, SecondRows({{"dUA", QString::number(nSecond)}, {"F", "50.00"}, {"K2", "0.50"}}));
    };
    for (int s = 0; s < 3; ++s)
        Append(s);
    EXPECT_EQ(trend.BytesHeld(), 3 * sizeof(qint64) + 6 * sizeof(std::int32_t));

    trend.SetRows({RowOf("K2"), RowOf("dUA")});
    EXPECT_EQ(trend.Rows(), (std::vector<int>{RowOf("K2"), RowOf("dUA")}));
    EXPECT_TRUE(trend.Series(0).empty());
    ASSERT_EQ(trend.Series(1).size(), 3u);
    EXPECT_EQ(trend.Series(1).back().dValue, 2.0);

    // Past the capacity the oldest time goes, and with it the oldest point
    // of each series that reaches back to it.
    for (int s = 3; s < 7; ++s)
        Append(s);
    const CTrendSeries k2 = trend.Series(0);
    const CTrendSeries dU = trend.Series(1);
    ASSERT_EQ(dU.size(), 5u);
    EXPECT_EQ(dU.front().nMsecs, 2000);
    EXPECT_EQ(dU.front().dValue, 2.0);
    ASSERT_EQ(k2.size(), 4u);
    EXPECT_EQ(k2.front().nMsecs, 3000);
    EXPECT_EQ(k2.back().nMsecs, 6000);
    EXPECT_EQ(k2.back().dValue, 0.5);
    EXPECT_EQ(trend.FirstTime(), 2000);
    EXPECT_EQ(trend.LastTime(), 6000);
    EXPECT_EQ(trend.BytesHeld(), 5 * sizeof(qint64) + 9 * sizeof(std::int32_t));

    // The times only a dropped row reached back to go with it.
    trend.SetRows({RowOf("K2")});
    EXPECT_EQ(trend.FirstTime(), 3000);
    EXPECT_EQ(trend.Series(0).front().nMsecs, 3000);
    EXPECT_EQ(trend.BytesHeld(), 4 * sizeof(qint64) + 4 * sizeof(std::int32_t));
    trend.SetRows({});
    EXPECT_TRUE(trend.IsEmpty());
    trend.AppendGap(7000); // nothing followed, nothing held
    EXPECT_TRUE(trend.IsEmpty());
    EXPECT_EQ(trend.BytesHeld(), 0u);
}

TEST(Trend, ViewOfASparseSpanIsEveryPointAndOneEitherSide)
{
    CTrend trend;
    trend.SetRows({RowOf("dUA")});
    for (int s = 0; s < 10; ++s)
        trend.AppendReading(s * 1000, SecondRows({{"dUA", QString::number(s)}}));
    const struct {
        const char *pName;
        qint64 nFrom, nTo;
        std::vector<qint64> drawn;
    } cases[] = {
        {"inside", 2000, 5000, {1000, 2000, 3000, 4000, 5000, 6000}},
        {"between points", 2500, 4500, {2000, 3000, 4000, 5000}},
        {"all", 0, 9000, {0, 1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000}},
        {"before all", -5000, -1000, {0}},
        {"after all", 20000, 30000, {9000}},
        {"reversed", 5000, 2000, {}},
    };
    for (const auto &c : cases) {
        const std::vector<STrendView> views = trend.View(c.nFrom, c.nTo, 100);
        ASSERT_EQ(views.size(), 1u) << c.pName;
        std::vector<qint64> drawn;
        for (const STrendPoint &point : views[0].points) {
            drawn.push_back(point.nMsecs);
            EXPECT_EQ(point.dValue, double(point.nMsecs / 1000)) << c.pName;
        }
        EXPECT_EQ(drawn, c.drawn) << c.pName;
        const SSpanStats stats = trend.Stats(0, c.nFrom, c.nTo);
        EXPECT_EQ(views[0].stats.nCount, stats.nCount) << c.pName;
        if (std::isnan(stats.dMean)) {
            EXPECT_TRUE(std::isnan(views[0].stats.dMean)) << c.pName;
        } else {
            EXPECT_EQ(views[0].stats.dMean, stats.dMean) << c.pName;
        }
    }
}

// A dense span is drawn from the lowest and highest point of each column
// and its first gap, in time order: real points, and no gap lost.
TEST(Trend, ViewOfADenseSpanIsTheExtremesAndGapsOfEachColumn)
{
    CTrend trend;
    trend.SetRows({RowOf("dUA"), RowOf("F")});
    constexpr int SECONDS = 1000;
    for (int s = 0; s < SECONDS; ++s) {
        if (s == 505)
            trend.AppendGap(s * 1000);
        else
            trend.AppendReading(s * 1000, SecondRows({{"dUA", QString::number(s % 10)}, {"F", "50.00"}}));
    }
    const std::vector<STrendView> views = trend.View(0, (SECONDS - 1) * 1000, 10); // 100 s a column
    ASSERT_EQ(views.size(), 2u);
    const std::vector<STrendPoint> &dU = views[0].points;
    std::vector<qint64> drawn;
    for (const STrendPoint &point : dU)
        drawn.push_back(point.nMsecs);
    std::vector<qint64> expected;
    for (qint64 nColumn = 0; nColumn < 10; ++nColumn) {
        expected.push_back(nColumn * 100'000);         // the first 0
        if (nColumn == 5)
            expected.push_back(505'000);               // the gap
        expected.push_back(nColumn * 100'000 + 9000);  // the first 9
    }
    EXPECT_EQ(drawn, expected);
    for (const STrendPoint &point : dU) {
        if (point.nMsecs == 505'000) {
            EXPECT_TRUE(std::isnan(point.dValue));
        } else {
            EXPECT_EQ(point.dValue, double(point.nMsecs / 1000 % 10)) << point.nMsecs;
        }
    }
    // A flat series: one point a column, and the gap.
    EXPECT_EQ(views[1].points.size(), 11u);
    for (std::size_t s = 0; s < 2; ++s) {
        const SSpanStats stats = trend.Stats(s, 0, (SECONDS - 1) * 1000);
        EXPECT_EQ(views[s].stats.nCount, std::size_t(SECONDS - 1));
        EXPECT_EQ(views[s].stats.nCount, stats.nCount);
        EXPECT_EQ(views[s].stats.dMin, stats.dMin);
        EXPECT_EQ(views[s].stats.dMax, stats.dMax);
        EXPECT_EQ(views[s].stats.dMean, stats.dMean);
    }
}

// The wall clock set back an hour, then on by two: the trend's times still
// advance a second a reading, as the monotonic clock does.
TEST(TrendClock, RunsOnFromTheFirstWallClockTime)
{
    qint64 nMonotonic = 123'456; // any origin
    CTrendClock clock([&nMonotonic] { return nMonotonic; });
    const qint64 nWall = 1'700'000'000'000;
    const qint64 HOUR = 3600 * 1000;
    const qint64 walls[] = {nWall, nWall + 1000, nWall + 2000 - HOUR, nWall + 3000 - HOUR, nWall + 4000 + HOUR};
    for (qint64 i = 0; i < qint64(std::size(walls)); ++i) {
        EXPECT_EQ(clock.TimeOf(walls[i]), nWall + i * 1000) << i;
        nMonotonic += 1000;
    }
    const qint64 nBefore = CTrendClock::SystemMonotonic();
    EXPECT_GE(CTrendClock::SystemMonotonic(), nBefore);
}

} // namespace
