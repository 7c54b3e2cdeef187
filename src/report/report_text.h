// The texts of the printed supply-quality report, in Russian as the
// operator's papers are.
#pragma once

#include "data/data_set.h"
#include "data/supply_characteristics.h"
#include "data/supply_report.h"

#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include <cmath>

namespace ReportText {

inline QString Heading(bool bStandard)
{
    return bStandard ? QStringLiteral("Качество электроэнергии по EN 50160")
                     : QStringLiteral("Качество электроэнергии по заданным пределам, на основе EN 50160");
}
inline QString DocumentTitle(bool bStandard, const QString &strTitle)
{
    return strTitle.isEmpty() ? Heading(bStandard) : Heading(bStandard) + QStringLiteral(": ") + strTitle;
}
inline QString Meter(const QString &strMeter) { return QStringLiteral("Счётчик: ") + strMeter; }
inline QString Logs(EDataSet set)
{
    return QStringLiteral("По журналам списка «%1»").arg(DataSetListName(set));
}
// What the frequency is judged on: the readings of the log's list.
inline QString FrequencyBasis(EDataSet set)
{
    return set == EDataSet::Second ? QStringLiteral("частота оценена по 10-секундным средним")
                                   : QStringLiteral("частота оценена по минутным значениям");
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
inline QString LocalTimeWithOffset(qint64 nMsecs, int nOffsetSeconds)
{
    return QStringLiteral("%1 (UTC%2)").arg(LocalTime(nMsecs, nOffsetSeconds), Offset(nOffsetSeconds));
}
inline QString Date(const QDate &date) { return date.toString(QStringLiteral("dd.MM.yyyy")); }
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
// Each end in its own offset: a period across a clock change ends in the
// offset of its end.
inline QString Period(qint64 nFrom, int nFromOffset, qint64 nTo, int nToOffset)
{
    return QStringLiteral("Период: %1 — %2, %3")
        .arg(LocalTimeWithOffset(nFrom, nFromOffset), LocalTimeWithOffset(nTo, nToOffset), Length(nTo - nFrom));
}
inline QString Zone(const QString &strZone) { return QStringLiteral("Часовой пояс: %1").arg(strZone); }
inline QString NoPeriod() { return QStringLiteral("Период: нет ни одной недели с показаниями."); }
// The last day of a week, from its exclusive end.
inline QString WeekDates(const SReportWeek &week)
{
    const QDate last = QDateTime::fromMSecsSinceEpoch(week.nToMsecs - 1, QTimeZone(week.nEndOffsetSeconds)).date();
    return QStringLiteral("%1 — %2").arg(Date(week.firstDay), Date(last));
}
inline QString ShortWeek(qint64 nMsecs) { return QStringLiteral("короче недели: %1").arg(Length(nMsecs)); }
// The coverage the week was judged by, as the text table shows it.
inline QString Coverage(const SReportWeek &week)
{
    const QByteArray share = CoverageText(week);
    return share.isEmpty() ? QStringLiteral("—") : QString::fromLatin1(share) + QStringLiteral(" %");
}
inline QString WeeksLine(int nWeeks, double dMinCoverage)
{
    return QStringLiteral("Недель: %1. Неделя оценивается, если действительны не менее %2 % её интервалов.")
        .arg(nWeeks)
        .arg(dMinCoverage, 0, 'g', 4);
}
inline QStringList WeekColumns()
{
    return {QStringLiteral("Неделя"), QStringLiteral("Даты"), QStringLiteral("Интервалов"),
            QStringLiteral("Действ."), QStringLiteral("Помечено"), QStringLiteral("Покрытие"),
            QStringLiteral("Заключение")};
}
inline QString WeekName(int nIndex) { return QStringLiteral("%1").arg(nIndex + 1); }
inline QString Weeks() { return QStringLiteral("По неделям"); }
inline QString WeekHeading(int nIndex, const SReportWeek &week)
{
    QString str = QStringLiteral("Неделя %1: %2").arg(nIndex + 1).arg(WeekDates(week));
    if (week.bShort)
        str += QStringLiteral(" (%1)").arg(ShortWeek(week.nToMsecs - week.nFromMsecs));
    return str;
}
inline QString WeekCounts(const SReportWeek &week)
{
    return QStringLiteral("10-минутных интервалов: %1; действительных %2, недействительных %3, помечено "
                          "событиями и исключено %4; покрытие %5.")
        .arg(week.nIntervals)
        .arg(week.nValidIntervals)
        .arg(week.nInvalidIntervals)
        .arg(week.nFlaggedIntervals)
        .arg(Coverage(week));
}
inline QString EveryRow(qsizetype nRows) { return QStringLiteral("все %1 строк").arg(nRows); }
inline QString WeekRowsOf(const QString &strVerdict, const QStringList &columns)
{
    return QStringLiteral("%1: %2.").arg(strVerdict, columns.join(QStringLiteral(", ")));
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
        "Правила. Период делится на недели по семь календарных дней от его начала; каждая неделя оценивается "
        "отдельно, последняя, более короткая, — так же. Интервалы по 10 минут отсчитываются от 10-минутных "
        "меток UTC; интервал действителен, если показания есть хотя бы в 8 из его 10 минут. Интервал, в котором "
        "есть показание прерывания, провала или перенапряжения, помечается и исключается из статистики недели. "
        "Значение интервала: для dU — по действующему значению напряжения, для Ku и K2 — среднеквадратичное. "
        "Частота оценивается по 10-секундным средним журналов «Секунда» или по минутным значениям журналов "
        "«Минута». В допуске должно быть не менее 95 % значений (для dF — 99.5 %), и ни одно не может выйти за "
        "предельные полосы dU и dF (100 %). Если действительных интервалов недели меньше требуемой доли, "
        "величина получает «недостаточно данных», кроме случая, когда она не соответствует при любых "
        "недостающих значениях. Доли округляются вниз. Величина без допуска не оценивается.");
}

inline QString Headline(EVerdict verdict, int nFailed, int nJudged)
{
    switch (verdict) {
    case EVerdict::Fail:
        return QStringLiteral("Итог: не соответствует: %1 из %2 оценённых характеристик.").arg(nFailed).arg(nJudged);
    case EVerdict::Pass:
        return QStringLiteral("Итог: соответствует по всем %1 оценённым характеристикам.").arg(nJudged);
    case EVerdict::Incomplete:
        return QStringLiteral("Итог: недостаточно данных; несоответствий не найдено.");
    case EVerdict::NoData:
        break;
    }
    return QStringLiteral("Итог: нет данных: нет ни одного действительного интервала.");
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
inline QString WeekTable(int nIndex, const SReportWeek &week)
{
    return QStringLiteral("Величины недели %1 (%2)").arg(nIndex + 1).arg(WeekDates(week));
}
inline QString Plots() { return QStringLiteral("Значения за весь период"); }
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
inline QString TimeAxis(const QString &strZone) { return QStringLiteral("Время (%1)").arg(strZone); }
inline QString TimeAxis(int nOffsetSeconds) { return TimeAxis(QStringLiteral("UTC") + Offset(nOffsetSeconds)); }
inline QString OrderAxis() { return QStringLiteral("Порядок гармоники"); }
inline QString HarmonicP95() { return QStringLiteral("P95, худшая фаза"); }
inline QString HarmonicBeyond() { return QStringLiteral("P95 выше допуска"); }
inline QString HarmonicLimit() { return QStringLiteral("допуск"); }
inline QString HarmonicsNote()
{
    return QStringLiteral("Для каждого порядка — P95 10-минутных значений худшей фазы и недели против допуска: "
                          "заключение решает доля интервалов в допуске, и P95 выше допуска значит, что "
                          "в нём меньше 95 % интервалов.");
}
// Before the pages are counted the total is not known: the first pass
// draws the same width with a placeholder.
inline QString Page(int nPage, int nPages)
{
    return QStringLiteral("Стр. %1 из %2").arg(nPage).arg(nPages > 0 ? QString::number(nPages) : QStringLiteral("00"));
}
inline QString Made(const QDateTime &made, const QString &strVersion)
{
    QStringList parts;
    if (made.isValid())
        parts << QStringLiteral("Составлен %1").arg(made.toString(QStringLiteral("dd.MM.yyyy hh:mm")));
    parts << (strVersion.isEmpty() ? QStringLiteral("Varik") : QStringLiteral("Varik %1").arg(strVersion));
    return parts.join(QStringLiteral(", "));
}

// The first page's table: one line per characteristic.
inline QString Characteristic(ECharacteristic characteristic)
{
    switch (characteristic) {
    case ECharacteristic::VoltageVariations:
        return QStringLiteral("Отклонение напряжения dU, %");
    case ECharacteristic::Frequency:
        return QStringLiteral("Отклонение частоты dF, Гц");
    case ECharacteristic::Harmonics:
        return QStringLiteral("Гармоники Ku2 … Ku40, %");
    case ECharacteristic::TotalDistortion:
        return QStringLiteral("Суммарные гармоники Ku, %");
    case ECharacteristic::Unbalance:
        return QStringLiteral("Несимметрия K2, %");
    case ECharacteristic::Events:
        return QStringLiteral("Прерывания, провалы, перенапряжения");
    case ECharacteristic::Flicker:
        return QStringLiteral("Доза фликера Plt");
    case ECharacteristic::RapidVoltageChanges:
        return QStringLiteral("Быстрые изменения напряжения");
    case ECharacteristic::SignallingVoltages:
        return QStringLiteral("Напряжения сигналов в сети");
    case ECharacteristic::DipsAndSwells:
        break;
    }
    return QStringLiteral("Провалы и перенапряжения");
}
inline QStringList CharacteristicColumns()
{
    return {QStringLiteral("Характеристика"), QStringLiteral("Худшая фаза, неделя"),
            QStringLiteral("Значение 95 %"), QStringLiteral("Допуск"), QStringLiteral("Заключение")};
}
// "B, с 01.12.2026", "Ku11 B, с 01.12.2026" (the order where a harmonic is
// meant), "неделя с 08.12.2026" for a quantity without phases.
inline QString WorstPlace(const SWorstRow &worst)
{
    const bool bOrder = worst.strQuantity.size() > 2 && worst.strQuantity.startsWith(QLatin1String("Ku"));
    const QString strWhat = bOrder ? QStringLiteral("%1 %2").arg(worst.strQuantity, worst.strPhase).trimmed()
                                   : worst.strPhase;
    const QString strWeek = Date(worst.week);
    return strWhat.isEmpty() ? QStringLiteral("неделя с %1").arg(strWeek)
                             : QStringLiteral("%1, с %2").arg(strWhat, strWeek);
}
// "P95 10.532" or "P05 −12.100".
inline QString WorstValue(const SWorstRow &worst)
{
    return QStringLiteral("%1 %2").arg(worst.bLowSide ? QStringLiteral("P05") : QStringLiteral("P95"),
                                       Number(worst.dValue));
}
inline QString WorstBound(const SWorstRow &worst)
{
    return QStringLiteral("%1 %2").arg(worst.bLowSide ? QStringLiteral("≥") : QStringLiteral("≤"))
        .arg(worst.dBound, 0, 'g', 6);
}
inline QString EventCounts(int nInterruptions, int nDips, int nSwells)
{
    return QStringLiteral("прерываний %1, провалов %2, перенапряжений %3").arg(nInterruptions).arg(nDips).arg(nSwells);
}
inline QString EventsNotLimited() { return QStringLiteral("не нормируются"); }
inline QString Counted() { return QStringLiteral("подсчитаны"); }
inline QString NotJudged() { return QStringLiteral("не оценивается"); }
inline QString NotShownPerMinute() { return QStringLiteral("журналы «Минута» их не показывают"); }
inline QString NotJudgedByChoice() { return QStringLiteral("не оценивается по выбору"); }
inline QString OffByChoice(const QStringList &quantities)
{
    return QStringLiteral("Не оцениваются по выбору (нет предела в файле пределов): %1.")
        .arg(quantities.join(QStringLiteral(", ")));
}
inline QString LimitsFile(const QString &strPath, bool bStandard)
{
    if (!strPath.isEmpty())
        return QStringLiteral("Пределы: файл %1.").arg(strPath);
    return bStandard ? QStringLiteral("Пределы: EN 50160 (файл пределов не задан).")
                     : QStringLiteral("Пределы: заданные (файл пределов не назван).");
}
inline QString DifferingMark() { return QStringLiteral("*"); }
inline QString DifferingBands(const QStringList &bands)
{
    return QStringLiteral("* Пределы, отличные от EN 50160: %1.").arg(bands.join(QStringLiteral("; ")));
}
inline QString DifferingBand(const QString &strKey, const QString &strGiven, const QString &strStandard)
{
    return QStringLiteral("%1 %2 (EN 50160: %3)").arg(strKey, strGiven, strStandard);
}
inline QString NoLimit() { return QStringLiteral("нет"); }

// The full tables' harmonics: one line per order, the six phases side by side.
inline QStringList HarmonicColumns()
{
    return {QStringLiteral("Порядок"), QStringLiteral("Допуск"), QStringLiteral("P95 A"), QStringLiteral("P95 B"),
            QStringLiteral("P95 C"),   QStringLiteral("P95 AB"), QStringLiteral("P95 BC"), QStringLiteral("P95 CA"),
            QStringLiteral("В допуске, % (мин.)"), QStringLiteral("Заключение (худшее)")};
}

inline QString Events() { return QStringLiteral("События"); }
inline QString NoEvents() { return QStringLiteral("Прерываний, провалов и перенапряжений не найдено."); }
inline QStringList EventColumns()
{
    return {QStringLiteral("Начало"), QStringLiteral("Длительность"), QStringLiteral("Событие"),
            QStringLiteral("Фазы"), QStringLiteral("Крайнее dU, %")};
}
inline QString EventKind(ESupplyEventKind kind)
{
    switch (kind) {
    case ESupplyEventKind::Interruption:
        return QStringLiteral("прерывание");
    case ESupplyEventKind::Dip:
        return QStringLiteral("провал");
    case ESupplyEventKind::Swell:
        break;
    }
    return QStringLiteral("перенапряжение");
}
inline QString EventsLeftOut(qsizetype nLeft) { return QStringLiteral("… и ещё событий: %1").arg(nLeft); }
inline QString DipTable() { return QStringLiteral("Провалы по таблице EN 50160 (остаточное напряжение и длительность)"); }
inline QStringList DipDurations()
{
    return {QStringLiteral("10 … 200 мс"), QStringLiteral("200 … 500 мс"), QStringLiteral("0.5 … 1 с"),
            QStringLiteral("1 … 5 с"), QStringLiteral("5 … 60 с")};
}
inline QStringList DipResiduals()
{
    return {QStringLiteral("90 > u ≥ 80 %"), QStringLiteral("80 > u ≥ 70 %"), QStringLiteral("70 > u ≥ 40 %"),
            QStringLiteral("40 > u ≥ 5 %"), QStringLiteral("5 % > u")};
}
inline QString SwellTable() { return QStringLiteral("Перенапряжения по таблице EN 50160"); }
inline QStringList SwellBands() { return {QStringLiteral("u ≥ 120 %"), QStringLiteral("120 > u > 110 %")}; }
inline QString DipTableNote(EDataSet set)
{
    return set == EDataSet::Second
               ? QStringLiteral("Показания раз в секунду не различают провалы и перенапряжения короче секунды: "
                                "заполнены только столбцы, которые они могут показать, остальные пусты (—).")
               : QStringLiteral("Показания раз в минуту не показывают провалов и перенапряжений: таблицы пусты (—).");
}

inline QString Sources() { return QStringLiteral("Исходные данные"); }
inline QString LogsRead() { return QStringLiteral("Прочитаны журналы:"); }

inline QString WriteFailed(const QString &strPath, const QString &strReason)
{
    return QStringLiteral("Не удалось записать отчёт в %1: %2").arg(strPath, strReason);
}

} // namespace ReportText
