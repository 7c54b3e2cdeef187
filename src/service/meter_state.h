// How a meter is doing, as the service reports it: the state of its last
// read, since when, with the message of the last failure.
#pragma once

#include "session/meter_session.h"

#include <QString>
#include <QtGlobal>

enum class EMeterState { Unknown, Ok, CsvError, Silent, Busy, Refused, NoPort, Error };

// "ok", "csv-error", "silent", "busy", "refused", "no-port", "error"
// ("unknown" before the first read).
const char *StateName(EMeterState eState);

// The state a failed read leaves, from the kind of its failure.
EMeterState StateOfFailure(const SSessionOutcome &outcome);

struct SMeterStatus {
    EMeterState eState = EMeterState::Unknown;
    qint64 nSinceMs = 0; // wall time the state began
    QString strMessage;  // of the last failure, a read's or a log's; kept after a recovery
    qint64 nReads = 0;   // successful reads since the service started
    qint64 nFailures = 0;
};
