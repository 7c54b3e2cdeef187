// The limits table and how the rows of the lists are judged against it.
#include "data/supply_limits.h"

#include "data/shown_value.h"

#include <cmath>

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

SLimitBand UpTo(double dMax)
{
    return SLimitBand{-INF, dMax};
}

bool IsHarmonicOrder(int nOrder)
{
    return nOrder >= FIRST_HARMONIC_ORDER && nOrder <= LAST_HARMONIC_ORDER;
}

// The phase or line-pair designator a row name ends with.
bool IsPhase(QStringView str)
{
    for (const char *pPhase : {"A", "B", "C", "AB", "BC", "CA"})
        if (str == QLatin1String(pPhase))
            return true;
    return false;
}

// "Ku<n><phase>": the order n as the lists write it (no leading zero), or 0.
int HarmonicOrderOfRow(QStringView strAfterKu)
{
    qsizetype nDigits = 0;
    while (nDigits < strAfterKu.size() && nDigits < 3 && strAfterKu[nDigits].isDigit()
           && strAfterKu[nDigits].unicode() < 0x80)
        ++nDigits;
    if (nDigits == 0 || strAfterKu[0] == u'0' || !IsPhase(strAfterKu.mid(nDigits)))
        return 0;
    const int nOrder = strAfterKu.left(nDigits).toInt();
    return IsHarmonicOrder(nOrder) ? nOrder : 0;
}

} // namespace

CLimits CLimits::Defaults()
{
    CLimits limits;
    const struct {
        int nOrder;
        double dMax;
    } odd[] = {{3, 5},  {5, 6},  {7, 5},    {9, 1.5},  {11, 3.5}, {13, 3},  {15, 0.5},
               {17, 2}, {19, 1.5}, {21, 0.5}, {23, 1.5}, {25, 1.5}};
    for (const auto &h : odd)
        limits.SetHarmonic(h.nOrder, UpTo(h.dMax));
    limits.SetHarmonic(2, UpTo(2));
    limits.SetHarmonic(4, UpTo(1));
    for (int n = 6; n <= 24; n += 2)
        limits.SetHarmonic(n, UpTo(0.5));
    limits.SetTotalDistortion(UpTo(8));
    limits.SetUnbalance(UpTo(2));
    limits.SetFrequencyDeviation(SLimitBand{-0.5, 0.5});
    limits.SetVoltageDeviation(SLimitBand{-10, 10});
    limits.SetVoltageHardBand(SLimitBand{-15, 10});
    limits.SetFrequencyHardBand(SLimitBand{-3, 2});
    return limits;
}

CLimits CLimits::None()
{
    return CLimits();
}

std::optional<SLimitBand> CLimits::Bounding(std::optional<SLimitBand> band)
{
    if (!band)
        return std::nullopt;
    const double dMin = band->dMin;
    const double dMax = band->dMax;
    const bool bNoBound = std::isinf(dMin) && dMin < 0 && std::isinf(dMax) && dMax > 0;
    if (std::isnan(dMin) || std::isnan(dMax) || dMin > dMax || dMin == INF || dMax == -INF
        || bNoBound)
        return std::nullopt;
    return band;
}

std::optional<SLimitBand> CLimits::Harmonic(int nOrder) const
{
    if (!IsHarmonicOrder(nOrder))
        return std::nullopt;
    return m_harmonics[std::size_t(nOrder)];
}

void CLimits::SetHarmonic(int nOrder, std::optional<SLimitBand> band)
{
    if (IsHarmonicOrder(nOrder))
        m_harmonics[std::size_t(nOrder)] = Bounding(band);
}

std::optional<SLimitBand> CLimits::ForRowName(const QString &strName) const
{
    const QStringView name(strName);
    if (name == u"K2")
        return m_unbalance;
    if (name == u"dF")
        return m_frequency;
    if (name.startsWith(u"dU"))
        return IsPhase(name.mid(2)) ? m_voltage : std::nullopt;
    if (!name.startsWith(u"Ku"))
        return std::nullopt;
    if (IsPhase(name.mid(2)))
        return m_total;
    const int nOrder = HarmonicOrderOfRow(name.mid(2));
    return nOrder != 0 ? Harmonic(nOrder) : std::nullopt;
}

std::vector<bool> RowsBeyondLimits(const CListRows &rows, const CLimits &limits)
{
    std::vector<bool> beyond(rows.size(), false);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].strName.isEmpty() || rows[i].strValue.isEmpty())
            continue;
        const std::optional<SLimitBand> band = limits.ForRowName(rows[i].strName);
        if (!band)
            continue;
        const std::optional<double> dValue = ShownValue(rows[i].strValue);
        beyond[i] = dValue && !band->Holds(*dValue);
    }
    return beyond;
}
