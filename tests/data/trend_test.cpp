#include "catalogue.h"
#include "trend.h"

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

    const std::deque<STrendPoint> &dU = trend.Series(0);
    const std::deque<STrendPoint> &f = trend.Series(1);
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
    const std::deque<STrendPoint> &series = trend.Series(0);
    ASSERT_EQ(series.size(), CTrend::DEFAULT_CAPACITY);
    EXPECT_EQ(series.front().dValue, 5.0);
    EXPECT_EQ(series.front().nMsecs, nStart + 5000);
    EXPECT_EQ(series.back().dValue, double(CTrend::DEFAULT_CAPACITY + 4));
    EXPECT_EQ(trend.BytesHeld(), CTrend::DEFAULT_CAPACITY * sizeof(STrendPoint));

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

} // namespace
