// The values of chosen rows of the Секунда list over time, as continuous
// reading brings them: one point per reading and series, a gap (NaN) for a
// failed reading, never a repeated value. Holds at least the last 24 hours
// of one-second readings; older points are dropped from the front.
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

    explicit CTrend(std::size_t nCapacity = DEFAULT_CAPACITY);

    // The rows followed, by position in the Секунда list. Changing them
    // clears what was held.
    void SetRows(const std::vector<int> &rows);
    const std::vector<int> &Rows() const { return m_rows; }
    // dUA ... dUCA, F and K2.
    static std::vector<int> DefaultRows();

    // A successful reading: the value each followed row shows.
    void AppendReading(qint64 nMsecs, const CListRows &secondRows);
    // A failed reading: a gap in every series.
    void AppendGap(qint64 nMsecs);
    void Clear();

    std::size_t SeriesCount() const { return m_series.size(); }
    const std::deque<STrendPoint> &Series(std::size_t nSeries) const { return m_series[nSeries]; }
    // min / max / mean of the values with nFrom <= time <= nTo.
    SSpanStats Stats(std::size_t nSeries, qint64 nFrom, qint64 nTo) const;
    // Bytes held by the points (for the benchmark).
    std::size_t BytesHeld() const;

private:
    std::size_t m_nCapacity;
    std::vector<int> m_rows;
    std::vector<std::deque<STrendPoint>> m_series;
};
