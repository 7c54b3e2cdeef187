// The JSON of a reading and of a meter's state as they are published: UTF-8,
// one object on one line, compact (no blank between tokens), the values as
// the exact decimal numbers of the CSV log (never a float that rounds them).
#pragma once

#include "data/data_set.h"

#include <QByteArray>
#include <QString>

#include <vector>

// {"time":"<csv time>","meter":"<name>","device":12,"feeder":1,
//  "values":{"<row name>":<value>,...}} on one line, with the set's named
// rows in list order; values holds one exact text per named row, put in as
// it is. Empty when the count of values is not the count of named rows.
QByteArray ReadingJson(const QByteArray &time, const QString &strMeter, int nDevice, int nFeeder, EDataSet eSet,
                       const std::vector<QByteArray> &values);

struct SStateJson {
    QByteArray state;  // "ok", "silent", "busy", "refused", "no-port", "error"
    QByteArray since;  // a csv time
    QString strMessage; // the operator's message of the last failure; may be empty
    qint64 nReads = 0;
    qint64 nFailures = 0;
    qint64 nDropped = 0; // readings of this meter the outbox had to drop
};

// {"state":"ok","since":"<csv time>","message":"","reads":N,"failures":N,"dropped":N}
// on one line, compact as a reading; an empty message is "".
QByteArray StateJson(const SStateJson &state);

// A JSON string literal of the text, quotes included: " and \ escaped with a
// backslash, every control character below U+0020 as \u00xx (lower-case
// hex), everything else as its UTF-8.
QByteArray JsonString(const QString &strText);
