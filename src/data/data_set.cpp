#include "data/data_set.h"

#include "data/catalogue.h"
#include "data/decoders.h"

const SDataSet &DataSetOf(EDataSet set)
{
    static const SDataSet second{SECOND_DATA_SIZE, SecondListRows, DecodeSecond, SecondExactValues};
    static const SDataSet minute{MINUTE_DATA_SIZE, MinuteListRows, DecodeMinute, MinuteExactValues};
    static const SDataSet day{DAY_DATA_SIZE, DayListRows, DecodeDay, DayExactValues};
    switch (set) {
    case EDataSet::Minute:
        return minute;
    case EDataSet::Day:
        return day;
    case EDataSet::Second:
        break;
    }
    return second;
}

const char *DataSetName(EDataSet set)
{
    switch (set) {
    case EDataSet::Minute:
        return "minute";
    case EDataSet::Day:
        return "day";
    case EDataSet::Second:
        break;
    }
    return "second";
}

QString DataSetListName(EDataSet set)
{
    switch (set) {
    case EDataSet::Minute:
        return QStringLiteral("Минута");
    case EDataSet::Day:
        return QStringLiteral("Сутки");
    case EDataSet::Second:
        break;
    }
    return QStringLiteral("Секунда");
}
