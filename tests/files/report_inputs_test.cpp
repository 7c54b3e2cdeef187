// Logs as they come back from a spreadsheet: read as they are where only the
// line ends and the byte order mark differ, refused with words that say
// what is wrong where the separators or the numbers do; and logs with no row
// to read at all.
#include "files/report_logs.h"

#include "files/report_test_logs.h"
#include "test_files.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using TestFiles::PutFile;

// 2026-10-19T00:00:00+03:00, on a 10-minute tick of UTC.
constexpr qint64 T0 = 1792357200;
constexpr int EAST3 = 3 * 3600;

const QByteArray BOM = QByteArrayLiteral("\xEF\xBB\xBF");

// Three intervals of minute rows, dUB beyond its band in the second and a
// broken line in the third: verdicts, counts and a named bad row to compare.
QByteArray PlainLog()
{
    CTestLog log(EDataSet::Minute);
    for (int nMinute = 0; nMinute < 30; ++nMinute) {
        if (nMinute == 25)
            log.Line("broken");
        log.Row(T0 + nMinute * 60, EAST3,
                {{"dUA", "-1.25"}, {"dUB", nMinute >= 10 && nMinute < 20 ? "11.00" : "0.50"}, {"dF", "0.02"}});
    }
    return log.Bytes();
}

QByteArray WithCrLf(QByteArray bytes)
{
    return bytes.replace("\n", "\r\n");
}

// As a spreadsheet in a Russian locale saves it: ';' between fields and
// decimal commas.
QByteArray WithSemicolons(QByteArray bytes)
{
    return bytes.replace(',', ';').replace('.', ',');
}

// As a spreadsheet saves it keeping ',' between fields: every number with a
// fraction written with a comma, and so quoted.
QByteArray WithQuotedDecimalCommas(const QByteArray &bytes)
{
    static const QRegularExpression kDecimal(QStringLiteral("(-?\\d+)\\.(\\d+)"));
    return QString::fromUtf8(bytes).replace(kDecimal, QStringLiteral("\"\\1,\\2\"")).toUtf8();
}

class ReportInputsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    SReportOutcome ReportOf(const QByteArray &bytes, const QString &strName = QStringLiteral("log.csv"))
    {
        const QString strPath = m_dir.filePath(strName);
        EXPECT_TRUE(PutFile(strPath, bytes));
        SReportRequest request;
        request.logs = {strPath};
        return MakeReport(request);
    }

    QTemporaryDir m_dir;
};

TEST_F(ReportInputsTest, ASpreadsheetsLineEndsAndByteOrderMarkAreReadAsThePlainLog)
{
    const SReportOutcome plain = ReportOf(PlainLog(), QStringLiteral("plain.csv"));
    ASSERT_EQ(plain.eFailure, EReportFailure::None) << plain.strError.toStdString();
    ASSERT_EQ(plain.report.nRowsRead, 30);
    ASSERT_EQ(plain.report.nBadRows, 1);
    const QByteArray plainSummary = ReportSummaryCsv(plain.report);
    ASSERT_TRUE(plainSummary.contains(",fail")) << "the log has a failed row to compare";

    const struct {
        const char *pName;
        QByteArray bytes;
    } cases[] = {
        {"a byte order mark", BOM + PlainLog()},
        {"CR LF line ends", WithCrLf(PlainLog())},
        {"both", BOM + WithCrLf(PlainLog())},
        {"CR LF and no line feed after the last row", WithCrLf(PlainLog()).chopped(1)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        const SReportOutcome outcome = ReportOf(c.bytes, QStringLiteral("plain.csv"));
        ASSERT_EQ(outcome.eFailure, EReportFailure::None) << outcome.strError.toStdString();
        EXPECT_EQ(outcome.report.nRowsRead, plain.report.nRowsRead);
        EXPECT_EQ(outcome.report.nBadRows, plain.report.nBadRows);
        ASSERT_EQ(outcome.report.firstBadRows.size(), 1u);
        EXPECT_EQ(outcome.report.firstBadRows[0].nLine, plain.report.firstBadRows.at(0).nLine);
        EXPECT_EQ(ReportSummaryCsv(outcome.report), plainSummary);
    }
}

TEST_F(ReportInputsTest, FilesThatAreNoLogToReadAreRefusedSayingWhy)
{
    CTestLog dayHeader(EDataSet::Day);
    CTestLog headerOnly(EDataSet::Minute);
    // The times rewritten as a spreadsheet shows them.
    QByteArray rewritten = CsvHeader(EDataSet::Minute);
    for (int nMinute = 0; nMinute < 3; ++nMinute)
        rewritten += "19.10.2026 00:0" + QByteArray::number(nMinute) + QByteArray(",0").repeated(250) + '\n';
    const struct {
        const char *pName;
        QByteArray bytes;
        EReportFailure eFailure;
        const char *pSaid; // a regular expression over the message
    } cases[] = {
        {"';' between the fields", WithSemicolons(PlainLog()), EReportFailure::SemicolonSeparated,
         "log\\.csv: поля разделены «;», как их сохраняет табличный редактор; отчёт читает журнал CSV, каким его "
         "пишет Varik"},
        {"';' with CR LF and a byte order mark", BOM + WithCrLf(WithSemicolons(PlainLog())),
         EReportFailure::SemicolonSeparated, "поля разделены «;»"},
        {"decimal commas", WithQuotedDecimalCommas(PlainLog()), EReportFailure::DecimalCommas,
         "log\\.csv, строка 2: числа записаны с десятичной запятой, как их сохраняет табличный редактор"},
        {"another header keeps its words", dayHeader.Bytes(), EReportFailure::NotALog,
         "log\\.csv: не журнал CSV списка «Секунда» или «Минута»: первая строка не заголовок такого журнала$"},
        {"no row after the header", headerOnly.Bytes(), EReportFailure::NoReadableRow,
         "^Ни одна строка журналов не читается; отчёт не составлен\\.\\n.*log\\.csv: после заголовка строк нет$"},
        {"no row whose time can be read", rewritten, EReportFailure::NoReadableRow,
         "\\n.*log\\.csv, строка 2: «19\\.10\\.2026 00:00,0,0,0,.*…»$"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        const SReportOutcome outcome = ReportOf(c.bytes);
        EXPECT_EQ(outcome.eFailure, c.eFailure);
        EXPECT_TRUE(outcome.strError.contains(QRegularExpression(QString::fromUtf8(c.pSaid))))
            << outcome.strError.toStdString();
    }
}

// Every log is named with its first line that is no row; a log with rows
// outside the period has rows, and one readable log is enough.
TEST_F(ReportInputsTest, NoRowInAnyLogNamesEachLogsFirstBadLine)
{
    CTestLog broken(EDataSet::Minute);
    broken.Row(T0, EAST3);
    broken.Line("broken");
    QByteArray onlyBroken = CsvHeader(EDataSet::Minute) + "first\nsecond\n";
    const QString strGood = m_dir.filePath("good.csv");
    const QString strBad = m_dir.filePath("bad.csv");
    const QString strEmpty = m_dir.filePath("empty.csv");
    ASSERT_TRUE(PutFile(strGood, broken.Bytes()));
    ASSERT_TRUE(PutFile(strBad, onlyBroken));
    ASSERT_TRUE(PutFile(strEmpty, CsvHeader(EDataSet::Minute)));

    SReportRequest request;
    request.logs = {strBad, strEmpty};
    SReportOutcome outcome = MakeReport(request);
    EXPECT_EQ(outcome.eFailure, EReportFailure::NoReadableRow);
    EXPECT_EQ(outcome.strError.split(u'\n').mid(1),
              (QStringList{QDir::toNativeSeparators(strBad) + QStringLiteral(", строка 2: «first»"),
                           QDir::toNativeSeparators(strEmpty) + QStringLiteral(": после заголовка строк нет")}));

    // Of a year of logs, ten are named.
    request.logs.clear();
    for (int i = 0; i < 12; ++i)
        request.logs.append(strEmpty);
    outcome = MakeReport(request);
    EXPECT_EQ(outcome.eFailure, EReportFailure::NoReadableRow);
    const QStringList lines = outcome.strError.split(u'\n');
    EXPECT_EQ(lines.size(), 12);
    EXPECT_EQ(lines.value(10), QDir::toNativeSeparators(strEmpty) + QStringLiteral(": после заголовка строк нет"));
    EXPECT_EQ(lines.value(11), QStringLiteral("и ещё журналов: 2"));

    request.logs = {strBad, strGood, strEmpty};
    outcome = MakeReport(request);
    EXPECT_EQ(outcome.eFailure, EReportFailure::None) << outcome.strError.toStdString();
    EXPECT_EQ(outcome.report.nBadRows, 3);

    request.logs = {strGood};
    request.from = QDate(2026, 11, 2);
    request.to = QDate(2026, 11, 8);
    outcome = MakeReport(request);
    EXPECT_EQ(outcome.eFailure, EReportFailure::None) << "a row outside the period is read: "
                                                      << outcome.strError.toStdString();
}

} // namespace
