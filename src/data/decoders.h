// The meter's three data replies into column 1 ("Значение") of their lists.
// Little-endian on any host. A buffer shorter than the data set, or a row
// list of the wrong size, changes nothing and returns false. Blank rows are
// never written.
#pragma once

#include "data/list_rows.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr int SECOND_DATA_SIZE = 1036;
inline constexpr int MINUTE_DATA_SIZE = 500;
inline constexpr int DAY_DATA_SIZE = 2204;

bool DecodeSecond(const std::uint8_t *pData, std::size_t nSize, CListRows &rows);
bool DecodeMinute(const std::uint8_t *pData, std::size_t nSize, CListRows &rows);
bool DecodeDay(const std::uint8_t *pData, std::size_t nSize, CListRows &rows);

// The exact value texts of a reply (value_text.h: ExactMilli and the
// others, by the field's kind), one per named row in list order; false (out
// unchanged) for a buffer shorter than the data set. The lists' own texts
// stay as DecodeSecond and the others write them.
bool SecondExactValues(const std::uint8_t *pData, std::size_t nSize, std::vector<QByteArray> &out);
bool MinuteExactValues(const std::uint8_t *pData, std::size_t nSize, std::vector<QByteArray> &out);
bool DayExactValues(const std::uint8_t *pData, std::size_t nSize, std::vector<QByteArray> &out);

// The per-second reply's signed 32-bit values as the meter sent them, each
// with the row it fills, in row order (the reply's own order differs at its
// tail); false (out unchanged) for a buffer shorter than the data set.
struct SRawValue {
    int nRow;
    std::int32_t nRaw;
};
bool SecondRawFields(const std::uint8_t *pData, std::size_t nSize, std::vector<SRawValue> &out);
// The same values alone, in list order (259 of them).
bool SecondRawValues(const std::uint8_t *pData, std::size_t nSize, std::vector<std::int32_t> &out);
