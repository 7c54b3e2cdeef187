// What the printed report says about itself beside the verdicts: which
// meter, which files, when and by what it was made.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

struct SReportDocument {
    QString strTitle;       // --title; empty: the meter's
    QString strMeter;       // --meter, else the logs' (varikd's) folder
    QString strLimitsFile;  // the limits file judged by, as given
    QStringList logs;       // the logs read, as given
    QDateTime made;         // when the report was made
    QString strVersion;     // Varik's version
};
