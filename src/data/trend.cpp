#include "data/trend.h"

#include "data/catalogue.h"
#include "data/shown_value.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include <time.h>

namespace {

constexpr double NO_VALUE = std::numeric_limits<double>::quiet_NaN();
// The count of hundredths that stands for no value.
constexpr std::int32_t GAP = std::numeric_limits<std::int32_t>::min();
constexpr std::size_t NONE = std::numeric_limits<std::size_t>::max();
// A span with more points than this a column is drawn from a few of each.
constexpr std::size_t DENSE_POINTS_PER_COLUMN = 4;

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

// A value beyond what a count of hundredths holds (the meter sends nothing
// like it) is no value.
std::int32_t Hundredths(const std::optional<double> &value)
{
    if (!value)
        return GAP;
    const double d = std::round(*value * 100.0);
    if (!(d > double(GAP) && d < double(std::numeric_limits<std::int32_t>::max())))
        return GAP;
    return std::int32_t(d);
}

double ValueOf(std::int32_t nHundredths)
{
    return nHundredths == GAP ? NO_VALUE : double(nHundredths) / 100.0;
}

// The values of a run of points, by their positions in the time column.
// Every value lies strictly between GAP and the largest count, so the
// first one is the lowest and the highest so far without a test of its own.
struct SRun {
    std::size_t nCount = 0;
    std::int64_t nSum = 0;
    std::int32_t nLow = std::numeric_limits<std::int32_t>::max();
    std::int32_t nHigh = GAP;
    std::size_t iLow = NONE;
    std::size_t iHigh = NONE;
    std::size_t iGap = NONE; // the first

    void Add(std::size_t i, std::int32_t n)
    {
        if (n == GAP) {
            iGap = std::min(iGap, i);
            return;
        }
        if (n < nLow) {
            nLow = n;
            iLow = i;
        }
        if (n > nHigh) {
            nHigh = n;
            iHigh = i;
        }
        nSum += n;
        ++nCount;
    }
    void Add(const SRun &run)
    {
        nLow = std::min(nLow, run.nLow);
        nHigh = std::max(nHigh, run.nHigh);
        nSum += run.nSum;
        nCount += run.nCount;
    }
    SSpanStats Stats() const
    {
        SSpanStats stats;
        stats.nCount = nCount;
        if (nCount != 0) {
            stats.dMin = ValueOf(nLow);
            stats.dMax = ValueOf(nHigh);
            stats.dMean = double(nSum) / double(nCount) / 100.0;
        }
        return stats;
    }
};

// The run of the values at positions nFrom ... nTo - 1 of the time column;
// the series holds the newest values.size() of them.
SRun RunOf(const std::deque<std::int32_t> &values, std::size_t nFirst, std::size_t nFrom, std::size_t nTo)
{
    SRun run;
    nFrom = std::max(nFrom, nFirst);
    if (nFrom >= nTo)
        return run;
    auto it = values.begin() + std::ptrdiff_t(nFrom - nFirst);
    for (std::size_t i = nFrom; i < nTo; ++i, ++it)
        run.Add(i, *it);
    return run;
}

} // namespace

STrendPoint CTrendSeries::operator[](std::size_t i) const
{
    return STrendPoint{m_times[m_nFirstTime + i], ValueOf(m_values[i])};
}

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
    std::vector<std::deque<std::int32_t>> values(rows.size());
    std::vector<bool> taken(m_rows.size(), false);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto it = std::find(m_rows.begin(), m_rows.end(), rows[i]);
        const std::size_t nOld = std::size_t(it - m_rows.begin());
        if (it != m_rows.end() && !taken[nOld]) {
            values[i] = std::move(m_values[nOld]);
            taken[nOld] = true;
        }
    }
    m_rows = rows;
    m_values = std::move(values);
    std::size_t nLongest = 0;
    for (const std::deque<std::int32_t> &series : m_values)
        nLongest = std::max(nLongest, series.size());
    m_times.erase(m_times.begin(), m_times.end() - std::ptrdiff_t(nLongest));
    if (m_times.empty())
        m_times = {}; // gives the memory back, which clear() need not
}

void CTrend::Clear()
{
    m_times = {};
    for (std::deque<std::int32_t> &series : m_values)
        series = {};
}

void CTrend::AppendReading(qint64 nMsecs, const CListRows &secondRows)
{
    if (secondRows.size() != std::size_t(SECOND_ROW_COUNT)) {
        AppendGap(nMsecs);
        return;
    }
    std::vector<std::int32_t> values(m_rows.size(), GAP);
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        const int nRow = m_rows[i];
        if (nRow >= 0 && nRow < SECOND_ROW_COUNT)
            values[i] = Hundredths(ShownValue(secondRows[std::size_t(nRow)].strValue));
    }
    Push(values, nMsecs);
}

void CTrend::AppendGap(qint64 nMsecs)
{
    Push(std::vector<std::int32_t>(m_rows.size(), GAP), nMsecs);
}

void CTrend::Push(const std::vector<std::int32_t> &values, qint64 nMsecs)
{
    if (m_values.empty())
        return;
    m_times.push_back(m_times.empty() ? nMsecs : std::max(m_times.back(), nMsecs));
    for (std::size_t i = 0; i < m_values.size(); ++i)
        m_values[i].push_back(values[i]);
    if (m_times.size() <= m_nCapacity)
        return;
    m_times.pop_front();
    for (std::deque<std::int32_t> &series : m_values) {
        if (series.size() > m_times.size())
            series.pop_front();
    }
}

SSpanStats CTrend::Stats(std::size_t nSeries, qint64 nFrom, qint64 nTo) const
{
    if (nSeries >= m_values.size() || nFrom > nTo)
        return SSpanStats();
    const std::size_t nLow = std::size_t(std::lower_bound(m_times.begin(), m_times.end(), nFrom) - m_times.begin());
    const std::size_t nHigh = std::size_t(std::upper_bound(m_times.begin(), m_times.end(), nTo) - m_times.begin());
    const std::deque<std::int32_t> &values = m_values[nSeries];
    return RunOf(values, m_times.size() - values.size(), nLow, nHigh).Stats();
}

std::vector<STrendView> CTrend::View(qint64 nFrom, qint64 nTo, int nColumns) const
{
    std::vector<STrendView> views(m_values.size());
    if (nFrom > nTo)
        return views;
    const auto timesBegin = m_times.begin();
    const std::size_t nLow = std::size_t(std::lower_bound(timesBegin, m_times.end(), nFrom) - timesBegin);
    const std::size_t nHigh = std::size_t(std::upper_bound(timesBegin, m_times.end(), nTo) - timesBegin);

    // Where each column of the span ends, alike for every series.
    const std::size_t nWidth = std::size_t(std::max(1, nColumns));
    std::vector<std::size_t> columnEnds;
    if (nHigh - nLow > DENSE_POINTS_PER_COLUMN * nWidth) {
        std::size_t nEnd = nLow;
        for (std::size_t c = 1; c < nWidth; ++c) {
            const qint64 nBorder = nFrom + (nTo - nFrom) * qint64(c) / qint64(nWidth);
            nEnd = std::size_t(std::upper_bound(timesBegin + std::ptrdiff_t(nEnd), timesBegin + std::ptrdiff_t(nHigh),
                                                nBorder) - timesBegin);
            columnEnds.push_back(nEnd);
        }
    }
    columnEnds.push_back(nHigh);

    for (std::size_t s = 0; s < m_values.size(); ++s) {
        const std::deque<std::int32_t> &values = m_values[s];
        const std::size_t nFirst = m_times.size() - values.size();
        std::vector<STrendPoint> &points = views[s].points;
        points.reserve(columnEnds.size() == 1 ? nHigh - nLow + 2 : 3 * columnEnds.size() + 2);
        const auto Put = [&](std::size_t i) {
            points.push_back(STrendPoint{m_times[i], ValueOf(values[i - nFirst])});
        };
        if (nLow > nFirst)
            Put(nLow - 1);
        SRun span;
        std::size_t nStart = nLow;
        for (std::size_t nEnd : columnEnds) {
            const SRun column = RunOf(values, nFirst, nStart, nEnd);
            span.Add(column);
            if (columnEnds.size() == 1) {
                for (std::size_t i = std::max(nStart, nFirst); i < nEnd; ++i)
                    Put(i);
            } else {
                std::size_t drawn[] = {column.iLow, column.iHigh, column.iGap};
                std::sort(std::begin(drawn), std::end(drawn));
                for (std::size_t k = 0; k < std::size(drawn); ++k) {
                    if (drawn[k] != NONE && (k == 0 || drawn[k] != drawn[k - 1]))
                        Put(drawn[k]);
                }
            }
            nStart = nEnd;
        }
        views[s].stats = span.Stats();
        const std::size_t nAfter = std::max(nHigh, nFirst);
        if (nAfter < m_times.size())
            Put(nAfter);
    }
    return views;
}

std::size_t CTrend::BytesHeld() const
{
    std::size_t nBytes = m_times.size() * sizeof(qint64);
    for (const std::deque<std::int32_t> &series : m_values)
        nBytes += series.size() * sizeof(std::int32_t);
    return nBytes;
}

qint64 CTrendClock::SystemMonotonic()
{
#ifdef CLOCK_BOOTTIME
    timespec now{};
    if (clock_gettime(CLOCK_BOOTTIME, &now) == 0)
        return qint64(now.tv_sec) * 1000 + qint64(now.tv_nsec) / 1'000'000;
#endif
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

CTrendClock::CTrendClock(Monotonic fnMonotonic)
    : m_fnMonotonic(std::move(fnMonotonic))
{
}

qint64 CTrendClock::TimeOf(qint64 nWallMsecs)
{
    const qint64 nMonotonic = m_fnMonotonic();
    if (!m_bAnchored) {
        m_bAnchored = true;
        m_nAnchorWall = nWallMsecs;
        m_nAnchorMonotonic = nMonotonic;
    }
    return m_nAnchorWall + (nMonotonic - m_nAnchorMonotonic);
}
