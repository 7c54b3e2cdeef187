// The values of chosen rows of the Секунда list over time, as continuous
// reading brings them: one point per reading and series, a gap (NaN) for a
// failed reading, never a repeated value. Holds at least the last 24 hours
// of one-second readings; older points are dropped from the front.
// Appending is O(1); the points of a series are in time order, so a span is
// found by binary search.
#pragma once

#include "list_rows.h"

#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <deque>
#include <limits>
#include <optional>
#include <vector>

struct STrendPoint {
    qint64 nMsecs; // since the epoch, UTC
    double dValue; // NaN: no value (a failed reading)
};

struct SSpanStats {
    double dMin = std::numeric_limits<double>::quiet_NaN();
    double dMax = std::numeric_limits<double>::quiet_NaN();
    double dMean = std::numeric_limits<double>::quiet_NaN();
    std::size_t nCount = 0; // points with a value in the span
};

class CTrend {
public:
    // Readings held per series: 24 hours of one every second, and a little more.
    static constexpr std::size_t DEFAULT_CAPACITY = 24 * 3600 + 600;

    // Follows DefaultRows() from the start.
    explicit CTrend(std::size_t nCapacity = DEFAULT_CAPACITY);

    // The rows followed, by position in the Секунда list. Changing them
    // clears what was held.
    void SetRows(const std::vector<int> &rows);
    const std::vector<int> &Rows() const { return m_rows; }
    // dUA ... dUCA, F and K2.
    static std::vector<int> DefaultRows();

    // Times should come from a clock that does not step back; a time before
    // the last one held is taken as the last one, so that the series stay
    // in order.
    // A successful reading: the value each followed row shows (NaN where it
    // shows none; a gap in every series for a list that is no Секунда list).
    void AppendReading(qint64 nMsecs, const CListRows &secondRows);
    // A failed reading: a gap in every series.
    void AppendGap(qint64 nMsecs);
    void Clear();

    std::size_t SeriesCount() const { return m_series.size(); }
    const std::deque<STrendPoint> &Series(std::size_t nSeries) const { return m_series[nSeries]; }
    // min / max / mean of the values with nFrom <= time <= nTo; gaps are
    // left out, and a span without a value gives NaN and a count of 0.
    SSpanStats Stats(std::size_t nSeries, qint64 nFrom, qint64 nTo) const;
    // Bytes held by the points (for the benchmark; the containers' own
    // bookkeeping is not counted).
    std::size_t BytesHeld() const;

private:
    // The time the next point takes: never before the last one.
    qint64 NextTime(qint64 nMsecs);
    void Push(std::size_t nSeries, qint64 nMsecs, double dValue);

    std::size_t m_nCapacity;
    qint64 m_nLastMsecs = std::numeric_limits<qint64>::min();
    std::vector<int> m_rows;
    std::vector<std::deque<STrendPoint>> m_series;
};
