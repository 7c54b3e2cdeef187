#include "data/spectrum.h"

#include "data/catalogue.h"

namespace {

// Rows 8 to 246 hold the six harmonic runs, each of the orders 2 to 40
// followed by a blank row; the six Ku rows follow at 248. Both lists share
// these positions.
constexpr int FIRST_HARMONIC_ROW = 8;
constexpr int HARMONIC_RUN_STRIDE = LAST_HARMONIC_ORDER - FIRST_HARMONIC_ORDER + 2;
constexpr int FIRST_TOTAL_DISTORTION_ROW = FIRST_HARMONIC_ROW + PHASE_SET_SIZE * HARMONIC_RUN_STRIDE;

bool IsPhase(EPhase phase)
{
    return int(phase) >= 0 && int(phase) < PHASE_SET_SIZE;
}

std::optional<double> RowValue(const CListRows &rows, int nRow)
{
    return ShownValue(rows[std::size_t(nRow)].strValue);
}

} // namespace

QString PhaseName(EPhase phase)
{
    switch (phase) {
    case EPhase::A:
        return QStringLiteral("A");
    case EPhase::B:
        return QStringLiteral("B");
    case EPhase::C:
        return QStringLiteral("C");
    case EPhase::AB:
        return QStringLiteral("AB");
    case EPhase::BC:
        return QStringLiteral("BC");
    case EPhase::CA:
        return QStringLiteral("CA");
    }
    return QString();
}

bool SSpectrum::HasValues() const
{
    if (total)
        return true;
    for (const std::optional<double> &h : harmonics)
        if (h)
            return true;
    return false;
}

int HarmonicRow(EPhase phase, int nOrder)
{
    if (!IsPhase(phase) || nOrder < FIRST_HARMONIC_ORDER || nOrder > LAST_HARMONIC_ORDER)
        return -1;
    return FIRST_HARMONIC_ROW + HARMONIC_RUN_STRIDE * int(phase) + (nOrder - FIRST_HARMONIC_ORDER);
}

int TotalDistortionRow(EPhase phase)
{
    return IsPhase(phase) ? FIRST_TOTAL_DISTORTION_ROW + int(phase) : -1;
}

SSpectrum SpectrumOf(const CListRows &rows, ESpectrumSource source, EPhase phase)
{
    const std::size_t nExpected =
        source == ESpectrumSource::Second ? SECOND_ROW_COUNT : MINUTE_ROW_COUNT;
    SSpectrum spectrum;
    if (rows.size() != nExpected || !IsPhase(phase))
        return spectrum;
    for (int n = FIRST_HARMONIC_ORDER; n <= LAST_HARMONIC_ORDER; ++n)
        spectrum.harmonics[std::size_t(n - FIRST_HARMONIC_ORDER)] = RowValue(rows, HarmonicRow(phase, n));
    spectrum.total = RowValue(rows, TotalDistortionRow(phase));
    return spectrum;
}
