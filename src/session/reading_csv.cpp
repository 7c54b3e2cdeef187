#include "session/reading_csv.h"

#include "data/csv_log.h"

#include <QDateTime>

QByteArray ReadingCsvRow(const SReadResult &result)
{
    const int nOffset = QDateTime::fromMSecsSinceEpoch(result.nMsecs).offsetFromUtc();
    return CsvRow(result.nMsecs, nOffset, result.reading.values);
}

QByteArray LocalCsvTime(qint64 nMsecsSinceEpoch)
{
    return CsvTime(nMsecsSinceEpoch, QDateTime::fromMSecsSinceEpoch(nMsecsSinceEpoch).offsetFromUtc());
}
