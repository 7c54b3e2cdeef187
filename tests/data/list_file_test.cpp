#include "data/catalogue.h"
#include "data/list_file.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

CListRows Rows(std::initializer_list<std::pair<const char *, const char *>> pairs)
{
    CListRows rows;
    for (const auto &[pName, pValue] : pairs)
        rows.push_back(SListRow{QString::fromUtf8(pName), QString::fromUtf8(pValue)});
    return rows;
}

TEST(ListFile, OneLinePerRowNameTabValue)
{
    EXPECT_EQ(ListFileBytes(Rows({{"x", "1"}, {"y", "2"}, {"z", "3"}})),
              QByteArray("x\t1\ny\t2\nz\t3\n"));
    EXPECT_EQ(ListFileBytes(CListRows()), QByteArray());
    EXPECT_EQ(ListFileBytes(Rows({{"", ""}, {"K0", "1.25"}})), QByteArray("\t\nK0\t1.25\n"));
}

TEST(ListFile, CyrillicIsWrittenInWindows1251)
{
    // "сутки" is F1 F3 F2 EA E8 and "Отчёт" CE F2 F7 B8 F2 in Windows-1251.
    EXPECT_EQ(ListFileBytes(Rows({{"dT Tprov A - сутки", "Отчёт"}})),
              QByteArray("dT Tprov A - \xF1\xF3\xF2\xEA\xE8\t\xCE\xF2\xF7\xB8\xF2\n"));
}

TEST(ListFile, UnreadDayListGivesNamesAndEmptyValues)
{
    const CListRows rows = DayListRows();
    const QByteArray bytes = ListFileBytes(rows);

    EXPECT_TRUE(bytes.startsWith("\t\ndU A max - \xF1\xF3\xF2\xEA\xE8\t\n"));
    EXPECT_TRUE(bytes.endsWith("\t\ndT Idle - \xE8\xED\xF2\xE5\xF0\xE2\xE0\xEB\t\n"));
    EXPECT_EQ(bytes.count('\n'), qsizetype(rows.size()));
    EXPECT_EQ(bytes.count('\t'), qsizetype(rows.size()));
    EXPECT_FALSE(bytes.contains('\r'));
    EXPECT_EQ(bytes.count("\n\t\n"), 261 - 1); // every blank row but the first
    EXPECT_EQ(FromCp1251(bytes).split(QLatin1Char('\n')).at(1),
              QStringLiteral("dU A max - сутки\t"));
}

TEST(ListFile, CodePageRoundTrip)
{
    const QString strText = QStringLiteral("Связь Порт Скорость Ёё №");
    const QByteArray bytes = ToCp1251(strText);
    EXPECT_EQ(bytes.size(), strText.size()); // one byte a character, no BOM
    EXPECT_EQ(FromCp1251(bytes), strText);
}

TEST(RecordFile, SevenValuesEachWithATabThenTwoLineFeeds)
{
    CListRows rows = SecondListRows();
    const char *values[] = {"1.25", "-0.50", "0.00", "2.10", "3.00", "0.75"};
    for (int i = 0; i < 6; ++i)
        rows[std::size_t(i) + 1].strValue = QLatin1String(values[i]);
    rows[7].strValue = QStringLiteral("not recorded");
    rows[8].strValue = QStringLiteral("9.99");

    EXPECT_EQ(RecordBytes(rows), QByteArray("\t1.25\t-0.50\t0.00\t2.10\t3.00\t0.75\t\n\n"));
    EXPECT_EQ(RecordBytes(SecondListRows()), QByteArray("\t\t\t\t\t\t\t\n\n"));
}

} // namespace
