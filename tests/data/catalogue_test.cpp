#include "data/catalogue.h"

#include <gtest/gtest.h>

#include <QSet>
#include <set>

namespace {

const CListRows &Second()
{
    static const CListRows rows = SecondListRows();
    return rows;
}

const CListRows &Minute()
{
    static const CListRows rows = MinuteListRows();
    return rows;
}

const CListRows &Day()
{
    static const CListRows rows = DayListRows();
    return rows;
}

std::set<int> BlankPositions(const CListRows &rows)
{
    std::set<int> blanks;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].strName.isEmpty())
            blanks.insert(int(i));
    return blanks;
}

TEST(Catalogue, ListsHaveTheirRowCountsAndNoValuesYet)
{
    const struct {
        const CListRows &rows;
        std::size_t nCount;
        const char *pLastName;
    } cases[] = {
        {Second(), 271, "UCA"},
        {Minute(), 261, "dF"},
        {Day(), 1335, "dT Idle - интервал"},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(c.rows.size(), c.nCount);
        EXPECT_EQ(c.rows.back().strName, QString::fromUtf8(c.pLastName));
        for (const SListRow &row : c.rows)
            EXPECT_TRUE(row.strValue.isEmpty()) << row.strName.toStdString();
    }
}

TEST(Catalogue, NamesAtTheirPositions)
{
    const struct {
        const CListRows &rows;
        int nPosition;
        const char *pName;
    } cases[] = {
        {Second(), 0, ""},
        {Second(), 1, "dUA"},
        {Second(), 6, "dUCA"},
        {Second(), 8, "Ku2A"},
        {Second(), 15, "Ku9A"},
        {Second(), 16, "Ku10A"},
        {Second(), 46, "Ku40A"},
        {Second(), 56, "Ku10B"},
        {Second(), 128, "Ku2AB"},
        {Second(), 208, "Ku2CA"},
        {Second(), 246, "Ku40CA"},
        {Second(), 248, "KuA"},
        {Second(), 253, "KuCA"},
        {Second(), 255, "K0"},
        {Second(), 256, "K2"},
        {Second(), 258, "U0"},
        {Second(), 259, "U1"},
        {Second(), 260, "U2"},
        {Second(), 262, "F"},
        {Second(), 263, "dF"},
        {Second(), 265, "UA"},
        {Second(), 268, "UAB"},
        {Minute(), 56, "Ku10B"},
        {Minute(), 256, "K2"},
        {Minute(), 258, "dU1"},
        {Minute(), 260, "dF"},
        {Day(), 1, "dU A max - сутки"},
        {Day(), 4, "dU A niz - сутки"},
        {Day(), 6, "dU A T2 - сутки"},
        {Day(), 8, "dU A max - интервал"},
        {Day(), 13, "dU A T2 - интервал"},
        {Day(), 15, "dU B max - сутки"},
        {Day(), 71, "dU CA max - сутки"},
        {Day(), 83, "dU CA T2 - интервал"},
        {Day(), 85, "dF max"},
        {Day(), 88, "dF niz"},
        {Day(), 90, "dF T2"},
        {Day(), 92, "Ku2 A max"},
        {Day(), 93, "Ku2 A verh"},
        {Day(), 95, "Ku2 A T2"},
        {Day(), 97, "Ku3 A max"},
        {Day(), 327, "Ku10 B max"},
        {Day(), 1257, "Ku40 CA max"},
        {Day(), 1260, "Ku40 CA T2"},
        {Day(), 1262, "KUA max"},
        {Day(), 1265, "KUA T2"},
        {Day(), 1287, "KUCA max"},
        {Day(), 1292, "K0U max"},
        {Day(), 1297, "K2U max"},
        {Day(), 1300, "K2U T2"},
        {Day(), 1302, "dT Tprov A - сутки"},
        {Day(), 1305, "dT Tprov AB - сутки"},
        {Day(), 1309, "dT Tprov A - интервал"},
        {Day(), 1312, "dT Tprov AB - интервал"},
        {Day(), 1316, "dT Tper A - сутки"},
        {Day(), 1328, "dT Tper CA - интервал"},
        {Day(), 1330, "dT Work - сутки"},
        {Day(), 1331, "dT Work - интервал"},
        {Day(), 1333, "dT Idle - сутки"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.rows.at(std::size_t(c.nPosition)).strName, QString::fromUtf8(c.pName))
            << "position " << c.nPosition;
}

TEST(Catalogue, BlankRowsSeparateTheGroups)
{
    EXPECT_EQ(BlankPositions(Second()),
              (std::set<int>{0, 7, 47, 87, 127, 167, 207, 247, 254, 257, 261, 264}));
    EXPECT_EQ(BlankPositions(Minute()),
              (std::set<int>{0, 7, 47, 87, 127, 167, 207, 247, 254, 257, 259}));

    const std::set<int> dayBlanks = BlankPositions(Day());
    EXPECT_EQ(dayBlanks.size(), 261u);
    for (int nPosition : {0, 7, 14, 84, 91, 96, 1261, 1266, 1291, 1296, 1301, 1308, 1315, 1322,
                          1329, 1332})
        EXPECT_EQ(dayBlanks.count(nPosition), 1u) << "position " << nPosition;
}

TEST(Catalogue, MinuteListBeginsLikeTheSecondList)
{
    for (std::size_t i = 0; i <= 256; ++i)
        EXPECT_EQ(Minute()[i].strName, Second()[i].strName) << "position " << i;
}

TEST(Catalogue, NoNameRepeatsWithinAList)
{
    for (const CListRows *pRows : {&Second(), &Minute(), &Day()}) {
        QSet<QString> names;
        for (const SListRow &row : *pRows) {
            if (row.strName.isEmpty())
                continue;
            EXPECT_FALSE(names.contains(row.strName)) << row.strName.toStdString();
            names.insert(row.strName);
        }
    }
}

} // namespace
