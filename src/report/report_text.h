// The texts of the printed supply-quality report, in Russian as the
// operator's papers are.
#pragma once

#include "data/supply_report.h"
#include "files/file_text.h"

#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <cmath>

namespace ReportText {

inline QString Heading() { return QStringLiteral("Качество электроэнергии по EN 50160"); }
inline QString DocumentTitle(const QString &strTitle)
{
    return strTitle.isEmpty() ? Heading() : Heading() + QStringLiteral(": ") + strTitle;
}
inline QString Site(const QString &strTitle) { return QStringLiteral("Счётчик и место: ") + strTitle; }
inline QString Logs(EDataSet set)
{
    return QStringLiteral("По журналам списка «%1»").arg(FileText::ListName(set));
}

// "+03:00" for an offset east of UTC in seconds.
inline QString Offset(int nOffsetSeconds)
{
    const int nMinutes = std::abs(nOffsetSeconds) / 60;
    return QStringLiteral("%1%2:%3")
        .arg(QChar(nOffsetSeconds < 0 ? u'−' : u'+'))
        .arg(nMinutes / 60, 2, 10, QLatin1Char('0'))
        .arg(nMinutes % 60, 2, 10, QLatin1Char('0'));
}
inline QString LocalTime(qint64 nMsecs, int nOffsetSeconds)
{
    return QDateTime::fromMSecsSinceEpoch(nMsecs, QTimeZone(nOffsetSeconds))
        .toString(QStringLiteral("dd.MM.yyyy hh:mm"));
}
// "7 сут.", "2 сут. 5 ч", "3 ч 20 мин".
inline QString Length(qint64 nMsecs)
{
    const qint64 nMinutes = nMsecs / 60000;
    const qint64 nDays = nMinutes / (24 * 60);
    const qint64 nHours = nMinutes / 60 % 24;
    QStringList parts;
    if (nDays > 0)
        parts << QStringLiteral("%1 сут.").arg(nDays);
    if (nHours > 0)
        parts << QStringLiteral("%1 ч").arg(nHours);
    if (nMinutes % 60 > 0 || parts.isEmpty())
        parts << QStringLiteral("%1 мин").arg(nMinutes % 60);
    return parts.join(u' ');
}
inline QString Period(const SSupplyReport &report)
{
    return QStringLiteral("Период: %1 — %2 (UTC%3), %4")
        .arg(LocalTime(report.nFromMsecs, report.nOffsetSeconds), LocalTime(report.nToMsecs, report.nOffsetSeconds),
             Offset(report.nOffsetSeconds), Length(report.nToMsecs - report.nFromMsecs));
}
inline QString NotAWeek()
{
    return QStringLiteral("Период не равен неделе. EN 50160 оценивает неделю; здесь оценён период "
                          "такой, какой он есть.");
}
inline QString Intervals(int nValid, int nInvalid)
{
    return QStringLiteral("10-минутных интервалов: действительных %1, недействительных %2").arg(nValid).arg(nInvalid);
}
inline QString RowsRead(qint64 nRows, qint64 nDuplicates)
{
    QString str = QStringLiteral("Строк журналов прочитано: %1").arg(nRows);
    if (nDuplicates > 0)
        str += QStringLiteral(" (повторы одного времени учтены один раз: %1)").arg(nDuplicates);
    return str;
}
inline QString BadRows(qint64 nBad, const QStringList &first)
{
    return QStringLiteral("Строк, которые не удалось прочитать: %1; первые: %2").arg(nBad).arg(first.join(QStringLiteral(", ")));
}
inline QString BadRow(const QString &strFile, qint64 nLine) { return QStringLiteral("%1:%2").arg(strFile).arg(nLine); }

inline QString Indicative()
{
    return QStringLiteral("Отчёт ориентировочный: значения опрошены и усреднены программой Varik, "
                          "а не измерены прибором класса A по IEC 61000-4-30.");
}
inline QString Rules()
{
    return QStringLiteral(
        "Правила. Интервалы по 10 минут отсчитываются от 10-минутных меток UTC; интервал действителен, "
        "если показания есть хотя бы в 8 из его 10 минут. Значение интервала: для dU — по действующему "
        "значению напряжения, для Ku и K2 — среднеквадратичное, для dF — среднее. В допуске должно быть "
        "не менее 95 % действительных интервалов (для dF — 99.5 %), и ни один из них не может выйти "
        "за предельные полосы dU −15 … +10 % и dF −3 … +2 Гц. Величина без допуска не оценивается.");
}

inline QString Overall(int nFailed, int nPassed, int nNoData)
{
    if (nFailed + nPassed + nNoData == 0)
        return QStringLiteral("Итог: оценивать нечего: ни у одной величины нет допуска.");
    if (nFailed + nPassed == 0)
        return QStringLiteral("Итог: нет данных: нет ни одного действительного интервала.");
    const QString strNoData = nNoData > 0 ? QStringLiteral("; без данных: %1").arg(nNoData) : QString();
    if (nFailed == 0)
        return QStringLiteral("Итог: соответствует по всем %1 оценённым строкам%2.").arg(nPassed).arg(strNoData);
    return QStringLiteral("Итог: не соответствует: %1 из %2 оценённых строк%3.")
        .arg(nFailed)
        .arg(nFailed + nPassed)
        .arg(strNoData);
}
inline QString Verdict(EVerdict verdict)
{
    switch (verdict) {
    case EVerdict::Pass:
        return QStringLiteral("соответствует");
    case EVerdict::Fail:
        return QStringLiteral("не соответствует");
    case EVerdict::Incomplete:
        return QStringLiteral("недостаточно данных");
    case EVerdict::NoData:
        break;
    }
    return QStringLiteral("нет данных");
}

inline QString Group(EQuantityGroup group)
{
    switch (group) {
    case EQuantityGroup::VoltageDeviation:
        return QStringLiteral("Отклонение напряжения dU, %");
    case EQuantityGroup::Frequency:
        return QStringLiteral("Отклонение частоты dF, Гц");
    case EQuantityGroup::Unbalance:
        return QStringLiteral("Несимметрия напряжений K2, %");
    case EQuantityGroup::Harmonics:
        return QStringLiteral("Гармоники напряжения Ku2 … Ku40, % от основной");
    case EQuantityGroup::TotalDistortion:
        break;
    }
    return QStringLiteral("Суммарный коэффициент гармоник Ku, %");
}
inline QString VerdictTable() { return QStringLiteral("Заключение по величинам"); }
inline QString Plots() { return QStringLiteral("Значения 10-минутных интервалов"); }
inline QStringList Columns()
{
    return {QStringLiteral("Величина"),  QStringLiteral("Фаза"),        QStringLiteral("Допуск"),
            QStringLiteral("Доля, %"),   QStringLiteral("Действ. интервалов"), QStringLiteral("Вне допуска"), QStringLiteral("Вне предела"), QStringLiteral("В допуске, %"),
            QStringLiteral("Мин"),       QStringLiteral("Макс"),        QStringLiteral("P05"),
            QStringLiteral("P95"),       QStringLiteral("Заключение")};
}
inline QString None() { return QStringLiteral("—"); }
inline QString Number(double dValue, int nDecimals = 3)
{
    return std::isfinite(dValue) ? QString::number(dValue, 'f', nDecimals) : None();
}
// "−10 … 10", "≤ 8", "≥ −1".
inline QString Band(const SLimitBand &band)
{
    const bool bLow = std::isfinite(band.dMin);
    const bool bHigh = std::isfinite(band.dMax);
    if (bLow && bHigh)
        return QStringLiteral("%1 … %2").arg(band.dMin, 0, 'g', 6).arg(band.dMax, 0, 'g', 6);
    if (bHigh)
        return QStringLiteral("≤ %1").arg(band.dMax, 0, 'g', 6);
    if (bLow)
        return QStringLiteral("≥ %1").arg(band.dMin, 0, 'g', 6);
    return None();
}

inline QString BandLegend() { return QStringLiteral("допуск"); }
inline QString HardBandLegend() { return QStringLiteral("предельная полоса (100 %)"); }
inline QString NoValidInterval() { return QStringLiteral("Нет ни одного действительного интервала."); }
inline QString TimeAxis(int nOffsetSeconds) { return QStringLiteral("Время (UTC%1)").arg(Offset(nOffsetSeconds)); }
inline QString OrderAxis() { return QStringLiteral("Порядок гармоники"); }
inline QString HarmonicP95() { return QStringLiteral("P95, худшая фаза"); }
inline QString HarmonicBeyond() { return QStringLiteral("P95 выше допуска"); }
inline QString HarmonicLimit() { return QStringLiteral("допуск"); }
inline QString HarmonicsNote()
{
    return QStringLiteral("Для каждого порядка — P95 10-минутных значений худшей фазы против допуска: "
                          "заключение решает доля интервалов в допуске, и P95 выше допуска значит, что "
                          "в нём меньше 95 % интервалов.");
}
inline QString Page(int nPage) { return QStringLiteral("Стр. %1").arg(nPage); }

inline QString WriteFailed(const QString &strPath, const QString &strReason)
{
    return QStringLiteral("Не удалось записать отчёт в %1: %2").arg(strPath, strReason);
}

} // namespace ReportText
