#include "trend.h"

#include "catalogue.h"
#include "shown_value.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double NO_VALUE = std::numeric_limits<double>::quiet_NaN();

std::vector<int> FindDefaultRows()
{
    const CListRows rows = SecondListRows();
    std::vector<int> found;
    for (const char *pName : {"dUA", "dUB", "dUC", "dUAB", "dUBC", "dUCA", "F", "K2"}) {
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].strName == QLatin1String(pName)) {
                found.push_back(int(i));
                break;
            }
        }
    }
    return found;
}

} // namespace

CTrend::CTrend(std::size_t nCapacity)
    : m_nCapacity(nCapacity)
{
    SetRows(DefaultRows());
}

std::vector<int> CTrend::DefaultRows()
{
    static const std::vector<int> rows = FindDefaultRows();
    return rows;
}

void CTrend::SetRows(const std::vector<int> &rows)
{
    m_rows = rows;
    m_series.assign(rows.size(), {});
    m_nLastMsecs = std::numeric_limits<qint64>::min();
}

void CTrend::Clear()
{
    for (std::deque<STrendPoint> &series : m_series)
        series = {}; // gives the memory back, which clear() need not
    m_nLastMsecs = std::numeric_limits<qint64>::min();
}

void CTrend::AppendReading(qint64 nMsecs, const CListRows &secondRows)
{
    if (secondRows.size() != std::size_t(SECOND_ROW_COUNT)) {
        AppendGap(nMsecs);
        return;
    }
    const qint64 nTime = NextTime(nMsecs);
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        const int nRow = m_rows[i];
        const double dValue = nRow >= 0 && nRow < SECOND_ROW_COUNT
                                  ? ShownValue(secondRows[std::size_t(nRow)].strValue).value_or(NO_VALUE)
                                  : NO_VALUE;
        Push(i, nTime, dValue);
    }
}

void CTrend::AppendGap(qint64 nMsecs)
{
    const qint64 nTime = NextTime(nMsecs);
    for (std::size_t i = 0; i < m_series.size(); ++i)
        Push(i, nTime, NO_VALUE);
}

qint64 CTrend::NextTime(qint64 nMsecs)
{
    m_nLastMsecs = std::max(m_nLastMsecs, nMsecs);
    return m_nLastMsecs;
}

void CTrend::Push(std::size_t nSeries, qint64 nMsecs, double dValue)
{
    std::deque<STrendPoint> &series = m_series[nSeries];
    series.push_back(STrendPoint{nMsecs, dValue});
    if (series.size() > m_nCapacity)
        series.pop_front();
}

SSpanStats CTrend::Stats(std::size_t nSeries, qint64 nFrom, qint64 nTo) const
{
    SSpanStats stats;
    if (nSeries >= m_series.size())
        return stats;
    const std::deque<STrendPoint> &series = m_series[nSeries];
    auto it = std::lower_bound(series.begin(), series.end(), nFrom,
                               [](const STrendPoint &p, qint64 n) { return p.nMsecs < n; });
    double dSum = 0;
    for (; it != series.end() && it->nMsecs <= nTo; ++it) {
        const double d = it->dValue;
        if (std::isnan(d))
            continue;
        if (stats.nCount == 0) {
            stats.dMin = d;
            stats.dMax = d;
        } else {
            stats.dMin = std::min(stats.dMin, d);
            stats.dMax = std::max(stats.dMax, d);
        }
        dSum += d;
        ++stats.nCount;
    }
    if (stats.nCount != 0)
        stats.dMean = dSum / double(stats.nCount);
    return stats;
}

std::size_t CTrend::BytesHeld() const
{
    std::size_t nPoints = 0;
    for (const std::deque<STrendPoint> &series : m_series)
        nPoints += series.size();
    return nPoints * sizeof(STrendPoint);
}
