// The report command in this process, with a PDF writer that keeps what it
// is given: what the PDF is told about itself (meter, title, limits file,
// logs, when and by which version).
#include "app/report_command.h"

#include "files/limits_file.h"
#include "files/report_test_logs.h"
#include "test_files.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

using TestFiles::PutFile;

// 2026-10-19T00:00:00+03:00, on a 10-minute tick of UTC.
constexpr qint64 T0 = 1792357200;

class ReportCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        // The window's limits file is made where the test says.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.filePath("config")));
        CTestLog log(EDataSet::Minute);
        for (int nMinute = 0; nMinute < 10; ++nMinute)
            log.Row(T0 + nMinute * 60, 3 * 3600);
        ASSERT_TRUE(QDir(m_dir.path()).mkpath("site-7/minute"));
        m_strLog = m_dir.filePath("site-7/minute/2026-10-19.csv");
        m_strOther = m_dir.filePath("site-7/minute/2026-10-20.csv");
        ASSERT_TRUE(PutFile(m_strLog, log.Bytes()) && PutFile(m_strOther, log.Bytes()));
    }
    void TearDown() override { qunsetenv("XDG_CONFIG_HOME"); }

    // The document the writer was given; exits with what the command returned.
    SReportDocument DocumentOf(const QStringList &args, int &nExit)
    {
        SReportDocument given;
        nExit = RunReportCommand(QStringList{"varik-report", "report", "--pdf", m_dir.filePath("r.pdf")} + args,
                                 [&given](const SSupplyReport &, const SReportDocument &document, const QString &,
                                          QString &) {
                                     given = document;
                                     return true;
                                 });
        return given;
    }

    QTemporaryDir m_dir;
    QString m_strLog;
    QString m_strOther;
};

TEST_F(ReportCommandTest, ThePdfIsToldItsMeterTitleLimitsLogsDateAndVersion)
{
    const QString strLimits = m_dir.filePath("limits.txt");
    ASSERT_TRUE(PutFile(strLimits, "dU = -8 .. 8\n"));
    const struct {
        const char *pName;
        QStringList args;
        SReportDocument expected; // made aside
        QTimeZone zone;
    } cases[] = {
        {"the defaults", {m_strLog}, {"", "site-7", WindowLimitsPath(), {m_strLog}, {}, VARIK_VERSION},
         QTimeZone::systemTimeZone()},
        {"each given",
         {"--title", "Договор 17", "--meter", "ТП-7, ввод 1", "--limits", strLimits, "--tz", "UTC+05:00", m_strOther,
          m_strLog},
         {"Договор 17", "ТП-7, ввод 1", strLimits, {m_strOther, m_strLog}, {}, VARIK_VERSION},
         QTimeZone(5 * 3600)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.pName);
        int nExit = -1;
        const QDateTime before = QDateTime::currentDateTime();
        const SReportDocument document = DocumentOf(c.args, nExit);
        const QDateTime after = QDateTime::currentDateTime();
        EXPECT_EQ(nExit, 0);
        EXPECT_EQ(document.strTitle, c.expected.strTitle);
        EXPECT_EQ(document.strMeter, c.expected.strMeter);
        EXPECT_EQ(document.strLimitsFile, c.expected.strLimitsFile);
        EXPECT_EQ(document.logs, c.expected.logs);
        EXPECT_EQ(document.strVersion, c.expected.strVersion);
        EXPECT_TRUE(document.made >= before && document.made <= after) << document.made.toString().toStdString();
        EXPECT_EQ(document.made.offsetFromUtc(), c.zone.offsetFromUtc(after));
    }
}

} // namespace
