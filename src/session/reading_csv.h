// A reading as a row of its set's CSV log, the same from varik-cli and the
// service.
#pragma once

#include "session/meter_session.h"

#include <QByteArray>

// The row of a successful read: its exact values, timed at result.nMsecs
// in local time with the UTC offset in force then.
QByteArray ReadingCsvRow(const SReadResult &result);
// The time of a row: local time with the UTC offset in force at that moment.
QByteArray LocalCsvTime(qint64 nMsecsSinceEpoch);
