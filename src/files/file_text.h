// The texts the file writers and the limits file give the operator, shared
// by the window and the command line.
#pragma once

#include "data/data_set.h"

#include <QDir>
#include <QString>

namespace FileText {

inline QString OpenFailed() { return QStringLiteral("Не удалось открыть файл."); }
inline QString WriteFailed() { return QStringLiteral("Не удалось записать файл."); }

inline QString LimitsUnreadable(const QString &strPath)
{
    return QDir::toNativeSeparators(strPath) + QStringLiteral(": файл не читается");
}
// In the line format of the file's other problems; the lines before it are read.
inline QString LimitsTooLong(const QString &strFileName, int nFirstUnread, qint64 nMaxBytes)
{
    return QStringLiteral("Файл пределов %1, строка %2: файл длиннее %3 байт; эта строка и все "
                          "следующие не прочитаны.")
        .arg(strFileName, QString::number(nFirstUnread), QString::number(nMaxBytes));
}

// Why a CSV log was not opened: its first line is not the header of the
// list it would log.
inline QString CsvOtherHeader(EDataSet set)
{
    return QStringLiteral("первая строка файла не заголовок журнала списка «%1»; строки "
                          "дописываются только в журнал того же списка")
        .arg(DataSetListName(set));
}
// How much of a torn last row opening a CSV log took off the file: the
// window shows it beside the log's name, varik-cli after it.
inline QString CsvTornRowCut(qint64 nBytes)
{
    return QStringLiteral("оборванная последняя строка файла убрана (байт: %1)").arg(nBytes);
}

} // namespace FileText
