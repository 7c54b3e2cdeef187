// The published JSON: valid for any JSON reader, the named rows in list
// order, each value byte for byte the text of the CSV log, names escaped.
#include "data/reading_json.h"

#include "data/csv_log.h"
#include "sim/meter_values.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <vector>

namespace {

const char *const kTime = "2026-12-10T14:03:07+03:00";

std::vector<QByteArray> SimValues(EDataSet eSet, double t)
{
    const QByteArray data = eSet == EDataSet::Second   ? SimSecondData(t)
                            : eSet == EDataSet::Minute ? SimMinuteData(t)
                                                       : SimDayData(t);
    std::vector<QByteArray> values;
    EXPECT_TRUE(DataSetOf(eSet).pExactValues(reinterpret_cast<const std::uint8_t *>(data.constData()),
                                             std::size_t(data.size()), values));
    return values;
}

QJsonObject ParsedObject(const QByteArray &json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << " at " << error.offset;
    EXPECT_TRUE(document.isObject());
    return document.object();
}

// For every set, a reading of the simulator read back: the header fields,
// then in the raw text each named row's key in list order followed by the
// very bytes of its CSV column (a parsed double would hide a changed text).
TEST(ReadingJson, EachSetParsesBackWithTheCsvTextsInListOrder)
{
    const QString strMeter = QStringLiteral("ввод \"1\"\\\n");
    for (const EDataSet eSet : {EDataSet::Second, EDataSet::Minute, EDataSet::Day}) {
        SCOPED_TRACE(int(eSet));
        const std::vector<QByteArray> values = SimValues(eSet, 1234.0);
        const QByteArray json = ReadingJson(kTime, strMeter, 12, 2, eSet, values);
        EXPECT_FALSE(json.contains('\n'));

        const QJsonObject object = ParsedObject(json);
        EXPECT_EQ(object.keys(), (QStringList{QStringLiteral("device"), QStringLiteral("feeder"),
                                              QStringLiteral("meter"), QStringLiteral("time"),
                                              QStringLiteral("values")}));
        EXPECT_EQ(object.value(QStringLiteral("time")).toString(), QString::fromLatin1(kTime));
        EXPECT_EQ(object.value(QStringLiteral("meter")).toString(), strMeter);
        EXPECT_EQ(object.value(QStringLiteral("device")).toInteger(), 12);
        EXPECT_EQ(object.value(QStringLiteral("feeder")).toInteger(), 2);
        const QJsonObject parsedValues = object.value(QStringLiteral("values")).toObject();

        const QList<QByteArray> names = CsvHeader(eSet).chopped(1).split(',').mid(1);
        const QList<QByteArray> columns = CsvRow(0, 0, values).chopped(1).split(',').mid(1);
        ASSERT_EQ(names.size(), columns.size());
        EXPECT_EQ(parsedValues.size(), names.size());

        const QByteArray valuesKey = "\"values\":{";
        qsizetype nPos = json.indexOf(valuesKey);
        ASSERT_GT(nPos, 0);
        nPos += valuesKey.size();
        for (qsizetype i = 0; i < names.size(); ++i) {
            SCOPED_TRACE(names[i].toStdString());
            // The names hold no quote or backslash (the CSV header checks), so
            // each key is the name in quotes.
            const QByteArray key = '"' + names[i] + "\":";
            ASSERT_EQ(json.mid(nPos, key.size()), key);
            nPos += key.size();
            const qsizetype nEnd = json.indexOf(i + 1 < names.size() ? ',' : '}', nPos);
            ASSERT_GT(nEnd, nPos);
            EXPECT_EQ(json.mid(nPos, nEnd - nPos), columns[i]);
            EXPECT_TRUE(parsedValues.value(QString::fromUtf8(names[i])).isDouble());
            nPos = nEnd + 1;
        }
        EXPECT_EQ(json.mid(nPos), "}");
    }
}

TEST(ReadingJson, IsCompactWithTheHeaderFieldsFirst)
{
    const std::vector<QByteArray> values = SimValues(EDataSet::Minute, 0.0);
    const QByteArray json = ReadingJson(kTime, QStringLiteral("vvod1"), 12, 1, EDataSet::Minute, values);
    EXPECT_TRUE(json.startsWith("{\"time\":\"2026-12-10T14:03:07+03:00\",\"meter\":\"vvod1\",\"device\":12,"
                                "\"feeder\":1,\"values\":{\"dUA\":" + values.front() + ",\"dUB\":"))
        << json.left(120).constData();
    EXPECT_TRUE(json.endsWith(",\"dF\":" + values.back() + "}}")) << json.right(60).constData();
    EXPECT_FALSE(json.contains(' '));
}

// The day list's names have blanks and Cyrillic letters: UTF-8 as they are.
TEST(ReadingJson, DayNamesStayUtf8)
{
    const std::vector<QByteArray> values = SimValues(EDataSet::Day, 0.0);
    const QByteArray json = ReadingJson(kTime, QStringLiteral("vvod1"), 1, 1, EDataSet::Day, values);
    EXPECT_TRUE(json.contains("{\"dU A max - сутки\":" + values.front() + ','));
    EXPECT_TRUE(json.endsWith(",\"dT Idle - интервал\":" + values.back() + "}}"));
}

TEST(ReadingJson, WrongCountOfValuesGivesNothing)
{
    std::vector<QByteArray> values = SimValues(EDataSet::Second, 0.0);
    values.pop_back();
    EXPECT_TRUE(ReadingJson(kTime, QStringLiteral("m"), 1, 1, EDataSet::Second, values).isEmpty());
    EXPECT_TRUE(ReadingJson(kTime, QStringLiteral("m"), 1, 1, EDataSet::Minute, {}).isEmpty());
    values = SimValues(EDataSet::Second, 0.0);
    EXPECT_TRUE(ReadingJson(kTime, QStringLiteral("m"), 1, 1, EDataSet::Minute, values).isEmpty());
}

TEST(ReadingJson, StringsAreEscapedAndReadBackAsTheyWere)
{
    const struct {
        const char *pName;
        QString strText;
        QByteArray json;
    } cases[] = {
        {"Empty", QString(), "\"\""},
        {"Plain", QStringLiteral("vvod1"), "\"vvod1\""},
        {"Quote", QStringLiteral("a\"b"), "\"a\\\"b\""},
        {"Backslash", QStringLiteral("a\\b\\"), "\"a\\\\b\\\\\""},
        {"Controls", QString::fromLatin1("\n\t\r\x01\x1f", 5) + QChar(0),
         "\"\\u000a\\u0009\\u000d\\u0001\\u001f\\u0000\""},
        {"DeleteIsNotAControlForJson", QStringLiteral("a\x7f"), "\"a\x7f\""},
        {"SlashStays", QStringLiteral("a/b"), "\"a/b\""},
        {"Cyrillic", QStringLiteral("ввод 2"), "\"ввод 2\""},
        {"OutsideTheBasicPlane", QStringLiteral("⚡\U0001F50C"), "\"⚡\U0001F50C\""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        const QByteArray json = JsonString(c.strText);
        EXPECT_EQ(json, c.json);
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson('[' + json + ']', &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
        EXPECT_EQ(document.array().at(0).toString(), c.strText);
    }
}

TEST(StateJson, IsCompactAndParsesBack)
{
    SStateJson state;
    state.state = "silent";
    state.since = kTime;
    state.strMessage = QStringLiteral("Прибор не отвечает: \"12\"\n");
    state.nReads = 9'007'199'254'740'993; // past a double's exact integers: the text keeps it
    state.nFailures = 3;
    state.nDropped = 0;
    const QByteArray json = StateJson(state);
    EXPECT_EQ(json, "{\"state\":\"silent\",\"since\":\"2026-12-10T14:03:07+03:00\","
                    "\"message\":\"Прибор не отвечает: \\\"12\\\"\\u000a\",\"reads\":9007199254740993,"
                    "\"failures\":3,\"dropped\":0}");
    const QJsonObject object = ParsedObject(json);
    EXPECT_EQ(object.value(QStringLiteral("state")).toString(), QStringLiteral("silent"));
    EXPECT_EQ(object.value(QStringLiteral("message")).toString(), state.strMessage);
    EXPECT_EQ(object.value(QStringLiteral("failures")).toInteger(), 3);

    EXPECT_EQ(StateJson({"ok", kTime, QString(), 1, 0, 0}),
              "{\"state\":\"ok\",\"since\":\"2026-12-10T14:03:07+03:00\",\"message\":\"\",\"reads\":1,"
              "\"failures\":0,\"dropped\":0}");
}

} // namespace
