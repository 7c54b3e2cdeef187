#include "data/data_set.h"

#include "data/catalogue.h"
#include "data/decoders.h"
#include "link/frame.h"

const SDataSet &DataSetOf(EDataSet set)
{
    static const SDataSet second{CMD_READ_SECOND, SECOND_DATA_SIZE, SecondListRows, DecodeSecond,
                                   SecondExactValues};
    static const SDataSet minute{CMD_READ_MINUTE, MINUTE_DATA_SIZE, MinuteListRows, DecodeMinute,
                                   MinuteExactValues};
    static const SDataSet day{CMD_READ_DAY, DAY_DATA_SIZE, DayListRows, DecodeDay, DayExactValues};
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
