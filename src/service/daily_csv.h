// One meter's log of one data set: a CSV file per local day,
// <folder>/<YYYY-MM-DD>.csv, the folder made when missing. A row goes to the
// file of its own reading's local date, so the file changes at local
// midnight whatever the time of the read before.
#pragma once

#include "data/data_set.h"
#include "files/csv_log_file.h"

#include <QDate>
#include <QString>

struct SCsvWrite {
    bool bOk = true;
    QString strPath;  // the day's file
    QString strError; // the system's reason when it failed
    qint64 nCut = 0;  // bytes of a torn last row taken off the file on opening
};

class CDailyCsv {
public:
    CDailyCsv(const QString &strFolder, EDataSet eSet) : m_strFolder(strFolder), m_eSet(eSet) {}

    // Puts the row on the disk, opening (and making) the day's file first
    // when the day changed or the last write failed. A failure leaves the
    // file with whole rows only; the next row tries again.
    SCsvWrite Append(qint64 nMsecsSinceEpoch, const QByteArray &row);

    QString PathOf(const QDate &date) const;

private:
    SCsvWrite Open(const QDate &date);

    QString m_strFolder;
    EDataSet m_eSet;
    QDate m_openDate;
    CCsvLogFile m_file;
};
