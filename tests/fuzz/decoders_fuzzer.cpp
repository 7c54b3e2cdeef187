// The data layer on arbitrary bytes: the three reply decoders, the value
// texts, and the list and record file writers. The first byte picks what is
// exercised; the rest is the input. Every check below is a promise the code
// makes, so a failed one aborts like a crash.
#include "data/catalogue.h"
#include "data/decoders.h"
#include "data/value_text.h"
#include "data/list_file.h"

#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Require(bool bHolds, const char *pWhat)
{
    if (!bHolds) {
        std::fprintf(stderr, "property broken: %s\n", pWhat);
        std::abort();
    }
}

using FDecode = bool (*)(const std::uint8_t *, std::size_t, CListRows &);
using FRows = CListRows (*)();

struct SList {
    FDecode decode;
    FRows makeRows;
    std::size_t nDataSize;
};

const SList LISTS[] = {
    {DecodeSecond, SecondListRows, SECOND_DATA_SIZE},
    {DecodeMinute, MinuteListRows, MINUTE_DATA_SIZE},
    {DecodeDay, DayListRows, DAY_DATA_SIZE},
};

// The catalogue is fixed, so each list is made once.
const CListRows &EmptyRows(const SList &list)
{
    static const CListRows rows[] = {LISTS[0].makeRows(), LISTS[1].makeRows(), LISTS[2].makeRows()};
    return rows[&list - LISTS];
}

const QString OLD = QStringLiteral("old");

// Every row names itself in the file: "name<TAB>value<LF>", one line a row,
// one byte a character, and the text comes back unchanged from its
// Windows-1251 bytes (the names are Cyrillic and Latin).
void CheckListFile(const CListRows &rows)
{
    const QByteArray bytes = ListFileBytes(rows);
    Require(bytes.count('\n') == qsizetype(rows.size()), "one line feed per row");
    QString strExpected;
    for (const SListRow &row : rows)
        strExpected += row.strName + QLatin1Char('\t') + row.strValue + QLatin1Char('\n');
    Require(bytes.size() == strExpected.size(), "one byte per character");
    Require(FromCp1251(bytes) == strExpected, "rows are name, tab, value, line feed, and round-trip");
}

// A decoder gets a list whose values all read "old". It must accept exactly
// the buffers that hold its data set, never touch names, blank rows or the
// row count, fill every named row when it accepts and change nothing when it
// refuses. Bytes past the data set do not count.
void FuzzDecoder(const SList &list, const std::uint8_t *pData, std::size_t nSize)
{
    CListRows before = EmptyRows(list);
    for (SListRow &row : before)
        row.strValue = OLD;
    CListRows rows = before;
    const bool bOk = list.decode(pData, nSize, rows);
    Require(bOk == (nSize >= list.nDataSize), "accepts exactly the buffers holding a data set");
    Require(rows.size() == before.size(), "row count unchanged");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        Require(rows[i].strName == before[i].strName, "names unchanged");
        if (!bOk || rows[i].strName.isEmpty())
            Require(rows[i].strValue == OLD, "refused decode or blank row leaves the value");
        else
            Require(!rows[i].strValue.isEmpty() && rows[i].strValue != OLD, "named row filled");
    }
    if (!bOk)
        return;

    CListRows exact = before;
    Require(list.decode(pData, list.nDataSize, exact), "data set alone decodes");
    for (std::size_t i = 0; i < rows.size(); ++i)
        Require(exact[i].strValue == rows[i].strValue, "bytes past the data set change nothing");

    // A list of another list's size is refused and left alone.
    for (const SList &other : LISTS) {
        if (&other == &list)
            continue;
        CListRows wrong = EmptyRows(other);
        Require(!list.decode(pData, nSize, wrong), "list of the wrong size refused");
        for (const SListRow &row : wrong)
            Require(row.strValue.isEmpty(), "refused list untouched");
    }

    CheckListFile(rows);
    if (&list == &LISTS[0]) {
        QString strExpected;
        for (std::size_t i = 0; i < 7; ++i)
            strExpected += rows[i].strValue + QLatin1Char('\t');
        strExpected += QLatin1String("\n\n");
        Require(RecordBytes(rows) == ToCp1251(strExpected), "record is rows 0-6, each with a tab, then two line feeds");
    }
}

std::uint32_t Le32(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16
           | std::uint32_t(p[3]) << 24;
}

QString PrintfTwoDecimals(double dValue)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%3.2f", dValue); // this process never leaves the C locale
    return QString::fromLatin1(buf);
}

// The value texts against printf and plain arithmetic, 32 bits at a time.
void FuzzValueTexts(const std::uint8_t *pData, std::size_t nSize)
{
    for (std::size_t i = 0; i + 4 <= nSize; i += 4) {
        const std::uint32_t n = Le32(pData + i);
        Require(FormatMilli(std::int32_t(n)) == PrintfTwoDecimals(double(std::int32_t(n)) * double(0.001f)),
                "milli text is printf's %3.2f of raw * 0.001f");
        Require(FormatCenti(std::int16_t(n)) == PrintfTwoDecimals(double(std::int16_t(n)) * double(0.01f)),
                "centi text is printf's %3.2f of raw * 0.01f");
        Require(FormatFiftieths(n) == QString::number(n / 50u), "fiftieths truncate");

        // hh:mm:ss with at least two hour digits, adding up to the count.
        const QStringList parts = FormatDuration(n).split(QLatin1Char(':'));
        Require(parts.size() == 3 && parts[0].size() >= 2 && parts[1].size() == 2 && parts[2].size() == 2,
                "duration reads hh:mm:ss");
        bool bH = false, bM = false, bS = false;
        const std::uint64_t nHours = parts[0].toULongLong(&bH);
        const unsigned nMinutes = parts[1].toUInt(&bM), nSeconds = parts[2].toUInt(&bS);
        Require(bH && bM && bS && nMinutes < 60 && nSeconds < 60 && nHours * 3600 + nMinutes * 60 + nSeconds == n,
                "duration adds up to the seconds");
    }
}

// Rows made of the input's own bytes, cut at NUL bytes into name, value,
// name... Windows-1251 is one byte a character with all 256 bytes in use,
// so the files must hold exactly the input's bytes.
void FuzzWriters(const std::uint8_t *pData, std::size_t nSize)
{
    const QByteArray input(reinterpret_cast<const char *>(pData), qsizetype(nSize));
    const QString strInput = FromCp1251(input);
    Require(strInput.size() == input.size(), "one character a byte");
    Require(ToCp1251(strInput) == input, "every byte round-trips through windows-1251");

    // Byte 0 is U+0000, so the text splits where the bytes do.
    const QList<QByteArray> pieces = input.split('\0');
    const QStringList texts = strInput.split(QChar(0));
    Require(texts.size() == pieces.size(), "text and bytes split alike");
    CListRows rows;
    QByteArray expectedList;
    for (qsizetype i = 0; i < pieces.size(); i += 2) {
        const bool bValue = i + 1 < pieces.size();
        rows.push_back(SListRow{texts[i], bValue ? texts[i + 1] : QString()});
        expectedList += pieces[i] + '\t' + (bValue ? pieces[i + 1] : QByteArray()) + '\n';
    }
    Require(ListFileBytes(rows) == expectedList, "list file holds the rows' own bytes");

    QByteArray expectedRecord;
    for (qsizetype i = 0; i < 7; ++i)
        expectedRecord += (2 * i + 1 < pieces.size() ? pieces[2 * i + 1] : QByteArray()) + '\t';
    expectedRecord += "\n\n";
    Require(RecordBytes(rows) == expectedRecord, "record: seven values and tabs, missing rows empty");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t nSize)
{
    if (nSize == 0)
        return 0;
    const std::uint8_t nChoice = pData[0] % 5;
    ++pData;
    --nSize;
    switch (nChoice) {
    case 0:
    case 1:
    case 2:
        FuzzDecoder(LISTS[nChoice], pData, nSize);
        break;
    case 3:
        FuzzValueTexts(pData, nSize);
        break;
    case 4:
        FuzzWriters(pData, nSize);
        break;
    }
    return 0;
}
