// The three data sets a meter gives: which command reads each, how many
// bytes its reply carries, the list it fills and how.
#pragma once

#include "data/list_rows.h"

#include <QtGlobal>

#include <cstddef>
#include <cstdint>

enum class EDataSet { Second, Minute, Day };

struct SDataSet {
    quint8 nCommand;
    int nSize; // data bytes of a full reply
    CListRows (*pRows)();
    bool (*pDecode)(const std::uint8_t *, std::size_t, CListRows &);
};

const SDataSet &DataSetOf(EDataSet set);
