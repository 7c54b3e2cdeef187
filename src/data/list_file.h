// The two text formats the program writes, in Windows-1251 without a BOM.
#pragma once

#include "data/list_rows.h"

#include <QByteArray>

// A saved list: for every row, name, tab, value, line feed.
QByteArray ListFileBytes(const CListRows &rows);

// One record of continuous reading: the values of rows 0 to 6 of the
// per-second list, each followed by a tab, then two line feeds.
QByteArray RecordBytes(const CListRows &secondRows);

// Windows-1251 at the file and wire boundaries.
QByteArray ToCp1251(const QString &strText);
QString FromCp1251(const QByteArray &bytes);
