// The 10-minute intervals a supply-quality report judges, gathered row by
// row as the logs are read: which seconds and minutes hold a reading, and
// per judged column the sum the interval's value is made of. Memory grows
// with the intervals that hold readings, never with the rows.
#pragma once

#include <QtGlobal>

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

inline constexpr qint64 INTERVAL_SECONDS = 600;
inline constexpr int SLOTS_PER_INTERVAL = 10;  // one-minute slots
inline constexpr int VALID_SLOTS = 8;          // slots with a reading a valid interval needs

// The interval a UTC time falls in, counted from the epoch (floor).
qint64 IntervalOf(qint64 nUtcSeconds);
// The first interval that starts at or after a UTC time in msecs: the
// intervals of [from, to) are [FirstIntervalFrom(from), FirstIntervalFrom(to)).
qint64 FirstIntervalFrom(qint64 nMsecs);

struct SLogTime {
    qint64 nUtcSeconds = 0;
    int nOffsetSeconds = 0; // east of UTC, as the text gave it
};

// A log's time, "2026-12-10T14:03:07+03:00" (an offset may carry seconds,
// "+02:30:17"), exactly as the CSV log writes it; none for any other text.
std::optional<SLogTime> ParseLogTime(std::string_view text);

// How an interval's readings of a column make its value.
enum class EIntervalMean {
    Voltage, // dU: (sqrt(mean((1 + x/100)^2)) - 1) * 100
    Rms,     // Ku, K2: sqrt(mean(x^2))
    Mean,    // dF
};

// A column judged on the means of shorter spans of an interval rather than
// on the interval's one value (the frequency: on 10-second means of a
// per-second log, on the minute values of a per-minute one). Spans lie on
// the ticks of UTC and divide an interval.
struct SSpans {
    std::size_t nColumn = 0;
    int nSeconds = 10;
};

class CIntervalTally {
public:
    explicit CIntervalTally(std::vector<EIntervalMean> columns, std::optional<SSpans> spans = std::nullopt);

    // One reading per UTC second: false, and nothing taken, when that second
    // already holds one. values: one per column, in the constructor's order.
    bool Add(qint64 nUtcSeconds, const double *values);

    struct SInterval {
        std::array<std::uint64_t, (INTERVAL_SECONDS + 63) / 64> seen{}; // a bit per second
        int nReadings = 0;
        std::size_t nSumsAt = 0; // into m_sums
    };

    // The intervals that hold readings, by IntervalOf.
    const std::map<qint64, SInterval> &Intervals() const { return m_intervals; }
    static bool IsValid(const SInterval &interval);
    // The value of a column over an interval's readings.
    double Value(const SInterval &interval, std::size_t nColumn) const;
    std::size_t ColumnCount() const { return m_columns.size(); }

    const std::optional<SSpans> &Spans() const { return m_spans; }
    // Spans an interval holds; 0 without spans.
    int SpansPerInterval() const { return m_spans ? int(INTERVAL_SECONDS / m_spans->nSeconds) : 0; }
    // Appends the mean of each span of the interval (by IntervalOf) that
    // holds a reading, and the UTC msecs at which the span starts.
    void AppendSpanMeans(const SInterval &interval, qint64 nIndex, std::vector<double> &means,
                         std::vector<qint64> &starts) const;

private:
    SInterval &IntervalAt(qint64 nIndex);

    std::vector<EIntervalMean> m_columns;
    std::optional<SSpans> m_spans;
    std::size_t m_nSumsPerInterval = 0; // the columns' sums, then each span's sum and count
    std::map<qint64, SInterval> m_intervals;
    std::vector<double> m_sums; // m_nSumsPerInterval per interval
    // Rows come in time order within a file: most land where the last did.
    qint64 m_nLastIndex = 0;
    SInterval *m_pLast = nullptr;
};
