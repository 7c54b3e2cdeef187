// The texts of the chart window, the limits file and the CSV log as the
// operator sees them.
#pragma once

#include "files/file_text.h"

#include <QDateTime>
#include <QDir>
#include <QString>
#include <QStringList>

namespace ChartsText {

inline QString NoValues() { return QStringLiteral("Нет значений: ещё ничего не считано."); }
inline QString NoTrend()
{
    return QStringLiteral("Тренд пуст: его строит непрерывное чтение списка «Секунда».");
}
inline QString NoSpan() { return QStringLiteral("—"); }

// "Секунда, считано 10.12.2026 14:03:07" or "Минута: не считано".
inline QString SourceTime(const QString &strSource, qint64 nMsecs)
{
    if (nMsecs <= 0)
        return strSource + QStringLiteral(": не считано");
    return strSource + QStringLiteral(", считано ")
           + QDateTime::fromMSecsSinceEpoch(nMsecs).toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"));
}

// A value as the lists show it, with the shortest text for a limit ("8", "0.5").
inline QString Percent(double dValue) { return QString::number(dValue, 'f', 2); }
inline QString LimitNumber(double dValue) { return QString::number(dValue, 'g', 6); }

// "Ku = 3.21 % (предел 8 %)"; a missing value or limit is said so.
inline QString Total(const QString &strValue, const QString &strLimit)
{
    const QString strWhat = strValue.isEmpty() ? QStringLiteral("Ku: нет значения") : QStringLiteral("Ku = ") + strValue + QStringLiteral(" %");
    return strWhat + QStringLiteral(" (")
           + (strLimit.isEmpty() ? QStringLiteral("без предела") : QStringLiteral("предел ") + strLimit + QStringLiteral(" %"))
           + u')';
}

inline QString BarsLegend() { return QStringLiteral("гармоника"); }
inline QString BeyondLegend() { return QStringLiteral("выше предела"); }
inline QString LimitLegend() { return QStringLiteral("предел"); }
inline QString OrderAxis() { return QStringLiteral("Порядок гармоники"); }
inline QString PercentAxis() { return QStringLiteral("% от основной"); }

inline QString CsvFilter() { return QStringLiteral("Файл CSV (*.csv)"); }
inline QString CsvNewName() { return QStringLiteral("Журнал.csv"); }
inline QString CsvOff() { return QStringLiteral("Журнал CSV не ведётся."); }
inline QString CsvOn(const QString &strPath)
{
    return QStringLiteral("Журнал CSV пишется в ") + QDir::toNativeSeparators(strPath);
}
// What the windows show while the log is written.
inline QString CsvState(const QString &strPath, qint64 nCutBytes)
{
    return CsvOn(strPath)
           + (nCutBytes > 0 ? QStringLiteral("; ") + FileText::CsvTornRowCut(nCutBytes) : QString());
}
// The reason is the system's, as varik-cli gives it after the name.
inline QString CsvOpenFailed(const QString &strPath, const QString &strReason)
{
    return QStringLiteral("Не удалось открыть файл журнала CSV:\n%1: %2")
        .arg(QDir::toNativeSeparators(strPath), strReason);
}
inline QString CsvWriteFailed(const QString &strPath, const QString &strReason)
{
    return QStringLiteral("Не удалось записать в файл журнала CSV:\n%1: %2\n\nЖурнал остановлен; "
                          "записанное в файле осталось.")
        .arg(QDir::toNativeSeparators(strPath), strReason);
}

// The supply-quality report made from CSV logs.
inline QString ReportLogsFilter() { return QStringLiteral("Журнал CSV (*.csv)"); }
inline QString ReportPdfFilter() { return QStringLiteral("Документ PDF (*.pdf)"); }
inline QString ReportNewName() { return QStringLiteral("Отчёт.pdf"); }
inline QString ReportReading() { return QStringLiteral("Чтение журналов для отчёта…"); }
inline QString ReportOpenFailed(const QString &strPath)
{
    return QStringLiteral("Отчёт записан в %1, но открыть его не удалось: "
                          "в системе не нашлось программы для просмотра PDF.")
        .arg(QDir::toNativeSeparators(strPath));
}
inline QString ReportPeriodTitle() { return QStringLiteral("Период отчёта"); }
inline QString ReportWholeSpan() { return QStringLiteral("Весь период журналов"); }
inline QString ReportFrom() { return QStringLiteral("С начала суток"); }
inline QString ReportTo() { return QStringLiteral("по конец суток"); }
inline QString ReportWeekHint() { return QStringLiteral("EN 50160 оценивает неделю: семь суток подряд."); }

inline QString LimitsProblems(const QStringList &problems)
{
    return QStringLiteral("В файле пределов есть ошибки; вместо того, что не удалось прочитать, "
                          "взяты пределы по умолчанию:\n\n")
           + problems.join(u'\n');
}

} // namespace ChartsText
