// A list as the window shows it: rows of name and value, addressed by
// zero-based position. Blank separator rows have an empty name.
#pragma once

#include <QString>
#include <vector>

struct SListRow {
    QString strName;
    QString strValue;
};

using CListRows = std::vector<SListRow>;
