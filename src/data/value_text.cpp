// The value texts of the three lists. The meter's scale factors are
// single-precision constants, so the products are taken with those exact
// factors; the printing is locale-free (the application runs under the
// user's LC_NUMERIC, where printf might write a decimal comma).
#include "data/value_text.h"

#include <charconv>

namespace {

// Like printf "%3.2f" in the C locale: std::to_chars is correctly rounded
// from the exact binary value, as glibc's printf is. The width of 3 never
// pads, since two decimals already make four characters.
QString FixedTwoDecimals(double dValue)
{
    char buf[64];
    const std::to_chars_result r =
        std::to_chars(buf, buf + sizeof buf, dValue, std::chars_format::fixed, 2);
    if (r.ec != std::errc())
        return QString();
    return QString::fromLatin1(buf, int(r.ptr - buf));
}

// nScaled / 10^nDecimals written out in full. The sign is taken off a wide
// value, so the most negative raw value keeps its magnitude.
QByteArray Decimal(qint64 nScaled, int nDecimals)
{
    qint64 nUnit = 1;
    for (int i = 0; i < nDecimals; ++i)
        nUnit *= 10;
    const qint64 nAbs = nScaled < 0 ? -nScaled : nScaled;
    QByteArray text = nScaled < 0 ? QByteArray("-") : QByteArray();
    return text + QByteArray::number(nAbs / nUnit) + '.'
           + QByteArray::number(nAbs % nUnit).rightJustified(nDecimals, '0');
}

} // namespace

QString FormatMilli(std::int32_t nRaw)
{
    // 0.001f is a shade above one thousandth, so halves round away from zero.
    return FixedTwoDecimals(double(nRaw) * double(0.001f));
}

QString FormatCenti(std::int16_t nRaw)
{
    return FixedTwoDecimals(double(nRaw) * double(0.01f));
}

QString FormatFiftieths(std::uint32_t nRaw)
{
    return QString::number(nRaw / 50u);
}

QString FormatDuration(std::uint32_t nSeconds)
{
    // The full hour count: 256 hours and more are not folded back to zero.
    const std::uint32_t nHours = nSeconds / 3600u;
    const std::uint32_t nMinutes = nSeconds / 60u % 60u;
    const std::uint32_t nSecs = nSeconds % 60u;
    return QString::asprintf("%02u:%02u:%02u", nHours, nMinutes, nSecs);
}

QByteArray ExactMilli(std::int32_t nRaw)
{
    return Decimal(nRaw, 3);
}

QByteArray ExactCenti(std::int16_t nRaw)
{
    return Decimal(nRaw, 2);
}

QByteArray ExactFiftieths(std::uint32_t nRaw)
{
    // A fiftieth is two hundredths, and the doubled count still fits.
    return Decimal(2 * qint64(nRaw), 2);
}

QByteArray ExactSeconds(std::uint32_t nSeconds)
{
    return QByteArray::number(nSeconds);
}
