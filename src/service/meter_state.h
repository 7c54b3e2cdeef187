// How a meter is doing, as the service reports it: the state of its last
// read, since when, with the message of the last failure.
#pragma once

#include <QString>
#include <QtGlobal>

enum class EMeterState { Unknown, Ok, Silent, Busy, Refused, NoPort, Error };

// "ok", "silent", "busy", "refused", "no-port", "error" ("unknown" before the first read).
const char *StateName(EMeterState eState);

// The state a failed read leaves, from the message the operator was given
// (the link says what went wrong in its own words, and nothing else).
EMeterState StateOfFailure(const QString &strMessage, const QString &strPort);

struct SMeterStatus {
    EMeterState eState = EMeterState::Unknown;
    qint64 nSinceMs = 0; // wall time the state began
    QString strMessage;  // of the last failure; kept after a recovery
    qint64 nReads = 0;   // successful reads since the service started
    qint64 nFailures = 0;
};
