#include "data/csv_log.h"

#include "data/catalogue.h"
#include "data/data_set.h"
#include "data/decoders.h"
#include "data/value_text.h"
#include "sim/meter_sim.h"
#include "sim/meter_values.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QSet>

#include <cstdint>
#include <limits>
#include <vector>

namespace {

using CBytes = std::vector<std::uint8_t>;

void PutLe32(CBytes &data, std::size_t nOffset, std::int32_t n)
{
    for (int i = 0; i < 4; ++i)
        data.at(nOffset + std::size_t(i)) = std::uint8_t(std::uint32_t(n) >> (8 * i));
}

void PutLe16(CBytes &data, std::size_t nOffset, std::int16_t n)
{
    data.at(nOffset) = std::uint8_t(std::uint16_t(n));
    data.at(nOffset + 1) = std::uint8_t(std::uint16_t(n) >> 8);
}

// n copies of the text.
QByteArray Times(int n, const char *pText)
{
    QByteArray text;
    for (int i = 0; i < n; ++i)
        text += pText;
    return text;
}

const std::uint8_t *Bytes(const QByteArray &data)
{
    return reinterpret_cast<const std::uint8_t *>(data.constData());
}

// The list's two decimals worked out from the three: halves away from zero,
// as the list rounds them, the sign kept on a value that rounds to zero.
QString RoundedToTwo(const QByteArray &milliText)
{
    const bool bNegative = milliText.startsWith('-');
    const QByteArray digits = milliText.mid(bNegative ? 1 : 0).replace('.', "");
    const qint64 nHundredths = (digits.toLongLong() + 5) / 10;
    return QString::asprintf("%s%lld.%02lld", bNegative ? "-" : "", nHundredths / 100, nHundredths % 100);
}

qint64 Msecs(const char *pUtc)
{
    return QDateTime::fromString(QString::fromLatin1(pUtc), Qt::ISODateWithMs).toMSecsSinceEpoch();
}

TEST(CsvLog, ExactMilliHasThreeDecimalsAndADot)
{
    const struct {
        std::int32_t nRaw;
        const char *pText;
    } cases[] = {
        {0, "0.000"},
        {5, "0.005"},
        {-5, "-0.005"},
        {-1234, "-1.234"},
        {230000, "230.000"},
        {49999, "49.999"},
        {-1000, "-1.000"},
        {1000001, "1000.001"},
        {std::numeric_limits<std::int32_t>::max(), "2147483.647"},
        {std::numeric_limits<std::int32_t>::min(), "-2147483.648"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ExactMilli(c.nRaw), QByteArray(c.pText)) << "raw " << c.nRaw;
}

// Within the range of measured values the three decimals round to what the
// list shows, rounding boundaries and the sign of small values included.
TEST(CsvLog, ExactMilliAgreesWithTheListToTwoDecimals)
{
    auto check = [](std::int32_t nRaw) {
        EXPECT_EQ(RoundedToTwo(ExactMilli(nRaw)), FormatMilli(nRaw)) << "raw " << nRaw;
    };
    for (std::int32_t nRaw = -2000; nRaw <= 2000; ++nRaw)
        check(nRaw);
    for (std::int32_t nRaw = -10'000'000; nRaw <= 10'000'000; nRaw += 997)
        check(nRaw);
}

TEST(CsvLog, TimeIsLocalWithItsOffset)
{
    const struct {
        const char *pUtc;
        int nOffset;
        const char *pText;
    } cases[] = {
        {"2026-12-10T11:03:07.000Z", 3 * 3600, "2026-12-10T14:03:07+03:00"},
        {"2026-12-10T14:03:07.999Z", 0, "2026-12-10T14:03:07+00:00"},
        {"2026-12-10T14:03:07.000Z", -(3 * 3600 + 1800), "2026-12-10T10:33:07-03:30"},
        {"2026-12-10T00:00:00.000Z", 5 * 3600 + 45 * 60, "2026-12-10T05:45:00+05:45"},
        {"2026-12-31T23:30:00.000Z", 3600, "2027-01-01T00:30:00+01:00"},
        {"2028-03-01T02:00:00.000Z", -4 * 3600, "2028-02-29T22:00:00-04:00"},
        {"1969-12-31T23:59:59.500Z", 0, "1969-12-31T23:59:59+00:00"},
        {"2026-01-01T00:00:00.000Z", 14 * 3600, "2026-01-01T14:00:00+14:00"},
        {"1880-06-01T12:00:00.000Z", 2 * 3600 + 30 * 60 + 17, "1880-06-01T14:30:17+02:30:17"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CsvTime(Msecs(c.pUtc), c.nOffset), QByteArray(c.pText)) << c.pUtc << " " << c.nOffset;
}

TEST(CsvLog, HeaderNamesEveryValueOfTheSecondListInListOrder)
{
    QByteArray expected("time");
    int nValues = 0;
    for (const SListRow &row : SecondListRows()) {
        if (!row.strName.isEmpty()) {
            expected += ',' + row.strName.toUtf8();
            ++nValues;
        }
    }
    expected += '\n';
    EXPECT_EQ(nValues, 259);
    const QByteArray header = CsvHeader(EDataSet::Second);
    EXPECT_EQ(header, expected);
    EXPECT_EQ(CsvHeader(), header);
    EXPECT_TRUE(header.startsWith("time,dUA,dUB,dUC,dUAB,dUBC,dUCA,Ku2A,Ku3A,"));
    EXPECT_TRUE(header.endsWith(",KuCA,K0,K2,U0,U1,U2,F,dF,UA,UB,UC,UAB,UBC,UCA\n"));
}

// A reply of zeros with a value in the first field and small numbers in the
// tail, where the reply's order (U1, F, UA ... UCA, U0, U2, dF) is not the
// list's (U0, U1, U2, F, dF, UA ... UCA).
TEST(CsvLog, RowOfASmallReplyByteForByte)
{
    CBytes data(SECOND_DATA_SIZE, 0);
    PutLe32(data, 0, -1234); // dUA
    const std::size_t tail[] = {992, 996, 1000, 1004, 1008, 1012, 1016, 1020, 1024, 1028, 1032};
    for (std::size_t i = 0; i < std::size(tail); ++i)
        PutLe32(data, tail[i], std::int32_t(i + 1));
    PutLe32(data, 1020, std::numeric_limits<std::int32_t>::min()); // UCA

    std::vector<std::int32_t> raw;
    ASSERT_TRUE(SecondRawValues(data.data(), data.size(), raw));
    QByteArray expected("2026-12-10T14:03:07+03:00,-1.234");
    for (int i = 0; i < 247; ++i)
        expected += ",0.000";
    expected += ",0.009,0.001,0.010,0.002,0.011,0.003,0.004,0.005,0.006,0.007,-2147483.648\n";
    EXPECT_EQ(CsvRow(Msecs("2026-12-10T11:03:07.250Z"), 3 * 3600, raw), expected);
    std::vector<QByteArray> values;
    ASSERT_TRUE(SecondExactValues(data.data(), data.size(), values));
    EXPECT_EQ(CsvRow(Msecs("2026-12-10T11:03:07.250Z"), 3 * 3600, values), expected);
}

// Every set's header: its named rows in list order, and names a CSV reader
// takes as they are (no comma, quote or line end, so no quoting), each once.
TEST(CsvLog, HeaderOfEachSetNamesItsRowsPlainly)
{
    const struct {
        EDataSet eSet;
        int nValues;
        const char *pStart;
        const char *pEnd;
    } cases[] = {
        {EDataSet::Second, 259, "time,dUA,dUB,", ",UBC,UCA\n"},
        {EDataSet::Minute, 250, "time,dUA,dUB,dUC,dUAB,dUBC,dUCA,Ku2A,", ",KuCA,K0,K2,dU1,dF\n"},
        {EDataSet::Day, 1074, "time,dU A max - сутки,dU A min - сутки,",
         ",dT Work - сутки,dT Work - интервал,dT Idle - сутки,dT Idle - интервал\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(int(c.eSet));
        const QByteArray header = CsvHeader(c.eSet);
        QByteArray expected("time");
        for (const SListRow &row : DataSetOf(c.eSet).pRows()) {
            if (!row.strName.isEmpty())
                expected += ',' + row.strName.toUtf8();
        }
        EXPECT_EQ(header, expected + '\n');
        EXPECT_TRUE(header.startsWith(c.pStart));
        EXPECT_TRUE(header.endsWith(c.pEnd));
        const QList<QByteArray> names = header.chopped(1).split(',');
        EXPECT_EQ(names.size(), 1 + c.nValues);
        EXPECT_EQ(QSet<QByteArray>(names.begin(), names.end()).size(), names.size());
        for (const QByteArray &name : names) {
            EXPECT_FALSE(name.isEmpty());
            EXPECT_FALSE(name.contains('"') || name.contains('\n') || name.contains('\r')) << name.constData();
            EXPECT_EQ(name, name.trimmed()) << name.constData();
        }
    }
}

// A minute reply of zeros but for a few fields, and its row worked out by
// hand: hundredths with two decimals, negative ones and INT16_MIN included.
TEST(CsvLog, RowOfAKnownMinuteReply)
{
    CBytes data(MINUTE_DATA_SIZE, 0);
    PutLe16(data, 0, -5);       // dUA
    PutLe16(data, 12, 1234);    // Ku2A
    PutLe16(data, 90 + 76, 7);  // Ku40B
    PutLe16(data, 490, -32768); // KuCA
    PutLe16(data, 496, 32767);  // dU1
    PutLe16(data, 498, -100);   // dF

    std::vector<QByteArray> values;
    ASSERT_TRUE(MinuteExactValues(data.data(), data.size(), values));
    const QByteArray expected = "2026-12-10T14:03:07+03:00"
                                ",-0.05" + Times(5, ",0.00")   // dUA ... dUCA
                                + ",12.34" + Times(38, ",0.00") // Ku2A ... Ku40A
                                + Times(38, ",0.00") + ",0.07" // Ku2B ... Ku40B
                                + Times(4 * 39, ",0.00")        // C, AB, BC, CA
                                + Times(5, ",0.00") + ",-327.68" // KuA ... KuCA
                                + ",0.00,0.00"                  // K0, K2
                                + ",327.67,-1.00\n";            // dU1, dF
    EXPECT_EQ(CsvRow(Msecs("2026-12-10T11:03:07.000Z"), 3 * 3600, values), expected);
}

// A day reply of zeros but for a few fields of every kind, and its row
// worked out by hand: Tprov and Tper as exact fiftieths, times as seconds.
TEST(CsvLog, RowOfAKnownDayReply)
{
    CBytes data(DAY_DATA_SIZE, 0);
    PutLe16(data, 2, -1);        // dU A min - сутки
    PutLe16(data, 144, 250);     // dF max
    PutLe16(data, 2086, -32768); // K2U verh
    PutLe32(data, 2092, 125);    // dT Tprov A - сутки: 2.5
    PutLe32(data, 2136, -1);     // dT Tprov CA - интервал: 4294967295 / 50
    PutLe32(data, 2140, 49);     // dT Tper A - сутки: 0.98
    PutLe32(data, 2188, 3661);   // dT Work - сутки
    PutLe32(data, 2200, -1);     // dT Idle - интервал: 4294967295 s

    std::vector<QByteArray> values;
    ASSERT_TRUE(DayExactValues(data.data(), data.size(), values));
    const QByteArray expected = "2026-12-10T14:03:07+03:00"
                                ",0.00,-0.01" + Times(10, ",0.00")  // dU A, day and interval
                                + Times(5 * 12, ",0.00")           // dU B ... dU CA
                                + ",2.50" + Times(5, ",0.00")      // dF
                                + Times(6 * 39 * 4, ",0.00")       // harmonics
                                + Times(6 * 4, ",0.00")            // KU
                                + Times(4, ",0.00")                // K0U
                                + ",0.00,-327.68,0.00,0.00"        // K2U
                                + ",2.50" + Times(5, ",0.00")      // Tprov, day
                                + Times(5, ",0.00") + ",85899345.90" // Tprov, interval
                                + ",0.98" + Times(5, ",0.00")      // Tper, day
                                + Times(6, ",0.00")                // Tper, interval
                                + ",3661,0,0,4294967295\n";        // work, idle
    EXPECT_EQ(CsvRow(Msecs("2026-12-10T11:03:07.000Z"), 3 * 3600, values), expected);
}

TEST(CsvLog, ShortReplyGivesNoValues)
{
    const CBytes data(SECOND_DATA_SIZE, 0);
    std::vector<std::int32_t> raw{42};
    EXPECT_FALSE(SecondRawValues(data.data(), data.size() - 1, raw));
    EXPECT_FALSE(SecondRawValues(nullptr, SECOND_DATA_SIZE, raw));
    EXPECT_EQ(raw, std::vector<std::int32_t>{42});
}

// The simulator's replies: each value of the row, rounded to two decimals, is
// what the list shows in the row of the same name.
TEST(CsvLog, RowValuesFollowTheListsRows)
{
    for (const double t : {0.0, 1234.0, 86399.0}) {
        SCOPED_TRACE(t);
        const QByteArray data = SimSecondData(t);
        CListRows rows = SecondListRows();
        ASSERT_TRUE(DecodeSecond(Bytes(data), std::size_t(data.size()), rows));
        std::vector<std::int32_t> raw;
        ASSERT_TRUE(SecondRawValues(Bytes(data), std::size_t(data.size()), raw));

        std::vector<QByteArray> exact;
        ASSERT_TRUE(SecondExactValues(Bytes(data), std::size_t(data.size()), exact));
        EXPECT_EQ(CsvRow(0, 0, exact), CsvRow(0, 0, raw));

        const QList<QByteArray> names = CsvHeader().chopped(1).split(',');
        const QList<QByteArray> values = CsvRow(0, 0, raw).chopped(1).split(',');
        ASSERT_EQ(names.size(), 260);
        ASSERT_EQ(values.size(), 260);
        int nColumn = 1;
        for (const SListRow &row : rows) {
            if (row.strName.isEmpty())
                continue;
            EXPECT_EQ(QString::fromUtf8(names[nColumn]), row.strName);
            EXPECT_EQ(RoundedToTwo(values[nColumn]), row.strValue) << row.strName.toStdString();
            ++nColumn;
        }
    }
}

} // namespace
