// The limits file's format: the table as UTF-8 lines and back.
#pragma once

#include "data/supply_limits.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// What reading a limits file gave: the table (defaults for everything the
// file does not set or sets in a way that cannot be read) and one message
// per problem, in line order, each naming the file and the line
// ("Файл пределов limits.txt, строка 7: ...").
struct SLimitsRead {
    CLimits limits;
    QStringList problems;
};

// The file is UTF-8 text; its format is documented at the top of the file
// LimitsFileBytes writes. Reading never fails as a whole: a line that cannot
// be read is reported and skipped, and the quantity it names (if any) keeps
// its default; a quantity set twice takes its default.
SLimitsRead ParseLimits(const QByteArray &utf8, const QString &strFileName);
QByteArray LimitsFileBytes(const CLimits &limits);
