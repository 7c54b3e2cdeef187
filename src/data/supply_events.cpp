// Events from the phase voltages of a log: runs of consecutive readings
// beyond +-10 %, told apart as interruptions, dips and swells.
#include "data/supply_events.h"

#include "data/report_intervals.h"

#include <algorithm>
#include <optional>

namespace {

constexpr double DIP_BELOW = -10.0;            // dU %, a phase below: a dip
constexpr double SWELL_ABOVE = 10.0;           // dU %, a phase above: a swell
constexpr double INTERRUPTION_AT_MOST = -95.0; // dU %, every phase at or below: no supply
// A dip or swell lasts at most a minute; a longer run is a variation of the
// supply voltage, judged with the 10-minute values and not flagged.
constexpr qint64 LONGEST_DIP_OR_SWELL_SECONDS = 60;
constexpr const char *PHASE_NAMES[] = {"A", "B", "C"};

// The upper end of each duration column, ms (each includes its upper end).
constexpr std::array<qint64, DIP_DURATION_BANDS> DURATION_UPPER_MSECS = {200, 500, 1000, 5000, 60000};
// The lower end of each residual-voltage row of the dips, u % (each includes
// its lower end); the last row holds everything below 5 %.
constexpr std::array<double, DIP_RESIDUAL_BANDS> DIP_RESIDUAL_LOWER = {80, 70, 40, 5, -1e300};

qint64 SpacingSeconds(EDataSet eSet)
{
    return eSet == EDataSet::Second ? 1 : 60;
}

using SPhases = std::array<double, 3>;

bool IsInterruption(const SPhases &dU)
{
    return std::all_of(dU.begin(), dU.end(), [](double d) { return d <= INTERRUPTION_AT_MOST; });
}

bool IsBelow(const SPhases &dU)
{
    return std::any_of(dU.begin(), dU.end(), [](double d) { return d < DIP_BELOW; });
}

bool IsAbove(const SPhases &dU)
{
    return std::any_of(dU.begin(), dU.end(), [](double d) { return d > SWELL_ABOVE; });
}

// Readings [nFirst, nEnd) of a sorted list: one event's.
struct SSpan {
    std::size_t nFirst = 0;
    std::size_t nEnd = 0;
};

// A sorted, deduplicated list of readings with the questions the events ask of it.
template <typename TReading>
class CReadings {
public:
    CReadings(const std::vector<TReading> &readings, qint64 nSpacing) : m_r(readings), m_nSpacing(nSpacing) {}

    std::size_t Size() const { return m_r.size(); }
    const SPhases &DU(std::size_t i) const { return m_r[i].dU; }
    // Reading i follows i - 1 with no reading missing between.
    bool Follows(std::size_t i) const { return m_r[i].nUtcSeconds == m_r[i - 1].nUtcSeconds + m_nSpacing; }
    qint64 Seconds(SSpan span) const { return (span.nEnd - span.nFirst) * m_nSpacing; }

    // The runs of consecutive readings for which bWanted holds.
    template <typename TWanted>
    std::vector<SSpan> Runs(TWanted bWanted) const
    {
        std::vector<SSpan> runs;
        for (std::size_t i = 0; i < m_r.size(); ++i) {
            if (!bWanted(m_r[i].dU))
                continue;
            if (runs.empty() || runs.back().nEnd != i || !Follows(i))
                runs.push_back({i, i});
            runs.back().nEnd = i + 1;
        }
        return runs;
    }

    SSupplyEvent Event(ESupplyEventKind eKind, SSpan span) const
    {
        SSupplyEvent event;
        event.eKind = eKind;
        event.nStartMsecs = m_r[span.nFirst].nUtcSeconds * 1000;
        event.nEndMsecs = (m_r[span.nEnd - 1].nUtcSeconds + m_nSpacing) * 1000;
        const bool bSwell = eKind == ESupplyEventKind::Swell;
        event.dExtreme = m_r[span.nFirst].dU[0];
        std::array<bool, 3> beyond{};
        for (std::size_t i = span.nFirst; i < span.nEnd; ++i) {
            for (std::size_t p = 0; p < 3; ++p) {
                const double d = m_r[i].dU[p];
                event.dExtreme = bSwell ? std::max(event.dExtreme, d) : std::min(event.dExtreme, d);
                beyond[p] = beyond[p] || (bSwell ? d > SWELL_ABOVE : d < DIP_BELOW);
            }
        }
        for (std::size_t p = 0; p < 3; ++p)
            if (beyond[p] || eKind == ESupplyEventKind::Interruption)
                event.strPhases += QLatin1String(PHASE_NAMES[p]);
        return event;
    }

private:
    const std::vector<TReading> &m_r;
    qint64 m_nSpacing;
};

// A run of readings below -10 % that holds an interruption: the dip readings
// straight before and after an interruption, up to a minute each, are taken
// into it. At one reading a second, the seconds in which the supply goes and
// comes back show a partial drop on their way to and from -100 %; counted as
// dips of their own they would give every interruption a dip or two that
// never was. So such a run is cut only at a stretch of dip readings longer
// than a minute (a variation, no event), and each piece left is one
// interruption, from its first reading to its last.
template <typename TReading>
void AddInterruptions(const CReadings<TReading> &readings, SSpan run, std::vector<SSupplyEvent> &events)
{
    std::optional<SSpan> piece;
    std::size_t i = run.nFirst;
    while (i < run.nEnd) {
        const bool bInterruption = IsInterruption(readings.DU(i));
        SSpan stretch{i, i + 1};
        while (stretch.nEnd < run.nEnd && IsInterruption(readings.DU(stretch.nEnd)) == bInterruption)
            ++stretch.nEnd;
        i = stretch.nEnd;
        // Stretches of the two kinds alternate, so every piece holds an
        // interruption's readings.
        if (!bInterruption && readings.Seconds(stretch) > LONGEST_DIP_OR_SWELL_SECONDS) {
            if (piece)
                events.push_back(readings.Event(ESupplyEventKind::Interruption, *piece));
            piece.reset();
            continue;
        }
        if (!piece)
            piece = stretch;
        piece->nEnd = stretch.nEnd;
    }
    if (piece)
        events.push_back(readings.Event(ESupplyEventKind::Interruption, *piece));
}

} // namespace

CEventTally::CEventTally(EDataSet eSet) : m_eSet(eSet) {}

void CEventTally::Add(qint64 nUtcSeconds, double dUA, double dUB, double dUC)
{
    const SPhases dU = {dUA, dUB, dUC};
    // Per minute only interruptions are seen: nothing else need be kept.
    const bool bKept = m_eSet == EDataSet::Second ? IsBelow(dU) || IsAbove(dU) : IsInterruption(dU);
    if (bKept)
        m_beyond.push_back(SBeyond{nUtcSeconds, dU});
}

std::vector<CEventTally::SBeyond> CEventTally::Settled() const
{
    std::vector<SBeyond> sorted = m_beyond;
    // Stable: of a second given twice, the reading given first stays, as in
    // the intervals' tally.
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const SBeyond &a, const SBeyond &b) { return a.nUtcSeconds < b.nUtcSeconds; });
    sorted.erase(std::unique(sorted.begin(), sorted.end(),
                             [](const SBeyond &a, const SBeyond &b) { return a.nUtcSeconds == b.nUtcSeconds; }),
                 sorted.end());
    return sorted;
}

std::vector<SSupplyEvent> CEventTally::Events() const
{
    const std::vector<SBeyond> sorted = Settled();
    const CReadings<SBeyond> readings(sorted, SpacingSeconds(m_eSet));
    std::vector<SSupplyEvent> events;
    if (m_eSet != EDataSet::Second) {
        // A minute's value below -95 % on every phase: the supply was off
        // for the whole minute. A minute with less cannot tell a dip from
        // part of an interruption, so it is no event.
        for (const SSpan &run : readings.Runs(IsInterruption))
            events.push_back(readings.Event(ESupplyEventKind::Interruption, run));
        return events;
    }
    for (const SSpan &run : readings.Runs(IsBelow)) {
        bool bHoldsInterruption = false;
        for (std::size_t i = run.nFirst; i < run.nEnd && !bHoldsInterruption; ++i)
            bHoldsInterruption = IsInterruption(readings.DU(i));
        if (bHoldsInterruption)
            AddInterruptions(readings, run, events);
        else if (readings.Seconds(run) <= LONGEST_DIP_OR_SWELL_SECONDS)
            events.push_back(readings.Event(ESupplyEventKind::Dip, run));
    }
    for (const SSpan &run : readings.Runs(IsAbove))
        if (readings.Seconds(run) <= LONGEST_DIP_OR_SWELL_SECONDS)
            events.push_back(readings.Event(ESupplyEventKind::Swell, run));
    std::stable_sort(events.begin(), events.end(), [](const SSupplyEvent &a, const SSupplyEvent &b) {
        return a.nStartMsecs != b.nStartMsecs ? a.nStartMsecs < b.nStartMsecs : a.eKind < b.eKind;
    });
    return events;
}

std::set<qint64> CEventTally::FlaggedIntervals() const
{
    const qint64 nSpacing = SpacingSeconds(m_eSet);
    std::set<qint64> flagged;
    // An event's readings follow one another with none missing, so every
    // interval from its first reading's to its last's holds one.
    for (const SSupplyEvent &event : Events()) {
        const qint64 nLast = IntervalOf(event.nEndMsecs / 1000 - nSpacing);
        for (qint64 n = IntervalOf(event.nStartMsecs / 1000); n <= nLast; ++n)
            flagged.insert(n);
    }
    return flagged;
}

namespace {

int DurationBand(const SSupplyEvent &event)
{
    const qint64 nMsecs = event.nEndMsecs - event.nStartMsecs;
    for (int c = 0; c < DIP_DURATION_BANDS; ++c)
        if (nMsecs <= DURATION_UPPER_MSECS[std::size_t(c)])
            return c;
    return -1;
}

// The columns a log's readings can fill: one reading a second lasts 1 s, so
// nothing shorter is seen; a log of minutes shows no dips or swells at all.
std::array<bool, DIP_DURATION_BANDS> ShownColumns(EDataSet eSet)
{
    std::array<bool, DIP_DURATION_BANDS> shown{};
    for (std::size_t c = 0; c < shown.size(); ++c)
        shown[c] = eSet == EDataSet::Second && DURATION_UPPER_MSECS[c] >= SpacingSeconds(eSet) * 1000;
    return shown;
}

} // namespace

SDipTable DipTableOf(const std::vector<SSupplyEvent> &events, EDataSet eSet)
{
    SDipTable table;
    table.shown = ShownColumns(eSet);
    for (const SSupplyEvent &event : events) {
        const int nColumn = DurationBand(event);
        if (event.eKind != ESupplyEventKind::Dip || nColumn < 0)
            continue;
        const double dResidual = 100.0 + event.dExtreme;
        for (std::size_t r = 0; r < DIP_RESIDUAL_LOWER.size(); ++r) {
            if (dResidual >= DIP_RESIDUAL_LOWER[r]) {
                ++table.counts[r][std::size_t(nColumn)];
                break;
            }
        }
    }
    return table;
}

SSwellTable SwellTableOf(const std::vector<SSupplyEvent> &events, EDataSet eSet)
{
    constexpr double HIGH_SWELL_FROM = 120.0; // u %, the first row; the second is 110 < u < 120
    SSwellTable table;
    table.shown = ShownColumns(eSet);
    for (const SSupplyEvent &event : events) {
        const int nColumn = DurationBand(event);
        if (event.eKind != ESupplyEventKind::Swell || nColumn < 0)
            continue;
        ++table.counts[100.0 + event.dExtreme >= HIGH_SWELL_FROM ? 0 : 1][std::size_t(nColumn)];
    }
    return table;
}
