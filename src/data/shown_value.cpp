#include "data/shown_value.h"

#include <charconv>
#include <cmath>

std::optional<double> ShownValue(const QString &strValue)
{
    // The lists show at most a sign, digits and a dot; anything longer or
    // outside ASCII is no value of theirs.
    char buf[64];
    const qsizetype nSize = strValue.size();
    if (nSize == 0 || nSize > qsizetype(sizeof buf))
        return std::nullopt;
    for (qsizetype i = 0; i < nSize; ++i) {
        const char16_t c = strValue[i].unicode();
        if (!((c >= u'0' && c <= u'9') || c == u'-' || c == u'.'))
            return std::nullopt;
        buf[i] = char(c);
    }
    double d = 0;
    const std::from_chars_result r =
        std::from_chars(buf, buf + nSize, d, std::chars_format::fixed);
    if (r.ec != std::errc() || r.ptr != buf + nSize || !std::isfinite(d))
        return std::nullopt;
    return d;
}
