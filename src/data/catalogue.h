// The fixed rows of the three lists, blank separators in place.
#pragma once

#include "data/list_rows.h"

inline constexpr int SECOND_ROW_COUNT = 271;
inline constexpr int MINUTE_ROW_COUNT = 261;
inline constexpr int DAY_ROW_COUNT = 1335;

CListRows SecondListRows(); // "Секунда"
CListRows MinuteListRows(); // "Минута"
CListRows DayListRows();    // "Сутки"
