// Everything is written with integer arithmetic and without the C library's
// printing, so that the user's LC_NUMERIC (a decimal comma) never shows.
#include "data/csv_log.h"

#include "data/value_text.h"

#include <chrono>

namespace {

// n (at least 0) in decimal with at least nWidth digits.
QByteArray Digits(qint64 n, int nWidth)
{
    return QByteArray::number(n).rightJustified(nWidth, '0');
}

} // namespace

QByteArray CsvHeader(EDataSet set)
{
    QByteArray header("time");
    for (const SListRow &row : DataSetOf(set).pRows()) {
        if (!row.strName.isEmpty())
            header += ',' + row.strName.toUtf8();
    }
    return header + '\n';
}

QByteArray CsvTime(qint64 nMsecsSinceEpoch, int nOffsetSeconds)
{
    using namespace std::chrono;
    // Whole seconds, rounded down, so a time before 1970 does not move forward.
    const sys_seconds utc = floor<seconds>(sys_time<milliseconds>(milliseconds(nMsecsSinceEpoch)));
    const sys_seconds local = utc + seconds(nOffsetSeconds);
    const sys_days day = floor<days>(local);
    const year_month_day date(day);
    const hh_mm_ss<seconds> clock(local - day);

    QByteArray text = Digits(int(date.year()), 4) + '-' + Digits(unsigned(date.month()), 2) + '-'
                      + Digits(unsigned(date.day()), 2) + 'T' + Digits(clock.hours().count(), 2) + ':'
                      + Digits(clock.minutes().count(), 2) + ':' + Digits(clock.seconds().count(), 2);

    const qint64 nOffsetAbs = nOffsetSeconds < 0 ? -qint64(nOffsetSeconds) : qint64(nOffsetSeconds);
    text += nOffsetSeconds < 0 ? '-' : '+';
    text += Digits(nOffsetAbs / 3600, 2) + ':' + Digits(nOffsetAbs / 60 % 60, 2);
    // An offset with seconds (a zone's old local mean time) keeps them, so
    // the text still names the exact instant.
    if (nOffsetAbs % 60 != 0)
        text += ':' + Digits(nOffsetAbs % 60, 2);
    return text;
}

QByteArray CsvRow(qint64 nMsecsSinceEpoch, int nOffsetSeconds, const std::vector<QByteArray> &values)
{
    QByteArray row = CsvTime(nMsecsSinceEpoch, nOffsetSeconds);
    qsizetype nSize = row.size() + 1;
    for (const QByteArray &value : values)
        nSize += 1 + value.size();
    row.reserve(nSize);
    for (const QByteArray &value : values) {
        row += ',';
        row += value;
    }
    return row + '\n';
}

QByteArray CsvRow(qint64 nMsecsSinceEpoch, int nOffsetSeconds, const std::vector<std::int32_t> &raw)
{
    std::vector<QByteArray> values;
    values.reserve(raw.size());
    for (const std::int32_t nRaw : raw)
        values.push_back(ExactMilli(nRaw));
    return CsvRow(nMsecsSinceEpoch, nOffsetSeconds, values);
}
