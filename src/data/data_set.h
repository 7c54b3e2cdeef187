// The three data sets a meter gives: how many bytes its reply carries, the
// list it fills and how, and its exact values. Which command reads each is
// the session's: data knows no frames.
#pragma once

#include "data/list_rows.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

enum class EDataSet { Second, Minute, Day };

struct SDataSet {
    int nSize; // data bytes of a full reply
    CListRows (*pRows)();
    bool (*pDecode)(const std::uint8_t *, std::size_t, CListRows &);
    // The exact texts of the named rows, in list order (decoders.h).
    bool (*pExactValues)(const std::uint8_t *, std::size_t, std::vector<QByteArray> &);
};

const SDataSet &DataSetOf(EDataSet set);
// "second", "minute" or "day": the set in folder names and topics.
const char *DataSetName(EDataSet set);
// "Секунда", "Минута" or "Сутки": the list of a set as the window heads it,
// and as the texts of files and reports name it.
QString DataSetListName(EDataSet set);
