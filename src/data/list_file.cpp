#include "data/list_file.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace {

constexpr int RECORD_ROW_COUNT = 7; // the blank top row and the six dU rows

} // namespace

QByteArray ListFileBytes(const CListRows &rows)
{
    QString strText;
    for (const SListRow &row : rows)
        strText += row.strName + QLatin1Char('\t') + row.strValue + QLatin1Char('\n');
    return ToCp1251(strText);
}

QByteArray RecordBytes(const CListRows &secondRows)
{
    // A list shorter than seven rows still gives seven tabs: a missing row
    // counts as an empty value.
    QString strText;
    for (int i = 0; i < RECORD_ROW_COUNT; ++i) {
        if (std::size_t(i) < secondRows.size())
            strText += secondRows[std::size_t(i)].strValue;
        strText += QLatin1Char('\t');
    }
    strText += QLatin1String("\n\n");
    return ToCp1251(strText);
}

QByteArray ToCp1251(const QString &strText)
{
    QStringEncoder encoder("windows-1251");
    return encoder.encode(strText);
}

QString FromCp1251(const QByteArray &bytes)
{
    QStringDecoder decoder("windows-1251");
    return decoder.decode(bytes);
}
