// The values of chosen rows of the Секунда list over time, as continuous
// reading brings them: one point per reading and series, a gap (NaN) for a
// failed reading, never a repeated value. Holds at least the last 24 hours
// of one-second readings; older points are dropped from the front.
// The series share one column of times, and each value is held as a count
// of hundredths: the list shows every value with two decimals, so the count
// is exact in half the room of a double, and following all 259 rows for a
// day takes under 90 MiB. Appending is O(1); times are in order, so a span
// is found by binary search.
#pragma once

#include "data/list_rows.h"

#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
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

// What a plot draws of one series in a span, and the span's statistics.
struct STrendView {
    SSpanStats stats;
    std::vector<STrendPoint> points;
};

// The points of one series, oldest first (a view into its trend, valid
// until the trend changes).
class CTrendSeries {
public:
    CTrendSeries(const std::deque<qint64> &times, const std::deque<std::int32_t> &values)
        : m_times(times), m_values(values), m_nFirstTime(times.size() - values.size())
    {
    }
    std::size_t size() const { return m_values.size(); }
    bool empty() const { return m_values.empty(); }
    STrendPoint operator[](std::size_t i) const;
    STrendPoint front() const { return (*this)[0]; }
    STrendPoint back() const { return (*this)[size() - 1]; }

private:
    const std::deque<qint64> &m_times;
    const std::deque<std::int32_t> &m_values;
    std::size_t m_nFirstTime; // the time of the first value
};

class CTrend {
public:
    // Readings held per series: 24 hours of one every second, and a little more.
    static constexpr std::size_t DEFAULT_CAPACITY = 24 * 3600 + 600;

    // Follows DefaultRows() from the start.
    explicit CTrend(std::size_t nCapacity = DEFAULT_CAPACITY);

    // The rows followed, by position in the Секунда list. A row followed
    // before keeps its points; a new one starts empty.
    void SetRows(const std::vector<int> &rows);
    const std::vector<int> &Rows() const { return m_rows; }
    // dUA ... dUCA, F and K2.
    static std::vector<int> DefaultRows();

    // Times come from a CTrendClock; one before the last one held is taken
    // as the last one, so that the series stay in order.
    // A successful reading: the value each followed row shows (NaN where it
    // shows none; a gap in every series for a list that is no Секунда list).
    void AppendReading(qint64 nMsecs, const CListRows &secondRows);
    // A failed reading: a gap in every series.
    void AppendGap(qint64 nMsecs);
    void Clear();

    std::size_t SeriesCount() const { return m_values.size(); }
    CTrendSeries Series(std::size_t nSeries) const { return CTrendSeries(m_times, m_values[nSeries]); }
    // The times of the oldest and the newest point any series holds.
    bool IsEmpty() const { return m_times.empty(); }
    qint64 FirstTime() const { return m_times.front(); }
    qint64 LastTime() const { return m_times.back(); }
    // min / max / mean of the values with nFrom <= time <= nTo; gaps are
    // left out, and a span without a value gives NaN and a count of 0.
    SSpanStats Stats(std::size_t nSeries, qint64 nFrom, qint64 nTo) const;
    // Every series in the span nFrom ... nTo, for a plot nColumns pixels
    // wide: Stats(), and the points to draw. Those are the span's points and
    // the one either side of it (the line runs on to the edges); a span with
    // more than a few points a column gives, for each column, its lowest and
    // its highest value and its first gap, in time order: the same picture
    // from a few thousand points.
    std::vector<STrendView> View(qint64 nFrom, qint64 nTo, int nColumns) const;
    // Bytes held by the times and values (the containers' own bookkeeping
    // is not counted).
    std::size_t BytesHeld() const;

private:
    void Push(const std::vector<std::int32_t> &values, qint64 nMsecs);

    std::size_t m_nCapacity;
    std::vector<int> m_rows;
    std::deque<qint64> m_times; // as many as the longest series holds
    // Per series, the newest m_values[i].size() of the times.
    std::vector<std::deque<std::int32_t>> m_values;
};

// The trend's time for a reading: the wall-clock time of the first reading,
// moved on by a clock that never steps back. A wall clock set back (by hand,
// or by a time service) would otherwise put a run of readings on one time;
// files keep the wall-clock time.
class CTrendClock {
public:
    // Milliseconds from any origin; never less than the time before.
    using Monotonic = std::function<qint64()>;
    // The system's: runs on while the computer sleeps where it can.
    static qint64 SystemMonotonic();

    explicit CTrendClock(Monotonic fnMonotonic = SystemMonotonic);
    qint64 TimeOf(qint64 nWallMsecs);

private:
    Monotonic m_fnMonotonic;
    bool m_bAnchored = false;
    qint64 m_nAnchorWall = 0;
    qint64 m_nAnchorMonotonic = 0;
};
