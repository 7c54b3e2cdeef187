#include "data/report_intervals.h"

#include <cmath>

namespace {

// nCount decimal digits at p; -1 when any is not one.
int Digits(const char *p, int nCount)
{
    int n = 0;
    for (int i = 0; i < nCount; ++i) {
        const unsigned nDigit = unsigned(p[i]) - '0';
        if (nDigit > 9)
            return -1;
        n = n * 10 + int(nDigit);
    }
    return n;
}

bool IsLeapYear(int nYear)
{
    return (nYear % 4 == 0 && nYear % 100 != 0) || nYear % 400 == 0;
}

int DaysInMonth(int nYear, int nMonth)
{
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return nMonth == 2 && IsLeapYear(nYear) ? 29 : kDays[nMonth - 1];
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
qint64 DaysFromCivil(int nYear, int nMonth, int nDay)
{
    const qint64 y = nYear - (nMonth <= 2 ? 1 : 0);
    const qint64 nEra = (y >= 0 ? y : y - 399) / 400;
    const qint64 nYearOfEra = y - nEra * 400;
    const qint64 nDayOfYear = (153 * (nMonth + (nMonth > 2 ? -3 : 9)) + 2) / 5 + nDay - 1;
    const qint64 nDayOfEra = nYearOfEra * 365 + nYearOfEra / 4 - nYearOfEra / 100 + nDayOfYear;
    return nEra * 146097 + nDayOfEra - 719468;
}

// "+03:00" or "-02:30:17" at p (nLength 6 or 9): seconds east of UTC, or none.
std::optional<int> ParseOffset(const char *p, std::size_t nLength)
{
    if ((p[0] != '+' && p[0] != '-') || p[3] != ':' || (nLength == 9 && p[6] != ':'))
        return std::nullopt;
    const int nHours = Digits(p + 1, 2);
    const int nMinutes = Digits(p + 4, 2);
    const int nSeconds = nLength == 9 ? Digits(p + 7, 2) : 0;
    if (nHours < 0 || nHours > 23 || nMinutes < 0 || nMinutes > 59 || nSeconds < 0 || nSeconds > 59)
        return std::nullopt;
    const int nOffset = nHours * 3600 + nMinutes * 60 + nSeconds;
    return p[0] == '-' ? -nOffset : nOffset;
}

// Binary arithmetic makes a steady +10.000 % into 10.000000000000009,
// which a band ending at 10 would call beyond. The readings have three
// decimals at most: nine wipe out that noise and nothing of theirs.
double WithoutNoise(double dValue)
{
    return std::round(dValue * 1e9) / 1e9;
}

} // namespace

qint64 IntervalOf(qint64 nUtcSeconds)
{
    const qint64 nIndex = nUtcSeconds / INTERVAL_SECONDS;
    return nIndex * INTERVAL_SECONDS > nUtcSeconds ? nIndex - 1 : nIndex;
}

qint64 FirstIntervalFrom(qint64 nMsecs)
{
    const qint64 nSeconds = nMsecs / 1000 - (nMsecs % 1000 < 0 ? 1 : 0);
    const qint64 nInterval = IntervalOf(nSeconds);
    return nInterval * INTERVAL_SECONDS * 1000 < nMsecs ? nInterval + 1 : nInterval;
}

std::optional<SLogTime> ParseLogTime(std::string_view text)
{
    // "YYYY-MM-DDTHH:MM:SS" and an offset of 6 or 9 characters.
    constexpr std::size_t CLOCK_LENGTH = 19;
    if (text.size() != CLOCK_LENGTH + 6 && text.size() != CLOCK_LENGTH + 9)
        return std::nullopt;
    const char *p = text.data();
    if (p[4] != '-' || p[7] != '-' || p[10] != 'T' || p[13] != ':' || p[16] != ':')
        return std::nullopt;
    const int nYear = Digits(p, 4);
    const int nMonth = Digits(p + 5, 2);
    const int nDay = Digits(p + 8, 2);
    const int nHour = Digits(p + 11, 2);
    const int nMinute = Digits(p + 14, 2);
    const int nSecond = Digits(p + 17, 2);
    if (nYear < 0 || nMonth < 1 || nMonth > 12 || nDay < 1 || nDay > DaysInMonth(nYear, nMonth) || nHour < 0
        || nHour > 23 || nMinute < 0 || nMinute > 59 || nSecond < 0 || nSecond > 59)
        return std::nullopt;
    const std::optional<int> offset = ParseOffset(p + CLOCK_LENGTH, text.size() - CLOCK_LENGTH);
    if (!offset)
        return std::nullopt;
    const qint64 nLocal = DaysFromCivil(nYear, nMonth, nDay) * 86400 + nHour * 3600 + nMinute * 60 + nSecond;
    return SLogTime{nLocal - *offset, *offset};
}

CIntervalTally::CIntervalTally(std::vector<EIntervalMean> columns, std::optional<SSpans> spans)
    : m_columns(std::move(columns)), m_spans(spans),
      m_nSumsPerInterval(m_columns.size() + 2 * std::size_t(SpansPerInterval()))
{
}

CIntervalTally::SInterval &CIntervalTally::IntervalAt(qint64 nIndex)
{
    if (m_pLast && m_nLastIndex == nIndex)
        return *m_pLast;
    const auto [it, bNew] = m_intervals.try_emplace(nIndex);
    if (bNew) {
        it->second.nSumsAt = m_sums.size();
        m_sums.resize(m_sums.size() + m_nSumsPerInterval, 0.0);
    }
    m_nLastIndex = nIndex;
    m_pLast = &it->second; // a map's nodes stay where they are
    return it->second;
}

bool CIntervalTally::Add(qint64 nUtcSeconds, const double *values)
{
    const qint64 nIndex = IntervalOf(nUtcSeconds);
    SInterval &interval = IntervalAt(nIndex);
    const auto nSecond = std::size_t(nUtcSeconds - nIndex * INTERVAL_SECONDS);
    const std::uint64_t nBit = std::uint64_t(1) << (nSecond % 64);
    if (interval.seen[nSecond / 64] & nBit)
        return false;
    interval.seen[nSecond / 64] |= nBit;
    ++interval.nReadings;
    double *pSums = m_sums.data() + interval.nSumsAt;
    for (std::size_t i = 0; i < m_columns.size(); ++i) {
        const double x = values[i];
        switch (m_columns[i]) {
        case EIntervalMean::Voltage: {
            const double dRelative = 1.0 + x / 100.0;
            pSums[i] += dRelative * dRelative;
            break;
        }
        case EIntervalMean::Rms:
            pSums[i] += x * x;
            break;
        case EIntervalMean::Mean:
            pSums[i] += x;
            break;
        }
    }
    if (m_spans) {
        const std::size_t nSpan = nSecond / std::size_t(m_spans->nSeconds);
        double *pSpans = pSums + m_columns.size();
        pSpans[nSpan] += values[m_spans->nColumn];
        pSpans[std::size_t(SpansPerInterval()) + nSpan] += 1.0;
    }
    return true;
}

bool CIntervalTally::IsValid(const SInterval &interval)
{
    int nSlots = 0;
    for (int nSlot = 0; nSlot < SLOTS_PER_INTERVAL; ++nSlot) {
        for (int nSecond = nSlot * 60; nSecond < nSlot * 60 + 60; ++nSecond) {
            if (interval.seen[std::size_t(nSecond / 64)] >> (nSecond % 64) & 1) {
                ++nSlots;
                break;
            }
        }
    }
    return nSlots >= VALID_SLOTS;
}

double CIntervalTally::Value(const SInterval &interval, std::size_t nColumn) const
{
    const double dMean = m_sums[interval.nSumsAt + nColumn] / interval.nReadings;
    double dValue = dMean;
    switch (m_columns[nColumn]) {
    case EIntervalMean::Voltage:
        dValue = (std::sqrt(dMean) - 1.0) * 100.0;
        break;
    case EIntervalMean::Rms:
        dValue = std::sqrt(dMean);
        break;
    case EIntervalMean::Mean:
        break;
    }
    return WithoutNoise(dValue);
}

void CIntervalTally::AppendSpanMeans(const SInterval &interval, qint64 nIndex, std::vector<double> &means,
                                     std::vector<qint64> &starts) const
{
    const int nSpans = SpansPerInterval();
    const double *pSpans = m_sums.data() + interval.nSumsAt + m_columns.size();
    for (int nSpan = 0; nSpan < nSpans; ++nSpan) {
        const double dCount = pSpans[nSpans + nSpan];
        if (dCount == 0.0)
            continue;
        means.push_back(WithoutNoise(pSpans[nSpan] / dCount));
        starts.push_back((nIndex * INTERVAL_SECONDS + qint64(nSpan) * m_spans->nSeconds) * 1000);
    }
}
