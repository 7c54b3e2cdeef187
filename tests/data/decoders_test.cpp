#include "data/catalogue.h"
#include "data/decoders.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

namespace {

using CBytes = std::vector<std::uint8_t>;

void PutLe16(CBytes &data, std::size_t nOffset, std::uint16_t n)
{
    data.at(nOffset) = std::uint8_t(n);
    data.at(nOffset + 1) = std::uint8_t(n >> 8);
}

void PutLe32(CBytes &data, std::size_t nOffset, std::uint32_t n)
{
    for (int i = 0; i < 4; ++i)
        data.at(nOffset + std::size_t(i)) = std::uint8_t(n >> (8 * i));
}

// The meter's field for a row, worked out from the row's name alone, so that
// the decoders' tables are checked against the names the operator sees.
struct SExpectedField {
    std::size_t nOffset;
    enum { Milli, Centi, Fiftieths, Duration } eKind;
};

const QString PHASE = QStringLiteral("(A|B|C|AB|BC|CA)");

int IndexOf(const QString &strWord, const char *pWords)
{
    return int(QString::fromLatin1(pWords).split(QLatin1Char(' ')).indexOf(strWord));
}

int Phase(const QString &strPhase)
{
    return IndexOf(strPhase, "A B C AB BC CA");
}

QRegularExpressionMatch Match(const QString &strPattern, const QString &strName)
{
    return QRegularExpression(QLatin1Char('^') + strPattern + QLatin1Char('$')).match(strName);
}

// Second and minute lists share their names; the field widths differ.
std::optional<SExpectedField> SecondOrMinuteField(const QString &strName, bool bSecond)
{
    const std::size_t w = bSecond ? 4 : 2;
    const auto kind = bSecond ? SExpectedField::Milli : SExpectedField::Centi;
    const std::size_t nHarmonics = bSecond ? 24 : 12;
    const std::size_t nKu = bSecond ? 960 : 480;
    QRegularExpressionMatch m;
    if ((m = Match(QStringLiteral("dU") + PHASE, strName)).hasMatch())
        return SExpectedField{w * std::size_t(Phase(m.captured(1))), kind};
    if ((m = Match(QStringLiteral("Ku(\\d+)") + PHASE, strName)).hasMatch())
        return SExpectedField{nHarmonics + 39 * w * std::size_t(Phase(m.captured(2)))
                                  + w * std::size_t(m.captured(1).toInt() - 2),
                              kind};
    if ((m = Match(QStringLiteral("Ku") + PHASE, strName)).hasMatch())
        return SExpectedField{nKu + w * std::size_t(Phase(m.captured(1))), kind};
    if (bSecond && (m = Match(QStringLiteral("U") + PHASE, strName)).hasMatch())
        return SExpectedField{1000 + w * std::size_t(Phase(m.captured(1))), kind};
    const struct {
        const char *pName;
        std::size_t nSecond;
        std::size_t nMinute; // 0: not in the minute list
    } singles[] = {
        {"K0", 984, 492}, {"K2", 988, 494}, {"U1", 992, 0},  {"F", 996, 0},
        {"U0", 1024, 0},  {"U2", 1028, 0},  {"dF", 1032, 498}, {"dU1", 0, 496},
    };
    for (const auto &s : singles) {
        const std::size_t nOffset = bSecond ? s.nSecond : s.nMinute;
        if (strName == QLatin1String(s.pName) && nOffset != 0)
            return SExpectedField{nOffset, kind};
    }
    return std::nullopt;
}

std::optional<SExpectedField> DayField(const QString &strName)
{
    const QString stat6 = QStringLiteral("(max|min|verh|niz|T1|T2)");
    const QString stat4 = QStringLiteral("(max|verh|T1|T2)");
    const QString period = QStringLiteral(" - (сутки|интервал)");
    const char *pStats6 = "max min verh niz T1 T2";
    const char *pStats4 = "max verh T1 T2";
    const auto S16 = SExpectedField::Centi;
    QRegularExpressionMatch m;
    if ((m = Match(QStringLiteral("dU ") + PHASE + QLatin1Char(' ') + stat6 + period, strName))
            .hasMatch()) {
        const std::size_t nInterval = m.captured(3) == QStringLiteral("интервал") ? 12 : 0;
        return SExpectedField{24 * std::size_t(Phase(m.captured(1))) + nInterval
                                  + 2 * std::size_t(IndexOf(m.captured(2), pStats6)),
                              S16};
    }
    if ((m = Match(QStringLiteral("dF ") + stat6, strName)).hasMatch())
        return SExpectedField{144 + 2 * std::size_t(IndexOf(m.captured(1), pStats6)), S16};
    if ((m = Match(QStringLiteral("Ku(\\d+) ") + PHASE + QLatin1Char(' ') + stat4, strName))
            .hasMatch())
        return SExpectedField{156 + 312 * std::size_t(Phase(m.captured(2)))
                                  + 8 * std::size_t(m.captured(1).toInt() - 2)
                                  + 2 * std::size_t(IndexOf(m.captured(3), pStats4)),
                              S16};
    if ((m = Match(QStringLiteral("KU") + PHASE + QLatin1Char(' ') + stat4, strName)).hasMatch())
        return SExpectedField{2028 + 8 * std::size_t(Phase(m.captured(1)))
                                  + 2 * std::size_t(IndexOf(m.captured(2), pStats4)),
                              S16};
    if ((m = Match(QStringLiteral("K(0|2)U ") + stat4, strName)).hasMatch())
        return SExpectedField{(m.captured(1) == QStringLiteral("0") ? 2076u : 2084u)
                                  + 2 * std::size_t(IndexOf(m.captured(2), pStats4)),
                              S16};
    if ((m = Match(QStringLiteral("dT (Tprov|Tper) ") + PHASE + period, strName)).hasMatch())
        return SExpectedField{(m.captured(1) == QStringLiteral("Tprov") ? 2092u : 2140u)
                                  + 8 * std::size_t(Phase(m.captured(2)))
                                  + (m.captured(3) == QStringLiteral("интервал") ? 4 : 0),
                              SExpectedField::Fiftieths};
    if ((m = Match(QStringLiteral("dT (Work|Idle)") + period, strName)).hasMatch())
        return SExpectedField{(m.captured(1) == QStringLiteral("Work") ? 2188u : 2196u)
                                  + (m.captured(2) == QStringLiteral("интервал") ? 4 : 0),
                              SExpectedField::Duration};
    return std::nullopt;
}

// A buffer in which every field holds a value of its own, and the text that
// value must show and its exact text. Signs alternate so that sign
// extension is exercised too.
struct SStampedData {
    CBytes data;
    std::vector<QString> texts;    // by byte offset; empty where no field starts
    std::vector<QByteArray> exact; // by byte offset
};

QString Hundredths(int nRaw)
{
    const int nAbs = nRaw < 0 ? -nRaw : nRaw;
    return QStringLiteral("%1%2.%3")
        .arg(nRaw < 0 ? QStringLiteral("-") : QString())
        .arg(nAbs / 100)
        .arg(nAbs % 100, 2, 10, QLatin1Char('0'));
}

int AlternatingSign(std::size_t nIndex)
{
    const int n = int(nIndex) + 1;
    return nIndex % 2 ? -n : n;
}

SStampedData StampSecond()
{
    SStampedData s{CBytes(SECOND_DATA_SIZE), std::vector<QString>(SECOND_DATA_SIZE),
                   std::vector<QByteArray>(SECOND_DATA_SIZE)};
    for (std::size_t i = 0; i < SECOND_DATA_SIZE / 4; ++i) {
        const int nWhole = AlternatingSign(i); // raw nWhole * 1000 shows nWhole.00
        PutLe32(s.data, 4 * i, std::uint32_t(nWhole * 1000));
        s.texts[4 * i] = Hundredths(nWhole * 100);
        s.exact[4 * i] = QByteArray::number(nWhole) + ".000";
    }
    return s;
}

SStampedData StampMinute()
{
    SStampedData s{CBytes(MINUTE_DATA_SIZE), std::vector<QString>(MINUTE_DATA_SIZE),
                   std::vector<QByteArray>(MINUTE_DATA_SIZE)};
    for (std::size_t i = 0; i < MINUTE_DATA_SIZE / 2; ++i) {
        PutLe16(s.data, 2 * i, std::uint16_t(AlternatingSign(i)));
        s.texts[2 * i] = Hundredths(AlternatingSign(i));
        s.exact[2 * i] = s.texts[2 * i].toLatin1();
    }
    return s;
}

SStampedData StampDay()
{
    SStampedData s{CBytes(DAY_DATA_SIZE), std::vector<QString>(DAY_DATA_SIZE),
                   std::vector<QByteArray>(DAY_DATA_SIZE)};
    for (std::size_t i = 0; i < 2092 / 2; ++i) {
        PutLe16(s.data, 2 * i, std::uint16_t(AlternatingSign(i)));
        s.texts[2 * i] = Hundredths(AlternatingSign(i));
        s.exact[2 * i] = s.texts[2 * i].toLatin1();
    }
    for (std::size_t nOffset = 2092; nOffset < 2188; nOffset += 4) {
        PutLe32(s.data, nOffset, std::uint32_t(50 * nOffset + 49)); // shows the offset
        s.texts[nOffset] = QString::number(nOffset);
        s.exact[nOffset] = QByteArray::number(qulonglong(nOffset)) + ".98";
    }
    for (std::size_t nOffset = 2188; nOffset < DAY_DATA_SIZE; nOffset += 4) {
        PutLe32(s.data, nOffset, std::uint32_t(3600 * nOffset + 61)); // offset:01:01
        s.texts[nOffset] = QString::number(nOffset) + QStringLiteral(":01:01");
        s.exact[nOffset] = QByteArray::number(qulonglong(3600 * nOffset + 61));
    }
    return s;
}

using CDecoder = bool (*)(const std::uint8_t *, std::size_t, CListRows &);
using CExactValues = bool (*)(const std::uint8_t *, std::size_t, std::vector<QByteArray> &);
using CRowsMaker = CListRows (*)();
using COracle = std::optional<SExpectedField> (*)(const QString &);

struct SListCase {
    const char *pTitle;
    CDecoder decode;
    CExactValues exactValues;
    CRowsMaker makeRows;
    std::size_t nDataSize;
    std::size_t nNamedRows;
    SStampedData (*stamp)();
    COracle oracle;
};

const SListCase LIST_CASES[] = {
    {"second", DecodeSecond, SecondExactValues, SecondListRows, SECOND_DATA_SIZE, 259, StampSecond,
     [](const QString &s) { return SecondOrMinuteField(s, true); }},
    {"minute", DecodeMinute, MinuteExactValues, MinuteListRows, MINUTE_DATA_SIZE, 250, StampMinute,
     [](const QString &s) { return SecondOrMinuteField(s, false); }},
    {"day", DecodeDay, DayExactValues, DayListRows, DAY_DATA_SIZE, 1074, StampDay, DayField},
};

// Every named row shows the value of the field its name stands for, every
// field lands in exactly one row, and no blank row is written.
TEST(Decoders, EveryNamedRowShowsItsOwnField)
{
    for (const SListCase &c : LIST_CASES) {
        SCOPED_TRACE(c.pTitle);
        const SStampedData stamped = c.stamp();
        CListRows rows = c.makeRows();
        ASSERT_TRUE(c.decode(stamped.data.data(), stamped.data.size(), rows));

        std::set<std::size_t> usedOffsets;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const SListRow &row = rows[i];
            if (row.strName.isEmpty()) {
                EXPECT_TRUE(row.strValue.isEmpty()) << "blank row " << i;
                continue;
            }
            const std::optional<SExpectedField> field = c.oracle(row.strName);
            ASSERT_TRUE(field.has_value()) << "no field for " << row.strName.toStdString();
            EXPECT_EQ(row.strValue, stamped.texts.at(field->nOffset))
                << "row " << i << " " << row.strName.toStdString();
            EXPECT_TRUE(usedOffsets.insert(field->nOffset).second)
                << "field " << field->nOffset << " named twice";
        }
        EXPECT_EQ(usedOffsets.size(), c.nNamedRows);
        std::size_t nStampedFields = 0;
        for (const QString &strText : stamped.texts)
            nStampedFields += strText.isEmpty() ? 0 : 1;
        EXPECT_EQ(nStampedFields, c.nNamedRows); // so every field has its row
    }
}

// One field set in an otherwise zero reply: the named cases of the layout.
TEST(Decoders, SingleFieldLandsInItsRow)
{
    enum EWidth { W16 = 2, W32 = 4 };
    const struct {
        const SListCase &list;
        std::size_t nOffset;
        EWidth eWidth;
        std::uint32_t nRaw;
        int nRow;
        const char *pText;
    } cases[] = {
        {LIST_CASES[0], 0, W32, 1235, 1, "1.24"},
        {LIST_CASES[0], 24 + 156 + 4 * 8, W32, 15, 56, "0.02"}, // Ku10B
        {LIST_CASES[0], 992, W32, 230000, 259, "230.00"},       // U1
        {LIST_CASES[0], 996, W32, 50000, 262, "50.00"},         // F
        {LIST_CASES[0], 1024, W32, std::uint32_t(-5), 258, "-0.01"}, // U0
        {LIST_CASES[0], 1032, W32, std::uint32_t(-1235), 263, "-1.24"}, // dF
        {LIST_CASES[1], 498, W16, 0x8000, 260, "-327.68"},
        {LIST_CASES[1], 0, W16, 0xFFFF, 1, "-0.01"},
        {LIST_CASES[1], 496, W16, 5, 258, "0.05"},
        {LIST_CASES[1], 494, W16, 32767, 256, "327.67"},
        {LIST_CASES[2], 156, W16, 0xFFFF, 92, "-0.01"},
        {LIST_CASES[2], 2020, W16, 1, 1257, "0.01"},
        {LIST_CASES[2], 2022, W16, 2, 1258, "0.02"},
        {LIST_CASES[2], 2024, W16, 3, 1259, "0.03"},
        {LIST_CASES[2], 2026, W16, 4, 1260, "0.04"},
        {LIST_CASES[2], 2116, W32, 125, 1305, "2"},
        {LIST_CASES[2], 2120, W32, 49, 1312, "0"},
        {LIST_CASES[2], 2188, W32, 86400, 1330, "24:00:00"},
        {LIST_CASES[2], 2192, W32, 360000, 1331, "100:00:00"},
        {LIST_CASES[2], 2196, W32, 921600, 1333, "256:00:00"},
        {LIST_CASES[2], 2200, W32, 3661, 1334, "01:01:01"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.list.pTitle) + " offset " + std::to_string(c.nOffset));
        CBytes data(c.list.nDataSize);
        if (c.eWidth == W16)
            PutLe16(data, c.nOffset, std::uint16_t(c.nRaw));
        else
            PutLe32(data, c.nOffset, c.nRaw);
        CListRows rows = c.list.makeRows();
        ASSERT_TRUE(c.list.decode(data.data(), data.size(), rows));
        EXPECT_EQ(rows.at(std::size_t(c.nRow)).strValue, QLatin1String(c.pText));
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (int(i) == c.nRow || rows[i].strName.isEmpty())
                continue;
            const QString &v = rows[i].strValue;
            EXPECT_TRUE(v == QLatin1String("0.00") || v == QLatin1String("0")
                        || v == QLatin1String("00:00:00"))
                << "row " << i << " shows " << v.toStdString();
        }
    }
}

// The exact values come one per named row in list order, each from the
// field the row's name stands for.
TEST(Decoders, ExactValuesFollowTheNamedRows)
{
    for (const SListCase &c : LIST_CASES) {
        SCOPED_TRACE(c.pTitle);
        const SStampedData stamped = c.stamp();
        std::vector<QByteArray> values;
        ASSERT_TRUE(c.exactValues(stamped.data.data(), stamped.data.size(), values));
        ASSERT_EQ(values.size(), c.nNamedRows);
        std::size_t nValue = 0;
        for (const SListRow &row : c.makeRows()) {
            if (row.strName.isEmpty())
                continue;
            const std::optional<SExpectedField> field = c.oracle(row.strName);
            ASSERT_TRUE(field.has_value()) << row.strName.toStdString();
            EXPECT_EQ(values[nValue], stamped.exact.at(field->nOffset)) << row.strName.toStdString();
            ++nValue;
        }
    }
}

// One field set in an otherwise zero reply, for each kind of field: the
// exact text, at the meter's resolution, in the named row's place.
TEST(Decoders, ExactTextOfEachFieldKind)
{
    enum EWidth { W16 = 2, W32 = 4 };
    const struct {
        const SListCase &list;
        std::size_t nOffset;
        EWidth eWidth;
        std::uint32_t nRaw;
        int nRow;
        const char *pText;
    } cases[] = {
        {LIST_CASES[0], 0, W32, std::uint32_t(-1234), 1, "-1.234"},
        {LIST_CASES[0], 24 + 156 + 4 * 8, W32, 15, 56, "0.015"},              // Ku10B
        {LIST_CASES[0], 1020, W32, 0x80000000u, 270, "-2147483.648"},        // UCA, INT32_MIN
        {LIST_CASES[0], 1024, W32, 0x7FFFFFFFu, 258, "2147483.647"},         // U0
        {LIST_CASES[0], 1032, W32, std::uint32_t(-5), 263, "-0.005"},        // dF
        {LIST_CASES[1], 498, W16, 0x8000, 260, "-327.68"},                   // dF, INT16_MIN
        {LIST_CASES[1], 494, W16, 0x7FFF, 256, "327.67"},                    // K2
        {LIST_CASES[1], 0, W16, 0xFFFF, 1, "-0.01"},
        {LIST_CASES[1], 2, W16, std::uint16_t(-5), 2, "-0.05"},
        {LIST_CASES[1], 12, W16, 1234, 8, "12.34"},                          // Ku2A
        {LIST_CASES[1], 496, W16, std::uint16_t(-100), 258, "-1.00"},        // dU1
        {LIST_CASES[2], 156, W16, 0x8000, 92, "-327.68"},                    // Ku2 A max
        {LIST_CASES[2], 2026, W16, std::uint16_t(-7), 1260, "-0.07"},        // Ku40 CA T2
        {LIST_CASES[2], 2116, W32, 125, 1305, "2.50"},                       // Tprov AB, day
        {LIST_CASES[2], 2120, W32, 49, 1312, "0.98"},                        // Tprov AB, interval
        {LIST_CASES[2], 2092, W32, 0xFFFFFFFFu, 1302, "85899345.90"},
        {LIST_CASES[2], 2184, W32, 0x80000000u, 1328, "42949672.96"},        // Tper CA, interval
        {LIST_CASES[2], 2188, W32, 86400, 1330, "86400"},
        {LIST_CASES[2], 2196, W32, 921600, 1333, "921600"},
        {LIST_CASES[2], 2200, W32, 0xFFFFFFFFu, 1334, "4294967295"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.list.pTitle) + " offset " + std::to_string(c.nOffset));
        CBytes data(c.list.nDataSize);
        if (c.eWidth == W16)
            PutLe16(data, c.nOffset, std::uint16_t(c.nRaw));
        else
            PutLe32(data, c.nOffset, c.nRaw);
        std::vector<QByteArray> values;
        ASSERT_TRUE(c.list.exactValues(data.data(), data.size(), values));
        const CListRows rows = c.list.makeRows();
        ASSERT_EQ(values.size(), c.list.nNamedRows);
        std::size_t nValue = 0;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].strName.isEmpty())
                continue;
            const QByteArray &v = values[nValue++];
            if (int(i) == c.nRow) {
                EXPECT_EQ(v, QByteArray(c.pText)) << rows[i].strName.toStdString();
                continue;
            }
            EXPECT_TRUE(v == "0.000" || v == "0.00" || v == "0")
                << "row " << i << " " << rows[i].strName.toStdString() << " gives " << v.constData();
        }
    }
}

// A short reply, a missing buffer or a list of the wrong size leaves every
// row as it was, and gives no exact values.
TEST(Decoders, RefusedInputChangesNothing)
{
    for (const SListCase &c : LIST_CASES) {
        SCOPED_TRACE(c.pTitle);
        const SStampedData stamped = c.stamp();
        CListRows before = c.makeRows();
        for (SListRow &row : before)
            row.strValue = QStringLiteral("old");

        CListRows rows = before;
        EXPECT_FALSE(c.decode(stamped.data.data(), c.nDataSize - 1, rows));
        EXPECT_FALSE(c.decode(stamped.data.data(), 0, rows));
        EXPECT_FALSE(c.decode(nullptr, c.nDataSize, rows));
        for (std::size_t i = 0; i < rows.size(); ++i)
            ASSERT_EQ(rows[i].strValue, QStringLiteral("old")) << "row " << i;

        std::vector<QByteArray> values{"old"};
        EXPECT_FALSE(c.exactValues(stamped.data.data(), c.nDataSize - 1, values));
        EXPECT_FALSE(c.exactValues(nullptr, c.nDataSize, values));
        EXPECT_EQ(values, std::vector<QByteArray>{"old"});

        for (std::ptrdiff_t nDelta : {-1, 1}) {
            CListRows wrongSize = before;
            wrongSize.resize(std::size_t(std::ptrdiff_t(before.size()) + nDelta),
                             SListRow{QStringLiteral("extra"), QStringLiteral("old")});
            EXPECT_FALSE(c.decode(stamped.data.data(), stamped.data.size(), wrongSize));
            for (const SListRow &row : wrongSize)
                ASSERT_EQ(row.strValue, QStringLiteral("old"));
        }
    }
}

} // namespace
