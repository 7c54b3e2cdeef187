// The timestamped log of readings of one data set: a CSV text, UTF-8, LF
// line ends. A header row once, then one row per successful reading with
// the local time and every value exactly, at the meter's resolution.
#pragma once

#include "data/data_set.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstdint>
#include <vector>

// "time,<the names of the set's named rows in list order>\n"; for the
// Секунда list its 259 value names.
QByteArray CsvHeader(EDataSet set = EDataSet::Second);

// ISO 8601 local time with seconds and the UTC offset:
// "2026-12-10T14:03:07+03:00" (nOffsetSeconds east of UTC).
QByteArray CsvTime(qint64 nMsecsSinceEpoch, int nOffsetSeconds);

// One row: the time, then each value (the exact texts of decoders.h), then "\n".
QByteArray CsvRow(qint64 nMsecsSinceEpoch, int nOffsetSeconds, const std::vector<QByteArray> &values);
// The same for per-second values as the meter sent them (ExactMilli of each).
QByteArray CsvRow(qint64 nMsecsSinceEpoch, int nOffsetSeconds, const std::vector<std::int32_t> &raw);
