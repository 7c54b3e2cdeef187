// The timestamped log of per-second readings: a CSV text, UTF-8, LF line
// ends. A header row once, then one row per successful reading with the
// local time and every value at the meter's resolution.
#pragma once

#include "data/list_rows.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <vector>

// "time,<the 259 value names of the Секунда list in list order>\n".
QByteArray CsvHeader();

// raw / 1000 in decimal with three decimals and a dot: -1234 gives "-1.234",
// 5 gives "0.005". Exact, no floating point.
QByteArray MilliText(std::int32_t nRaw);

// ISO 8601 local time with seconds and the UTC offset:
// "2026-12-10T14:03:07+03:00" (nOffsetSeconds east of UTC).
QByteArray CsvTime(qint64 nMsecsSinceEpoch, int nOffsetSeconds);

// One row: the time, then each value, then "\n".
QByteArray CsvRow(qint64 nMsecsSinceEpoch, int nOffsetSeconds, const std::vector<std::int32_t> &raw);
